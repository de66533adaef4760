#include "tools/oposreg/serial_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <set>

#include <opossvc/win32/registry.h>

#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/value_text.h"

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

std::string Normalised(const std::string& path) {
  return path.empty() || path[0] == '/' ? path : "/dev/" + path;
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

int ParseComNumber(const std::string& text) {
  if (text.size() < 4 || text.size() > 6) return 0;
  if ((text[0] | 0x20) != 'c' || (text[1] | 0x20) != 'o' || (text[2] | 0x20) != 'm') return 0;
  int number = 0;
  for (size_t i = 3; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    number = number * 10 + (text[i] - '0');
  }
  return number >= 1 && number <= 255 && text[3] != '0' ? number : 0;
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

std::vector<ComAssignment> AssignComNames(const std::vector<MapEntry>& map,
                                          const std::vector<SerialDevice>& devices) {
  std::vector<ComAssignment> result;
  std::set<int> taken;
  std::vector<bool> entry_present(map.size(), false);
  std::vector<const SerialDevice*> unmapped;
  for (const MapEntry& entry : map) taken.insert(entry.number);
  for (const SerialDevice& device : devices) {
    bool mapped = false;
    for (size_t i = 0; i < map.size(); ++i) {
      std::string path = Normalised(map[i].path);
      if (path == device.path || path == device.node ||
          std::find(device.links.begin(), device.links.end(), path) != device.links.end()) {
        entry_present[i] = true;
        mapped = true;
      }
    }
    if (!mapped) unmapped.push_back(&device);
  }
  for (size_t i = 0; i < map.size(); ++i) {
    result.push_back({map[i].path, map[i].number, false, entry_present[i]});
  }
  // ttyS<n> first, to the number it answers to unmapped.
  std::vector<const SerialDevice*> rest;
  for (const SerialDevice* device : unmapped) {
    if (device->preferred > 0 && taken.insert(device->preferred).second) {
      result.push_back({device->path, device->preferred, true, true});
    } else {
      rest.push_back(device);
    }
  }
  int next = 1;
  for (const SerialDevice* device : rest) {
    while (taken.count(next)) ++next;
    taken.insert(next);
    result.push_back({device->path, next, true, true});
  }
  std::stable_sort(result.begin(), result.end(),
                   [](const ComAssignment& a, const ComAssignment& b) { return a.number < b.number; });
  return result;
}

LONG ReadComMap(std::vector<MapEntry>* map) {
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

std::string MappedPath(const std::vector<MapEntry>& map, int number) {
  for (const MapEntry& entry : map) {
    if (entry.number == number) return Normalised(entry.path);
  }
  return "";
}

}  // namespace opossvc::oposreg
