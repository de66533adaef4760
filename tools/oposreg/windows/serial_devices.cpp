// FindSerialDevices on Windows: the system keeps the SERIALCOMM map itself,
// one value for each port that is present, so the map is the device list.
#include <opossvc/win32/registry.h>

#include "tools/oposreg/serial_ports.h"

namespace opossvc::oposreg {

std::vector<SerialDevice> FindSerialDevices(const std::string& /*dev_dir*/) {
  std::vector<SerialDevice> devices;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return devices;
  }
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    if (RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    SerialDevice device;
    device.path = std::string(name, length);
    device.node = device.path;
    devices.push_back(device);
  }
  RegCloseKey(key);
  return devices;
}

}  // namespace opossvc::oposreg
