// oposreg ports [--write] [--dev DIR]
#include <cstdio>

#include <opossvc/win32/registry.h>

#include "tools/oposreg/commands.h"
#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/serial_ports.h"
#include "tools/oposreg/store_access.h"
#include "tools/oposreg/value_text.h"

namespace opossvc::oposreg {
namespace {

constexpr int kDriverPorts = 10;  // the serial driver opens COM1 to COM10

// The map as it stands; a missing key is an empty map.
LONG ReadMap(std::vector<MapEntry>* map) {
  HKEY key = nullptr;
  LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (error) return error;
  std::vector<RegValue> values;
  error = ReadKeyValues(key, &values);
  RegCloseKey(key);
  for (const RegValue& value : values) {
    int number = value.type == REG_SZ ? ParseComNumber(DataText(value)) : 0;
    if (number > 0 && !value.name.empty()) map->push_back({value.name, number});
  }
  return error;
}

LONG WriteNew(const std::vector<ComAssignment>& ports) {
  HKEY key = nullptr;
  LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, nullptr, 0, KEY_WRITE,
                               nullptr, &key, nullptr);
  if (error) return error;
  for (const ComAssignment& port : ports) {
    if (!port.is_new) continue;
    std::string data = "COM" + std::to_string(port.number);
    error = RegSetValueExA(key, port.path.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>(data.size() + 1));
    if (error) break;
  }
  if (error == ERROR_SUCCESS) error = RegFlushKey(key);
  RegCloseKey(key);
  return error;
}

}  // namespace

int RunPorts(const Invocation& invocation) {
  std::string error;
  bool store_ok = invocation.write ? CheckStoreForWriting(&error) : CheckStoreForReading(&error);
  if (!store_ok && invocation.write) {
    Complain(error);
    return kExitFailure;
  }
  std::vector<MapEntry> map;
  if (store_ok) {
    if (LONG result = ReadMap(&map)) {
      Complain(std::string("HKLM\\") + kSerialCommKey + ": " + ErrorText(result));
      return kExitFailure;
    }
  }
  std::vector<ComAssignment> ports = AssignComNames(map, FindSerialDevices(invocation.dev_dir));
  bool any_new = false;
  for (const ComAssignment& port : ports) {
    const char* state = !port.present ? "recorded, not present"
                        : port.is_new ? (invocation.write ? "new, recorded" : "new")
                                      : "recorded";
    std::printf("COM%-3d %-60s %s%s\n", port.number, port.path.c_str(), state,
                port.number > kDriverPorts ? " (beyond COM10: the serial driver cannot open it)"
                                           : "");
    any_new = any_new || port.is_new;
  }
  if (ports.empty()) std::fprintf(stderr, "oposreg: no serial devices found\n");
  if (!invocation.write) {
    if (any_new) std::fprintf(stderr, "oposreg: run \"oposreg ports --write\" to record new names\n");
    return kExitOk;
  }
  if (LONG result = any_new ? WriteNew(ports) : ERROR_SUCCESS) {
    Complain(std::string("HKLM\\") + kSerialCommKey + ": " + ErrorText(result));
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace opossvc::oposreg
