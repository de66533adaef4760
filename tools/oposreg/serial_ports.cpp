#include "tools/oposreg/serial_ports.h"

#include <algorithm>
#include <set>

#include <opossvc/win32/registry.h>

#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/value_text.h"

namespace opossvc::oposreg {
namespace {

std::string Normalised(const std::string& path) {
  return path.empty() || path[0] == '/' ? path : "/dev/" + path;
}

}  // namespace

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
