// FindSerialDevices on Linux: the tty nodes of /dev and their by-id links.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>

#include "tools/oposreg/serial_ports.h"

namespace opossvc::oposreg {
namespace {

std::vector<std::string> DirectoryNames(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? resolved : "";
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The kernel makes ttyS nodes for UARTs that may not be there; only one that
// reports a UART type is a port.
bool HasUart(const std::string& node) {
  int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info {};
  bool present = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  close(fd);
  return present;
}

}  // namespace

std::vector<SerialDevice> FindSerialDevices(const std::string& dev_dir) {
  std::map<std::string, SerialDevice> by_node;  // real node path -> device
  for (const std::string& name : DirectoryNames(dev_dir)) {
    bool uart = StartsWith(name, "ttyS");
    if (!uart && !StartsWith(name, "ttyUSB") && !StartsWith(name, "ttyACM")) continue;
    std::string node = dev_dir + "/" + name;
    if (uart && !HasUart(node)) continue;
    SerialDevice device;
    device.path = node;
    device.node = node;
    if (uart) device.preferred = std::atoi(name.c_str() + 4) + 1;
    std::string real = RealPath(node);
    by_node[real.empty() ? node : real] = device;
  }
  std::string by_id = dev_dir + "/serial/by-id";
  for (const std::string& name : DirectoryNames(by_id)) {
    std::string link = by_id + "/" + name;
    auto it = by_node.find(RealPath(link));
    if (it != by_node.end()) it->second.path = link;
  }
  std::vector<SerialDevice> devices;
  for (auto& [real, device] : by_node) devices.push_back(device);
  std::sort(devices.begin(), devices.end(),
            [](const SerialDevice& a, const SerialDevice& b) { return a.path < b.path; });
  return devices;
}

}  // namespace opossvc::oposreg
