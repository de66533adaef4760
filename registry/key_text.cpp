// The key text of an operation's text form, as the key code it acts on.
//
// A device code stands for the device the object holds, whatever text
// produced it; so a text naming another device (or another spelling of a
// logical name) first moves the object to the device the text names, and a
// text naming a ServiceInfo sub-key other than the held one first opens
// that sub-key. The operation then acts on exactly the key the text names:
// never on the object's current one by mistake.
#include <cstring>
#include <string>

#include <opossvc/registry.h>

#include "registry/key_table.h"

using opossvc::detail::ClassName;
using opossvc::detail::SameName;
using opossvc::detail::StartsWithName;

namespace {

// The text after "<name>\" when `text` begins so and has more; else null.
const char* BelowName(const char* text, const char* name) {
  if (!StartsWithName(text, name)) return nullptr;
  const char* rest = text + std::strlen(name);
  if (rest[0] != '\\' || rest[1] == '\0') return nullptr;
  return rest + 1;
}

bool ServiceInfoSubKeyExists(const char* path) {
  const std::string full = std::string(opossvc::detail::kRootPath) + "\\" +
                           opossvc::detail::kServiceInfoName + "\\" + path;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, full.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

}  // namespace

DWORD CRegistryInfo::ResolveKeyText(const char* text) {
  if (text == nullptr) return 0;
  if (m_dwDevKey != 0 && *text != '\0' && SameName(text, m_strDeviceID)) return m_dwDevKey;

  for (DWORD index = 1; index <= KC_CLASS_COUNT; ++index) {
    if (BelowName(text, ClassName(index)) == nullptr) continue;
    // Resolved on a separate object first, so that a text naming no device
    // leaves this one as it is, and so that a logical name reaches its
    // device even on an object that creates missing keys.
    const CString device = FindDevice(text, index);
    if (device.IsEmpty()) return 0;
    if (!GetDeviceInfo(CString(ClassName(index)) + "\\" + device, 0)) return 0;
    return m_dwDevKey;
  }

  const DWORD code = static_cast<DWORD>(ConvKey(text));
  if (code != 0) return code;
  const char* subkey = BelowName(text, opossvc::detail::kServiceInfoName);
  if (subkey == nullptr || !ServiceInfoSubKeyExists(subkey)) return 0;
  return OpenServiceInfoSubKey(subkey, m_bCreate) ? KC_SERVICEINFO_SUBKEY : 0;
}
