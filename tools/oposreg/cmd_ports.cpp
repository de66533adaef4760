// oposreg ports [--write] [--remove COMn] [--json] [--dev DIR]
#include <cstdio>

#include <opossvc/win32/registry.h>

#include "tools/oposreg/commands.h"
#include "tools/oposreg/json_writer.h"
#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/serial_ports.h"
#include "tools/oposreg/store_access.h"
#include "tools/oposreg/value_text.h"

namespace opossvc::oposreg {
namespace {

constexpr int kDriverPorts = 10;  // the serial driver opens COM1 to COM10

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

// Deletes every entry of the map for COMn.
int Remove(const std::string& com_name) {
  const int number = ParseComNumber(com_name);
  if (number == 0) {
    Complain("\"" + com_name + "\" is no COM name (COM1 to COM255)");
    return kExitUsage;
  }
  std::string error;
  if (!CheckStoreForWriting(&error)) {
    Complain(error);
    return kExitFailure;
  }
  std::vector<MapEntry> map;
  LONG result = ReadComMap(&map);
  HKEY key = nullptr;
  bool found = false;
  if (result == ERROR_SUCCESS && !map.empty()) {
    result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_SET_VALUE, &key);
  }
  for (const MapEntry& entry : map) {
    if (result != ERROR_SUCCESS) break;
    if (entry.number != number) continue;
    result = RegDeleteValueA(key, entry.path.c_str());
    if (result == ERROR_SUCCESS) std::printf("removed COM%d %s\n", number, Escaped(entry.path).c_str());
    found = found || result == ERROR_SUCCESS;
  }
  if (key) {
    if (result == ERROR_SUCCESS && found) result = RegFlushKey(key);
    RegCloseKey(key);
  }
  if (result != ERROR_SUCCESS) {
    Complain(std::string("HKLM\\") + kSerialCommKey + ": " + ErrorText(result));
    return kExitFailure;
  }
  if (!found) {
    Complain("COM" + std::to_string(number) + " is not in HKLM\\" + kSerialCommKey);
    return kExitFailure;
  }
  return kExitOk;
}

const char* StateOf(const ComAssignment& port, bool write) {
  return !port.present ? "recorded, not present"
         : port.is_new ? (write ? "new, recorded" : "new")
                       : "recorded";
}

void PrintJson(const std::vector<ComAssignment>& ports, bool write) {
  JsonWriter json;
  json.BeginArray();
  for (const ComAssignment& port : ports) {
    json.BeginObject();
    json.Member("name", "COM" + std::to_string(port.number));
    json.Member("path", port.path);
    json.Key("present");
    json.Bool(port.present);
    json.Key("recorded");
    json.Bool(!port.is_new || write);
    json.Key("driver_opens");
    json.Bool(port.number <= kDriverPorts);
    json.EndObject();
  }
  json.EndArray();
  std::fputs(json.Text().c_str(), stdout);
}

}  // namespace

int RunPorts(const Invocation& invocation) {
  if (!invocation.remove.empty()) return Remove(invocation.remove);
  std::string error;
  bool store_ok = invocation.write ? CheckStoreForWriting(&error) : CheckStoreForReading(&error);
  if (!store_ok && invocation.write) {
    Complain(error);
    return kExitFailure;
  }
  std::vector<MapEntry> map;
  if (store_ok) {
    if (LONG result = ReadComMap(&map)) {
      Complain(std::string("HKLM\\") + kSerialCommKey + ": " + ErrorText(result));
      return kExitFailure;
    }
  }
  std::vector<ComAssignment> ports = AssignComNames(map, FindSerialDevices(invocation.dev_dir));
  bool any_new = false;
  for (const ComAssignment& port : ports) any_new = any_new || port.is_new;
  if (invocation.write) {
    if (LONG result = any_new ? WriteNew(ports) : ERROR_SUCCESS) {
      Complain(std::string("HKLM\\") + kSerialCommKey + ": " + ErrorText(result));
      return kExitFailure;
    }
  }
  if (invocation.json) {
    PrintJson(ports, invocation.write);
    return kExitOk;
  }
  for (const ComAssignment& port : ports) {
    std::printf("COM%-3d %-60s %s%s\n", port.number, Escaped(port.path).c_str(),
                StateOf(port, invocation.write),
                port.number > kDriverPorts ? " (beyond COM10: the serial driver cannot open it)"
                                           : "");
  }
  if (ports.empty()) std::fprintf(stderr, "oposreg: no serial devices found\n");
  if (!invocation.write && any_new) {
    std::fprintf(stderr, "oposreg: run \"oposreg ports --write\" to record new names\n");
  }
  return kExitOk;
}

}  // namespace opossvc::oposreg
