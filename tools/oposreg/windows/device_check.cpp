// oposreg check on Windows: the steps from the name to a working line are
// those of a Linux till (SERIALCOMM to a device node, its permissions and
// holders); on Windows one failed step says so rather than a wrong answer.
#include "tools/oposreg/device_check.h"

namespace opossvc::oposreg {

std::vector<CheckStep> CheckDevice(const std::string& /*device_class*/,
                                   const std::string& /*name*/) {
  CheckStep step;
  step.id = "platform";
  step.title = "platform";
  step.result = StepResult::kFail;
  step.detail = "the device check runs on Linux only";
  step.fix = "check the device with the Windows device manager and the port's own settings";
  return {step};
}

}  // namespace opossvc::oposreg
