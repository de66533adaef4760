#include "tests/support/device_entry.h"

namespace opossvc::testing {

void WriteDevice(TempRegistry& registry, const DeviceEntry& entry) {
  const std::string key =
      "SOFTWARE\\OLEforRetail\\ServiceOPOS\\" + entry.device_class + "\\" + entry.name;
  registry.SetString(HKEY_LOCAL_MACHINE, key, "Port", entry.port);
  for (const auto& [name, value] : entry.values) {
    registry.SetDword(HKEY_LOCAL_MACHINE, key, name, value);
  }
}

void WriteConfig(TempRegistry& registry, const std::map<std::string, DWORD>& values,
                 const std::string& configuration) {
  const std::string key = "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\" + configuration;
  registry.CreateKey(HKEY_LOCAL_MACHINE, key);
  for (const auto& [name, value] : values) {
    registry.SetDword(HKEY_LOCAL_MACHINE, key, name, value);
  }
}

void WriteFastConfig(TempRegistry& registry) {
  WriteConfig(registry, {{"IdleSleep", 1}, {"InputSleep", 1}});
}

}  // namespace opossvc::testing
