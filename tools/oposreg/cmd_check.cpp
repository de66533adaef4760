// oposreg check [--json] CLASS DEVICE | CLASS\DEVICE | NAME
#include <cstdio>

#include "tools/oposreg/commands.h"
#include "tools/oposreg/device_check.h"
#include "tools/oposreg/json_writer.h"
#include "tools/oposreg/value_text.h"

namespace opossvc::oposreg {
namespace {

const char* ResultName(StepResult result) {
  switch (result) {
    case StepResult::kPass: return "pass";
    case StepResult::kFail: return "fail";
    case StepResult::kSkipped: break;
  }
  return "skipped";
}

void PrintJson(const std::string& cls, const std::string& name,
               const std::vector<CheckStep>& steps) {
  JsonWriter json;
  json.BeginObject();
  json.Member("class", cls);
  json.Member("name", name);
  json.Key("passed");
  json.Bool(FirstFailure(steps).empty());
  json.Key("steps");
  json.BeginArray();
  for (const CheckStep& step : steps) {
    json.BeginObject();
    json.Member("step", step.id);
    json.Member("result", ResultName(step.result));
    json.Member("detail", step.detail);
    if (!step.fix.empty()) json.Member("fix", step.fix);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  std::fputs(json.Text().c_str(), stdout);
}

void PrintText(const std::vector<CheckStep>& steps) {
  for (const CheckStep& step : steps) {
    const char* mark = step.result == StepResult::kPass   ? "ok  "
                       : step.result == StepResult::kFail ? "FAIL"
                                                          : "--  ";
    std::printf("%s  %-19s %s\n", mark, step.title,
                step.result == StepResult::kSkipped ? "not checked" : Escaped(step.detail).c_str());
    if (!step.fix.empty()) std::printf("      %-19s %s\n", "fix:", Escaped(step.fix).c_str());
  }
}

}  // namespace

std::string FirstFailure(const std::vector<CheckStep>& steps) {
  for (const CheckStep& step : steps) {
    if (step.result == StepResult::kFail) return step.id;
  }
  return "";
}

int RunCheck(const Invocation& invocation) {
  std::string cls, name;
  if (invocation.args.size() == 2) {
    cls = invocation.args[0];
    name = invocation.args[1];
  } else if (size_t slash = invocation.args[0].find('\\'); slash != std::string::npos) {
    cls = invocation.args[0].substr(0, slash);
    name = invocation.args[0].substr(slash + 1);
  } else {
    name = invocation.args[0];
  }
  const std::vector<CheckStep> steps = CheckDevice(cls, name);
  if (invocation.json) {
    PrintJson(cls, name, steps);
  } else {
    PrintText(steps);
  }
  return FirstFailure(steps).empty() ? kExitOk : kExitFailure;
}

}  // namespace opossvc::oposreg
