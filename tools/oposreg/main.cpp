// oposreg: inspects and edits the OPOS registry store from the shell.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/oposreg/command_line.h"
#include "tools/oposreg/commands.h"
#include "tools/oposreg/store_access.h"

namespace {

using opossvc::oposreg::Invocation;

int Dispatch(const Invocation& invocation) {
  using namespace opossvc::oposreg;
  struct Entry {
    const char* name;
    int (*run)(const Invocation&);
  };
  static const Entry kTable[] = {
      {"import", RunImport}, {"export", RunExport}, {"tree", RunTree}, {"list", RunTree},
      {"get", RunGet},       {"set", RunSet},       {"delete", RunDelete},
      {"devices", RunDevices}, {"ports", RunPorts}, {"check", RunCheck},
  };
  for (const Entry& entry : kTable) {
    if (invocation.command == entry.name) return entry.run(invocation);
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace opossvc::oposreg;
  Invocation invocation;
  std::string error;
  if (!ParseCommandLine(argc, argv, &invocation, &error)) {
    Complain(error);
    std::fputs(UsageText(invocation.command).c_str(), stderr);
    return kExitUsage;
  }
  if (invocation.version) {
    std::printf("oposreg %s\n", OPOSREG_VERSION);
    return kExitOk;
  }
  if (invocation.command.empty()) {
    std::fputs(UsageText("").c_str(), invocation.help ? stdout : stderr);
    return invocation.help ? kExitOk : kExitUsage;
  }
  if (invocation.command == "help") {
    std::string topic = invocation.args.empty() ? "" : invocation.args[0];
    std::string text = UsageText(topic);
    std::fputs((text.empty() ? UsageText("") : text).c_str(), stdout);
    return kExitOk;
  }
  size_t min_args = 0, max_args = 0;
  if (!KnownCommand(invocation.command, &min_args, &max_args)) {
    Complain("unknown command \"" + invocation.command + "\"");
    std::fputs(UsageText("").c_str(), stderr);
    return kExitUsage;
  }
  if (invocation.help) {
    std::fputs(UsageText(invocation.command).c_str(), stdout);
    return kExitOk;
  }
  if (invocation.args.size() < min_args || invocation.args.size() > max_args) {
    Complain(invocation.args.size() < min_args ? "too few arguments" : "too many arguments");
    std::fputs(UsageText(invocation.command).c_str(), stderr);
    return kExitUsage;
  }
  if (!OptionsFit(invocation, &error)) {
    Complain(error);
    return kExitUsage;
  }
  std::string root_error;
  if (!invocation.root.empty() && !UseStoreRoot(invocation.root, &root_error)) {
    Complain(root_error);
    return kExitUsage;
  }
  return Dispatch(invocation);
}
