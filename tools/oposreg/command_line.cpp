#include "tools/oposreg/command_line.h"

#include <cctype>

namespace opossvc::oposreg {
namespace {

struct CommandInfo {
  const char* name;
  size_t min_args;
  size_t max_args;
  const char* usage;
};

const CommandInfo kCommands[] = {
    {"import", 1, 1,
     "usage: oposreg import FILE.reg\n"
     "Imports a registry file (REGEDIT4, or \"Windows Registry Editor Version 5.00\" in\n"
     "UTF-16 or UTF-8) into the OPOS database (HKLM\\SOFTWARE\\OLEforRetail, also as\n"
     "HKLM\\SOFTWARE\\WOW6432Node\\OLEforRetail) and the serial-port map\n"
     "(HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM). Each section writes the key it names;\n"
     "[-KEY] deletes a key and \"NAME\"=- a value. Every line that fails is shown as\n"
     "FILE:LINE: reason, and the exit status is 1 when any did.\n"},
    {"export", 0, 2,
     "usage: oposreg export [KEY] [FILE]\n"
     "Writes KEY (default HKLM\\SOFTWARE\\OLEforRetail) and everything below it as a\n"
     "REGEDIT4 file to FILE, or to standard output when FILE is missing or \"-\".\n"
     "Writes nothing when an import would not give something back as it is (a\n"
     "name with a line break, a type other than REG_SZ, REG_DWORD or REG_BINARY,\n"
     "...), and never into the registry store's own files.\n"},
    {"tree", 0, 1,
     "usage: oposreg tree [KEY]\n"
     "Shows KEY (default HKLM\\SOFTWARE\\OLEforRetail), its sub-keys and their values.\n"},
    {"list", 0, 1,
     "usage: oposreg list [KEY]\n"
     "The same as \"oposreg tree\".\n"},
    {"get", 1, 2,
     "usage: oposreg get KEY [VALUE]\n"
     "Prints the data of VALUE (\"@\" for the default value), or every value of KEY.\n"},
    {"set", 4, 4,
     "usage: oposreg set KEY VALUE TYPE DATA\n"
     "Writes VALUE (\"@\" for the default value) of KEY, creating the key when missing.\n"
     "TYPE: REG_SZ (text), REG_DWORD (decimal, or hexadecimal with 0x), REG_BINARY\n"
     "(hexadecimal bytes such as 01,02,ff); \"sz\", \"dword\", \"binary\" work too.\n"},
    {"delete", 1, 2,
     "usage: oposreg delete KEY [VALUE]\n"
     "Deletes VALUE (\"@\" for the default value) of KEY, or KEY with everything below.\n"},
    {"devices", 0, 1,
     "usage: oposreg devices [CLASS]\n"
     "Lists the OPOS devices of every class (or of CLASS) with their logical names,\n"
     "service object, port and settings.\n"},
    {"ports", 0, 0,
     "usage: oposreg ports [--write] [--dev DIR]\n"
     "Finds serial devices (ttyS, ttyUSB, ttyACM, serial/by-id) and shows the COM\n"
     "name of each. USB adapters are named by their /dev/serial/by-id path, so a\n"
     "COM name stays with its adapter across reboots. --write records new names in\n"
     "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM; names already recorded are kept.\n"
     "--dev DIR looks in DIR instead of /dev.\n"},
};

constexpr char kToolUsage[] =
    "usage: oposreg [--root DIR] COMMAND [ARGUMENTS]\n"
    "Inspects and edits the OPOS registry store ($OPOS_ROOT/registry.db, default\n"
    "/var/lib/opos; --root DIR stands for OPOS_ROOT=DIR).\n"
    "\n"
    "commands:\n"
    "  import FILE.reg            import a registry file (REGEDIT4 or version 5)\n"
    "  export [KEY] [FILE]        write keys as a REGEDIT4 file\n"
    "  tree [KEY], list [KEY]     show keys and values\n"
    "  get KEY [VALUE]            print a value, or every value of a key\n"
    "  set KEY VALUE TYPE DATA    write a value\n"
    "  delete KEY [VALUE]         delete a value, or a key with everything below\n"
    "  devices [CLASS]            list the OPOS devices\n"
    "  ports [--write]            find serial devices and their COM names\n"
    "\n"
    "KEY is HKEY_LOCAL_MACHINE\\... or HKLM\\... (quote the backslashes in the shell).\n"
    "\"oposreg COMMAND --help\" describes a command.\n";

const CommandInfo* Find(const std::string& command) {
  for (const CommandInfo& info : kCommands) {
    if (command == info.name) return &info;
  }
  return nullptr;
}

}  // namespace

bool KnownCommand(const std::string& command, size_t* min_args, size_t* max_args) {
  const CommandInfo* info = Find(command);
  if (!info) return false;
  *min_args = info->min_args;
  *max_args = info->max_args;
  return true;
}

std::string UsageText(const std::string& command) {
  if (command.empty()) return kToolUsage;
  const CommandInfo* info = Find(command);
  return info ? info->usage : "";
}

bool ParseCommandLine(int argc, const char* const* argv, Invocation* invocation,
                      std::string* error) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    // "-1" is data (set ... REG_DWORD -1), not an option.
    bool is_option = !options_done && arg.size() > 1 && arg[0] == '-' &&
                     !std::isdigit(static_cast<unsigned char>(arg[1]));
    if (!is_option) {
      if (invocation->command.empty()) {
        invocation->command = arg;
      } else {
        invocation->args.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      options_done = true;
    } else if (arg == "--help" || arg == "-h") {
      invocation->help = true;
    } else if (arg == "--write") {
      invocation->write = true;
    } else if (arg == "--root" || arg == "--dev") {
      if (i + 1 >= argc) {
        *error = "option " + arg + " needs a directory";
        return false;
      }
      (arg == "--root" ? invocation->root : invocation->dev_dir) = argv[++i];
    } else if (arg.rfind("--root=", 0) == 0) {
      invocation->root = arg.substr(7);
    } else if (arg.rfind("--dev=", 0) == 0) {
      invocation->dev_dir = arg.substr(6);
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

}  // namespace opossvc::oposreg
