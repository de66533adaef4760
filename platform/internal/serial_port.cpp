// COM names, and the table of virtual devices that OpenSerialPort asks before the Win32 calls.
#include "platform/internal/serial_port.h"

#include <cctype>
#include <map>
#include <mutex>

namespace opossvc::detail {
namespace {

// Port number -> virtual device that holds it. Guarded by DeviceTableMutex(), which is taken
// before no other lock and released before a device is opened.
std::map<int, std::shared_ptr<VirtualSerialDevice>>& DeviceTable() {
  static auto* table = new std::map<int, std::shared_ptr<VirtualSerialDevice>>;
  return *table;
}
std::mutex& DeviceTableMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

std::shared_ptr<VirtualSerialDevice> FindVirtualSerialDevice(int number) {
  std::lock_guard<std::mutex> lock(DeviceTableMutex());
  auto it = DeviceTable().find(number);
  return it == DeviceTable().end() ? nullptr : it->second;
}

}  // namespace

int ParseComName(std::string_view name) {
  if (name.size() >= 4 && (name.substr(0, 4) == "\\\\.\\" || name.substr(0, 4) == "//./")) {
    name.remove_prefix(4);
  }
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  int number = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  if (name[3] == '0' || number < 1 || number > 255) return 0;
  return number;
}

DWORD OpenSerialPort(std::string_view com_name, std::unique_ptr<SerialPort>* port) {
  if (int number = ParseComName(com_name)) {
    if (std::shared_ptr<VirtualSerialDevice> device = FindVirtualSerialDevice(number)) {
      return device->Open(port);
    }
  }
  return OpenWin32SerialPort(com_name, port);
}

bool AttachVirtualSerialDevice(int number, std::shared_ptr<VirtualSerialDevice> device) {
  std::lock_guard<std::mutex> lock(DeviceTableMutex());
  return DeviceTable().emplace(number, std::move(device)).second;
}

void DetachVirtualSerialDevice(int number, const VirtualSerialDevice* device) {
  std::lock_guard<std::mutex> lock(DeviceTableMutex());
  auto it = DeviceTable().find(number);
  if (it != DeviceTable().end() && it->second.get() == device) DeviceTable().erase(it);
}

}  // namespace opossvc::detail
