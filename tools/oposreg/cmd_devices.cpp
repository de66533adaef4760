// oposreg devices [CLASS]
#include <strings.h>

#include <cstdio>
#include <string>
#include <vector>

#include <opossvc/registry.h>
#include <opossvc/win32/registry.h>

#include "tools/oposreg/commands.h"
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

void PrintDevice(const ClassKey& cls, unsigned long index, const std::string& device) {
  CRegistryInfo info;
  std::printf("  %s\n", device.c_str());
  if (index != 0 && info.GetDeviceInfo(device.c_str(), index)) {
    auto field = [](const char* label, const CString& text) {
      if (!text.IsEmpty()) std::printf("    %-13s %s\n", label, static_cast<const char*>(text));
    };
    field("service", info.GetSOName(device.c_str(), index));
    field("file", info.GetSOFile(device.c_str(), index));
    field("description", info.GetSODesc(device.c_str(), index));
    field("version", info.GetSOVersion(device.c_str(), index));
    field("device name", info.GetDeviceName(device.c_str(), index));
    field("device desc", info.GetDeviceDesc(device.c_str(), index));
    field("port", info.GetPortName(device.c_str(), index));
  }
  HKEY key = nullptr;
  std::string path = std::string(kServiceOpos) + "\\" + cls.name + "\\" + device;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  std::vector<RegValue> values;
  ReadKeyValues(key, &values);
  RegCloseKey(key);
  std::string settings;
  for (const RegValue& value : values) {
    if (index != 0 && IsEntryValue(value.name)) continue;
    settings += (settings.empty() ? "" : " ") + (value.name.empty() ? "@" : value.name) + "=" +
                DataText(value);
  }
  if (!settings.empty()) std::printf("    %-13s %s\n", "settings", settings.c_str());
}

void PrintClass(const ClassKey& cls) {
  unsigned long index = CRegistryInfo().ConvKey(cls.name.c_str());
  if (index < 1 || index > KC_CLASS_COUNT) index = 0;
  std::printf("%s%s\n", cls.name.c_str(), index ? "" : " (not an OPOS device class)");
  for (const std::string& device : cls.devices) PrintDevice(cls, index, device);
  for (const RegValue& value : cls.values) {
    if (value.type != REG_SZ || value.name.empty()) continue;
    std::string target = DataText(value);
    CString found = index ? CRegistryInfo().FindDevice(value.name.c_str(), index) : CString();
    std::printf("  %s -> %s%s\n", value.name.c_str(),
                found.IsEmpty() ? target.c_str() : static_cast<const char*>(found),
                found.IsEmpty() ? " (no such device)" : "");
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
  for (const std::string& name : classes) {
    if (!wanted.empty() && strcasecmp(name.c_str(), wanted.c_str()) != 0) continue;
    ClassKey cls;
    if (ReadClass(service_opos, name, &cls) != ERROR_SUCCESS) continue;
    found = true;
    PrintClass(cls);
  }
  RegCloseKey(service_opos);
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
