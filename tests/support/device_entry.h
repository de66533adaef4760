// A device's registry entry for the serial driver's tests: its key with "Port" and the REG_DWORD
// settings, and the maker's configuration key.
#ifndef OPOSSVC_TESTS_SUPPORT_DEVICE_ENTRY_H_
#define OPOSSVC_TESTS_SUPPORT_DEVICE_ENTRY_H_

#include <map>
#include <string>

#include <opossvc/portdrv.h>
#include <opossvc/testing/temp_registry.h>

namespace opossvc::testing {

struct DeviceEntry {
  std::string device_class = "POSPrinter";
  std::string name = "Printer1";
  std::string port = "COM1";
  std::map<std::string, DWORD> values = {
      {"Baudrate", 6}, {"BitLength", 1},   {"Parity", 0},      {"Stop", 0},     {"HandShake", 0},
      {"XonXoff", 0},  {"InputBuf", 1024}, {"OutputBuf", 512}, {"Timeout", 10},
  };
  std::string id() const { return device_class + "\\" + name; }
};

// Writes the device key: its "Port" and every value of entry.values.
void WriteDevice(TempRegistry& registry, const DeviceEntry& entry);
// Writes REG_DWORD values into the maker's configuration key.
void WriteConfig(TempRegistry& registry, const std::map<std::string, DWORD>& values,
                 const std::string& configuration = "VANTA1.6");
// Fast pauses for the driver's threads (1 ms) in the default configuration.
void WriteFastConfig(TempRegistry& registry);

inline long OpenOn(CPortdrv& port, const DeviceEntry& entry, CSvcBase* svc, int variant = 0) {
  return port.PortOpen(entry.id().c_str(), svc, 64, variant, 0);
}

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTS_SUPPORT_DEVICE_ENTRY_H_
