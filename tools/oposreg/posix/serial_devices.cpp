// FindSerialDevices on Linux: the tty nodes of /dev and their by-id and
// by-path links.
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

// Node names of serial devices; ttyS first, whose nodes need a UART behind.
constexpr const char* kNodePrefixes[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "ttyXRUSB", "rfcomm"};

// The links of `dir` by the real path of the node each leads to (the first
// in name order when several lead to one node).
std::map<std::string, std::string> LinksByNode(const std::string& dir) {
  std::map<std::string, std::string> links;
  for (const std::string& name : DirectoryNames(dir)) {
    std::string real = RealPath(dir + "/" + name);
    if (!real.empty()) links.emplace(real, dir + "/" + name);
  }
  return links;
}

}  // namespace

bool HasUart(const std::string& node) {
  int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info {};
  bool present = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  close(fd);
  return present;
}

std::vector<SerialDevice> FindSerialDevices(const std::string& dev_dir) {
  std::map<std::string, SerialDevice> by_node;  // real node path -> device
  for (const std::string& name : DirectoryNames(dev_dir)) {
    const char* const* prefix = std::find_if(
        std::begin(kNodePrefixes), std::end(kNodePrefixes),
        [&name](const char* p) { return StartsWith(name, p); });
    if (prefix == std::end(kNodePrefixes)) continue;
    const bool uart = prefix == std::begin(kNodePrefixes);
    std::string node = dev_dir + "/" + name;
    if (uart && !HasUart(node)) continue;
    SerialDevice device;
    device.path = node;
    device.node = node;
    if (uart) device.preferred = std::atoi(name.c_str() + 4) + 1;
    std::string real = RealPath(node);
    by_node[real.empty() ? node : real] = device;
  }
  const auto by_id = LinksByNode(dev_dir + "/serial/by-id");
  const auto by_path = LinksByNode(dev_dir + "/serial/by-path");
  bool ambiguous = false;
  for (const auto& [real, link] : by_path) {
    ambiguous = ambiguous || (by_node.count(real) != 0 && by_id.count(real) == 0);
  }
  for (auto& [real, device] : by_node) {
    auto id = by_id.find(real);
    auto path = by_path.find(real);
    if (id != by_id.end()) device.links.push_back(id->second);
    if (path != by_path.end()) device.links.push_back(path->second);
    if (path != by_path.end() && (ambiguous || id == by_id.end())) {
      device.path = path->second;
    } else if (id != by_id.end()) {
      device.path = id->second;
    }
  }
  std::vector<SerialDevice> devices;
  for (auto& [real, device] : by_node) devices.push_back(device);
  std::sort(devices.begin(), devices.end(),
            [](const SerialDevice& a, const SerialDevice& b) { return a.path < b.path; });
  return devices;
}

}  // namespace opossvc::oposreg
