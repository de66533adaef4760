// oposreg check: a device followed from its name to a working line, one
// step after the other. Each step passes or fails with what it found and,
// when it fails, how to mend it; the steps after a failed one are skipped,
// since each needs what the ones before it found.
#ifndef OPOSSVC_TOOLS_OPOSREG_DEVICE_CHECK_H_
#define OPOSSVC_TOOLS_OPOSREG_DEVICE_CHECK_H_

#include <string>
#include <vector>

namespace opossvc::oposreg {

enum class StepResult { kPass, kFail, kSkipped };

struct CheckStep {
  const char* id = "";     // stable, for scripts: "logical-name", "device-key", ...
  const char* title = "";  // for people: "logical name", "device key", ...
  StepResult result = StepResult::kSkipped;
  std::string detail;  // what was found
  std::string fix;     // for a failed step: what to do
};

// The steps, in order: logical-name, device-key, service-object, port-name,
// device-path, node, permission, holder, open, power. `device_class` "" looks
// for `name` (a device key or a logical name) in every class.
std::vector<CheckStep> CheckDevice(const std::string& device_class, const std::string& name);

// The id of the first step that failed, "" when every step passed.
std::string FirstFailure(const std::vector<CheckStep>& steps);

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_DEVICE_CHECK_H_
