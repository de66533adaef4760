// The commands of oposreg. Each takes the parsed command line (the operands
// already counted), prints its results on standard output and its
// complaints on standard error, and returns the exit status.
#ifndef OPOSSVC_TOOLS_OPOSREG_COMMANDS_H_
#define OPOSSVC_TOOLS_OPOSREG_COMMANDS_H_

#include "tools/oposreg/command_line.h"

namespace opossvc::oposreg {

int RunImport(const Invocation& invocation);
int RunExport(const Invocation& invocation);
int RunTree(const Invocation& invocation);
int RunGet(const Invocation& invocation);
int RunSet(const Invocation& invocation);
int RunDelete(const Invocation& invocation);
int RunDevices(const Invocation& invocation);
int RunPorts(const Invocation& invocation);
int RunCheck(const Invocation& invocation);

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_COMMANDS_H_
