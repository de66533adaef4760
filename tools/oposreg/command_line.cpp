#include "tools/oposreg/command_line.h"

#include <cctype>

namespace opossvc::oposreg {
namespace {

// Options that belong to commands, as bits of CommandInfo::options.
enum : unsigned { kWrite = 1, kRemove = 2, kJson = 4, kForce = 8, kYes = 16, kDev = 32 };

struct CommandInfo {
  const char* name;
  size_t min_args;
  size_t max_args;
  unsigned options;
  const char* usage;
};

const CommandInfo kCommands[] = {
    {"import", 1, 1, 0,
     "usage: oposreg import FILE.reg\n"
     "Imports a registry file (REGEDIT4, or \"Windows Registry Editor Version 5.00\" in\n"
     "UTF-16 or UTF-8) into the OPOS database (HKLM\\SOFTWARE\\OLEforRetail, also as\n"
     "HKLM\\SOFTWARE\\WOW6432Node\\OLEforRetail) and the serial-port map\n"
     "(HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM). Each section writes the key it names;\n"
     "[-KEY] deletes a key and \"NAME\"=- a value. Every line that fails is shown as\n"
     "FILE:LINE: reason, and the exit status is 1 when any did.\n"},
    {"export", 0, 2, kForce,
     "usage: oposreg export [--force] [KEY] [FILE]\n"
     "Writes KEY (default HKLM\\SOFTWARE\\OLEforRetail) and everything below it as a\n"
     "REGEDIT4 file to FILE, or to standard output when FILE is missing or \"-\".\n"
     "An existing FILE is overwritten only with --force.\n"
     "Writes nothing when \"oposreg import\" would not give something back as it is\n"
     "(a name with a line break, a Ctrl-Z or a NUL, a line over 4 MiB), and never\n"
     "into the registry store's own files.\n"},
    {"tree", 0, 1, kJson,
     "usage: oposreg tree [--json] [KEY]\n"
     "Shows KEY (default HKLM\\SOFTWARE\\OLEforRetail), its sub-keys and their values.\n"},
    {"list", 0, 1, kJson,
     "usage: oposreg list [--json] [KEY]\n"
     "The same as \"oposreg tree\".\n"},
    {"get", 1, 2, kJson,
     "usage: oposreg get [--json] KEY [VALUE]\n"
     "Prints the data of VALUE (\"@\" for the default value), or every value of KEY.\n"},
    {"set", 4, 4, 0,
     "usage: oposreg set KEY VALUE TYPE DATA\n"
     "Writes VALUE (\"@\" for the default value) of KEY, creating the key when missing.\n"
     "TYPE: REG_SZ (text), REG_DWORD (decimal, or hexadecimal with 0x), REG_BINARY\n"
     "(hexadecimal bytes such as 01,02,ff); \"sz\", \"dword\", \"binary\" work too.\n"},
    {"delete", 1, 2, kYes,
     "usage: oposreg delete [--yes] KEY [VALUE]\n"
     "Deletes VALUE (\"@\" for the default value) of KEY, or KEY with everything below.\n"
     "Deleting the database root, ServiceOPOS, a device class or a key above them\n"
     "asks first on a terminal; elsewhere it needs --yes.\n"},
    {"devices", 0, 1, kJson,
     "usage: oposreg devices [--json] [CLASS]\n"
     "Lists the OPOS devices of every class (or of CLASS) with their logical names,\n"
     "service object, port and settings.\n"},
    {"ports", 0, 0, kWrite | kRemove | kJson | kDev,
     "usage: oposreg ports [--write] [--remove COMn] [--json] [--dev DIR]\n"
     "Finds serial devices (ttyS, ttyUSB, ttyACM, ttyAMA, ttyXRUSB, rfcomm) and shows\n"
     "the COM name of each. USB adapters are named by their /dev/serial/by-id path,\n"
     "so a COM name stays with its adapter across reboots; identical adapters\n"
     "without serial numbers, which share one by-id name, by their\n"
     "/dev/serial/by-path path (the socket they are plugged into). --write records\n"
     "new names in HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM; names already recorded are\n"
     "kept. --remove COMn takes COMn out of the map. --dev DIR looks in DIR\n"
     "instead of /dev.\n"},
    {"check", 1, 2, kJson,
     "usage: oposreg check [--json] CLASS DEVICE\n"
     "       oposreg check [--json] CLASS\\DEVICE | NAME\n"
     "Follows a device from its name to a working line and prints one line a step:\n"
     "logical name, device key, service object, port name, device path (the\n"
     "SERIALCOMM map), the node, permission to open it, other processes that hold\n"
     "it, an open with the device's eight port settings, and the modem lines with\n"
     "the power state they give. A failed step says how to mend it and ends the\n"
     "check. DEVICE is a device key or a logical name; a NAME alone is looked for\n"
     "in every class. Exit status 0 only when every step passed.\n"},
};

constexpr char kToolUsage[] =
    "usage: oposreg [--root DIR] COMMAND [OPTIONS] [ARGUMENTS]\n"
    "       oposreg --version\n"
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
    "  check DEVICE               check a device from its name to its line\n"
    "\n"
    "get, tree, devices, ports and check print JSON with --json.\n"
    "KEY is HKEY_LOCAL_MACHINE\\... or HKLM\\... (quote the backslashes in the shell).\n"
    "\"oposreg COMMAND --help\" describes a command.\n";

const CommandInfo* Find(const std::string& command) {
  for (const CommandInfo& info : kCommands) {
    if (command == info.name) return &info;
  }
  return nullptr;
}

}  // namespace

bool OptionsFit(const Invocation& invocation, std::string* error) {
  const CommandInfo* info = Find(invocation.command);
  const unsigned allowed = info ? info->options : 0;
  const struct {
    unsigned bit;
    bool given;
    const char* name;
  } options[] = {
      {kWrite, invocation.write, "--write"},
      {kRemove, !invocation.remove.empty(), "--remove"},
      {kJson, invocation.json, "--json"},
      {kForce, invocation.force, "--force"},
      {kYes, invocation.yes, "--yes"},
      {kDev, invocation.dev_dir != "/dev", "--dev"},
  };
  for (const auto& option : options) {
    if (option.given && (allowed & option.bit) == 0) {
      *error = std::string(option.name) + " is no option of \"" + invocation.command + "\"";
      return false;
    }
  }
  if (invocation.write && !invocation.remove.empty()) {
    *error = "--write and --remove cannot be given together";
    return false;
  }
  return true;
}

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
  static const struct {
    const char* name;
    const char* short_name;
    bool Invocation::*field;
  } kFlags[] = {
      {"--help", "-h", &Invocation::help},   {"--version", nullptr, &Invocation::version},
      {"--write", nullptr, &Invocation::write}, {"--json", nullptr, &Invocation::json},
      {"--force", "-f", &Invocation::force}, {"--yes", "-y", &Invocation::yes},
  };
  static const struct {
    const char* name;
    std::string Invocation::*field;
    const char* needs;
  } kValued[] = {
      {"--root", &Invocation::root, "a directory"},
      {"--dev", &Invocation::dev_dir, "a directory"},
      {"--remove", &Invocation::remove, "a COM name"},
  };
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
      continue;
    }
    bool known = false;
    for (const auto& flag : kFlags) {
      if (arg == flag.name || (flag.short_name && arg == flag.short_name)) {
        invocation->*flag.field = true;
        known = true;
      }
    }
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    for (const auto& option : kValued) {
      if (known || name != option.name) continue;
      if (eq == std::string::npos && i + 1 >= argc) {
        *error = "option " + name + " needs " + option.needs;
        return false;
      }
      std::string value = eq == std::string::npos ? argv[++i] : arg.substr(eq + 1);
      if (value.empty() && option.field == &Invocation::remove) {
        *error = "option " + name + " needs " + option.needs;
        return false;
      }
      invocation->*option.field = std::move(value);
      known = true;
    }
    if (!known) {
      *error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

}  // namespace opossvc::oposreg
