// The command line of oposreg:
//
//   oposreg [--root DIR] COMMAND [OPTIONS] [ARGUMENTS]
//   oposreg --version
//
// Options may stand anywhere after the program name; "--" ends them. Each
// command takes only its own options (OptionsFit). Exit status: 0 success,
// 1 failure, 2 a usage error.
#ifndef OPOSSVC_TOOLS_OPOSREG_COMMAND_LINE_H_
#define OPOSSVC_TOOLS_OPOSREG_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace opossvc::oposreg {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Invocation {
  std::string command;             // "" when none was given
  std::vector<std::string> args;   // the operands after the command
  std::string root;                // --root DIR, "" when not given
  std::string dev_dir = "/dev";    // ports: --dev DIR, where to look
  std::string remove;              // ports: --remove COMn, "" when not given
  bool help = false;               // --help / -h
  bool version = false;            // --version
  bool write = false;              // ports: --write
  bool json = false;               // get, tree, list, devices, ports, check: --json
  bool force = false;              // export: --force, overwrite FILE
  bool yes = false;                // delete: --yes, no question asked
};

// Parses argv; false with a message in `error` for an unknown option or a
// missing option argument.
bool ParseCommandLine(int argc, const char* const* argv, Invocation* invocation,
                      std::string* error);

// Whether every option given belongs to the command; false with a message
// in `error` otherwise.
bool OptionsFit(const Invocation& invocation, std::string* error);

// The usage text of a command ("" for the whole tool), or "" for a command
// that does not exist.
std::string UsageText(const std::string& command);

// Whether `command` exists, and how many operands it takes.
bool KnownCommand(const std::string& command, size_t* min_args, size_t* max_args);

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_COMMAND_LINE_H_
