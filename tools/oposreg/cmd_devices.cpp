// oposreg devices [CLASS]
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <opossvc/registry.h>
#include <opossvc/win32/registry.h>

#include "tools/oposreg/commands.h"
#include "tools/oposreg/json_writer.h"
#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/store_access.h"
#include "tools/oposreg/value_text.h"

namespace opossvc::oposreg {
namespace {

constexpr char kServiceOpos[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS";

// Values of a device entry that the lookup itself reads; the rest are the
// device's settings.
bool IsEntryValue(const std::string& name) {
  static const char* const kNames[] = {"",        "SOName",     "Service",    "Description",
                                       "Version", "DeviceName", "DeviceDesc", "Port"};
  for (const char* known : kNames) {
    if (strcasecmp(name.c_str(), known) == 0) return true;
  }
  return false;
}

struct ClassKey {
  std::string name;
  std::vector<std::string> devices;
  std::vector<RegValue> values;  // REG_SZ ones are logical names
};

LONG ReadClass(HKEY service_opos, const std::string& name, ClassKey* out) {
  HKEY key = nullptr;
  if (LONG error = RegOpenKeyExA(service_opos, name.c_str(), 0, KEY_READ, &key)) return error;
  out->name = name;
  LONG error = ReadSubKeyNames(key, &out->devices);
  if (error == ERROR_SUCCESS) error = ReadKeyValues(key, &out->values);
  RegCloseKey(key);
  return error;
}

// What `devices` shows of one device: the entry as the lookup reads it
// (label, JSON name, text) and the other values, its settings.
struct DeviceShown {
  std::string name;
  std::vector<std::pair<const char*, std::string>> fields;
  std::vector<RegValue> settings;
};

DeviceShown ReadDevice(const ClassKey& cls, unsigned long index, const std::string& device) {
  DeviceShown shown;
  shown.name = device;
  CRegistryInfo info;
  if (index != 0 && info.GetDeviceInfo(device.c_str(), index)) {
    const std::pair<const char*, CString> fields[] = {
        {"service", info.GetSOName(device.c_str(), index)},
        {"file", info.GetSOFile(device.c_str(), index)},
        {"description", info.GetSODesc(device.c_str(), index)},
        {"version", info.GetSOVersion(device.c_str(), index)},
        {"device name", info.GetDeviceName(device.c_str(), index)},
        {"device desc", info.GetDeviceDesc(device.c_str(), index)},
        {"port", info.GetPortName(device.c_str(), index)},
    };
    for (const auto& [label, text] : fields) {
      if (!text.IsEmpty()) shown.fields.emplace_back(label, text.GetString());
    }
  }
  HKEY key = nullptr;
  std::string path = std::string(kServiceOpos) + "\\" + cls.name + "\\" + device;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return shown;
  }
  std::vector<RegValue> values;
  ReadKeyValues(key, &values);
  RegCloseKey(key);
  for (RegValue& value : values) {
    if (index == 0 || !IsEntryValue(value.name)) shown.settings.push_back(std::move(value));
  }
  return shown;
}

void PrintDevice(const DeviceShown& device) {
  std::printf("  %s\n", Escaped(device.name).c_str());
  for (const auto& [label, text] : device.fields) {
    std::printf("    %-13s %s\n", label, Escaped(text).c_str());
  }
  std::string settings;
  for (const RegValue& value : device.settings) {
    settings += (settings.empty() ? "" : " ") + (value.name.empty() ? "@" : value.name) + "=" +
                DataText(value);
  }
  if (!settings.empty()) std::printf("    %-13s %s\n", "settings", Escaped(settings).c_str());
}

void DeviceJson(const DeviceShown& device, JsonWriter* json) {
  json->BeginObject();
  json->Member("name", device.name);
  for (const auto& [label, text] : device.fields) {
    std::string key = label;
    std::replace(key.begin(), key.end(), ' ', '_');
    json->Member(key, text);
  }
  json->Key("settings");
  json->BeginArray();
  for (const RegValue& value : device.settings) WriteValueJson(value, json);
  json->EndArray();
  json->EndObject();
}

// Names compared as the registry compares them.
struct NameLess {
  bool operator()(const CString& a, const CString& b) const { return a.CompareNoCase(b) < 0; }
};

// The device keys that the logical names of one class lead to, by the
// device lookup's rules (the answer FindDevice gives), each chain followed
// once: a name met again takes the answer found for it, so a class whose n
// logical names form one chain costs n steps rather than n for each name.
class LogicalNames {
 public:
  LogicalNames(HKEY service_opos, const ClassKey& cls, unsigned long index)
      : service_opos_(service_opos), cls_(cls), index_(index) {
    for (const RegValue& value : cls.values) values_.emplace(value.name.c_str(), &value);
  }

  // The device key `name` resolves to, "" for none.
  CString Resolve(const std::string& name) {
    // The lookup reads a leading "<name>\" as naming a class: this class's
    // name is left off, and the name of any other key finds nothing.
    CString current(name.c_str());
    const int slash = current.Find('\\');
    if (slash > 0) {
      const unsigned long code = CRegistryInfo().ConvKey(current.Left(slash));
      if (code != 0 && code != index_) return CString();
      if (code != 0) current = current.Mid(slash + 1);
    }
    std::vector<CString> chain;
    std::set<CString, NameLess> on_chain;
    CString found;
    for (;;) {
      if (auto known = found_.find(current); known != found_.end()) {
        found = known->second;
        break;
      }
      if (current.IsEmpty()) break;
      chain.push_back(current);
      on_chain.insert(current);
      if (IsDeviceKey(current)) {
        const std::string path = cls_.name + "\\" + current.GetString();
        found = CRegistryInfo().FindDevice(path.c_str(), 0);
        break;
      }
      auto value = values_.find(current);
      if (value == values_.end() || value->second->type != REG_SZ) break;
      const std::string& data = value->second->data;
      CString next(data.c_str());  // up to its first NUL, as the lookup reads it
      if (next.CompareNoCase(current) == 0 || on_chain.count(next) != 0) break;
      current = next;
    }
    for (const CString& link : chain) found_.emplace(link, found);
    return found;
  }

 private:
  bool IsDeviceKey(const CString& device) const {
    HKEY key = nullptr;
    const std::string path = cls_.name + "\\" + device.GetString();
    if (RegOpenKeyExA(service_opos_, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

  HKEY service_opos_;
  const ClassKey& cls_;
  unsigned long index_;
  std::map<CString, const RegValue*, NameLess> values_;
  std::map<CString, CString, NameLess> found_;
};

// One class as `devices` shows it, as text or into `json`.
void ShowClass(HKEY service_opos, const ClassKey& cls, JsonWriter* json) {
  unsigned long index = CRegistryInfo().ConvKey(cls.name.c_str());
  if (index < 1 || index > KC_CLASS_COUNT) index = 0;
  if (json) {
    json->BeginObject();
    json->Member("class", cls.name);
    json->Key("opos_class");
    json->Bool(index != 0);
    json->Key("devices");
    json->BeginArray();
  } else {
    std::printf("%s%s\n", Escaped(cls.name).c_str(), index ? "" : " (not an OPOS device class)");
  }
  for (const std::string& device : cls.devices) {
    const DeviceShown shown = ReadDevice(cls, index, device);
    json ? DeviceJson(shown, json) : PrintDevice(shown);
  }
  if (json) {
    json->EndArray();
    json->Key("logical_names");
    json->BeginArray();
  }
  LogicalNames logical(service_opos, cls, index);
  for (const RegValue& value : cls.values) {
    if (value.type != REG_SZ || value.name.empty()) continue;
    std::string target = DataText(value);
    CString found = index ? logical.Resolve(value.name) : CString();
    if (json) {
      json->BeginObject();
      json->Member("name", value.name);
      json->Member("target", target);
      json->Key("device");
      found.IsEmpty() ? json->Null() : json->String(found.GetString());
      json->EndObject();
      continue;
    }
    std::printf("  %s -> %s%s\n", Escaped(value.name).c_str(),
                Escaped(found.IsEmpty() ? target : found.GetString()).c_str(),
                found.IsEmpty() ? " (no such device)" : "");
  }
  if (json) {
    json->EndArray();
    json->EndObject();
  }
}

}  // namespace

int RunDevices(const Invocation& invocation) {
  std::string error;
  if (!CheckStoreForReading(&error)) {
    Complain(error);
    return kExitFailure;
  }
  HKEY service_opos = nullptr;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceOpos, 0, KEY_READ, &service_opos);
  if (result == ERROR_FILE_NOT_FOUND) {
    Complain("no OPOS devices: HKLM\\" + std::string(kServiceOpos) + " does not exist");
    return kExitFailure;
  }
  if (result) {
    Complain("HKLM\\" + std::string(kServiceOpos) + ": " + ErrorText(result));
    return kExitFailure;
  }
  std::vector<std::string> classes;
  result = ReadSubKeyNames(service_opos, &classes);
  std::string wanted = invocation.args.empty() ? "" : invocation.args[0];
  bool found = false;
  JsonWriter json;
  if (invocation.json) json.BeginArray();
  for (const std::string& name : classes) {
    if (!wanted.empty() && strcasecmp(name.c_str(), wanted.c_str()) != 0) continue;
    ClassKey cls;
    if (ReadClass(service_opos, name, &cls) != ERROR_SUCCESS) continue;
    found = true;
    ShowClass(service_opos, cls, invocation.json ? &json : nullptr);
  }
  RegCloseKey(service_opos);
  if (invocation.json) {
    json.EndArray();
    std::fputs(json.Text().c_str(), stdout);
  }
  if (result) {
    Complain("HKLM\\" + std::string(kServiceOpos) + ": " + ErrorText(result));
    return kExitFailure;
  }
  if (!wanted.empty() && !found) {
    Complain("no device class \"" + wanted + "\" in the registry");
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace opossvc::oposreg
