// Sub-key enumeration (with the virtual list of all devices) and deletion of
// whole key trees.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <opossvc/registry.h>

#include "registry/key_table.h"

using opossvc::detail::ClassIndex;
using opossvc::detail::IsClassCode;
using opossvc::detail::IsDeviceCode;
using opossvc::detail::kKeyNameBuffer;
using opossvc::detail::SameName;

namespace {

constexpr REGSAM kPurgeAccess = KEY_READ | KEY_WRITE;

// A sub-key of ServiceOPOS by position, read through a key of its own so
// that the object's open keys stay as they are.
struct ServiceOposEntry {
  bool exists = false;
  DWORD class_index = 0;  // 0 for a sub-key that is no device class
};

ServiceOposEntry ServiceOposSubKeyAt(LONG position) {
  ServiceOposEntry entry;
  if (position < 0) return entry;
  HKEY key = nullptr;
  const std::string path =
      std::string(opossvc::detail::kRootPath) + "\\" + opossvc::detail::kServiceOposName;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return entry;
  }
  char name[kKeyNameBuffer];
  DWORD length = sizeof name;
  if (RegEnumKeyExA(key, static_cast<DWORD>(position), name, &length, nullptr, nullptr, nullptr,
                    nullptr) == ERROR_SUCCESS) {
    entry.exists = true;
    entry.class_index = ClassIndex(name);
  }
  RegCloseKey(key);
  return entry;
}

bool SubKeyAt(HKEY key, DWORD index, char (&name)[kKeyNameBuffer]) {
  DWORD length = sizeof name;
  return RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

}  // namespace

long PurgeRegKey(HKEY parent, const char* name) {
  if (name == nullptr || *name == '\0') return ERROR_INVALID_PARAMETER;
  // Depth first without recursion, so that no depth of tree can exhaust the
  // stack: `open` holds the keys from the named one down to the one being
  // emptied, `names` the name of each below its parent.
  std::vector<HKEY> open;
  std::vector<std::string> names;
  HKEY top = nullptr;
  LONG status = RegOpenKeyExA(parent, name, 0, kPurgeAccess, &top);
  if (status != ERROR_SUCCESS) return status;
  open.push_back(top);
  names.emplace_back(name);
  while (!open.empty()) {
    char child[kKeyNameBuffer];
    DWORD length = sizeof child;
    status = RegEnumKeyExA(open.back(), 0, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
      HKEY key = nullptr;
      status = RegOpenKeyExA(open.back(), child, 0, kPurgeAccess, &key);
      if (status != ERROR_SUCCESS) break;
      open.push_back(key);
      names.emplace_back(child);
      continue;
    }
    if (status != ERROR_NO_MORE_ITEMS) break;
    // Emptied: delete it below its parent, the first remaining child of
    // which it was, so the listing index never moves.
    RegCloseKey(open.back());
    open.pop_back();
    HKEY above = open.empty() ? parent : open.back();
    status = RegDeleteKeyA(above, names.back().c_str());
    names.pop_back();
    if (status != ERROR_SUCCESS) break;
  }
  for (HKEY key : open) RegCloseKey(key);
  return status;
}

int CRegistryInfo::EnumKey(unsigned long code, unsigned int index, CString& name) {
  DWORD c = static_cast<DWORD>(code);
  if (c == KC_CURRENT_DEVICE) c = m_dwDevKey;
  int result = FALSE;
  bool walking = false;
  if (c != m_dwEnumKey) {
    m_dwEnumKey = c;
    m_dwEnumCur = 0;
    m_bEnumPrefix = TRUE;
    m_nEnumBase = 0;
    m_nEnumClass = -1;
    if (c != KC_ALL_DEVICES) {
      if (c & (KC_OLEFORRETAIL | KC_SERVICEOPOS)) m_bEnumPrefix = FALSE;
      m_dwEnumCur = c;
    }
  }
  const bool all_devices = c == KC_ALL_DEVICES;
  if (all_devices) {
    const bool continues = m_nEnumClass >= 0 &&
                           static_cast<uint64_t>(index) == uint64_t{m_nEnumLast} + 1 &&
                           index >= m_nEnumBase;
    if (!continues) {
      m_nEnumClass = 0;
      m_dwEnumCur = ServiceOposSubKeyAt(0).class_index;
      m_nEnumBase = 0;
      walking = index != 0;
    }
  }
  m_nEnumLast = index;
  name.Empty();

  // Walking counts `remaining` down over the devices passed, from the first
  // class on; otherwise `index` is the list index itself.
  int64_t remaining = index;
  for (;;) {
    DWORD position = walking ? m_nEnumBase : index;
    if (m_dwEnumCur == 0) {
      // A sub-key of ServiceOPOS that is no class contributes nothing.
      if (!all_devices || !ServiceOposSubKeyAt(m_nEnumClass).exists) return result;
    } else {
      Open(m_dwEnumCur, m_bCreate);
      HKEY key = GetHKEY(m_dwEnumCur);
      if (key != nullptr) {
        char sub[kKeyNameBuffer];
        bool found = false;
        if (walking) {
          while (SubKeyAt(key, position - m_nEnumBase, sub)) {
            ++position;
            if (--remaining < 0) {
              found = true;
              break;
            }
          }
        } else {
          found = SubKeyAt(key, index - m_nEnumBase, sub);
        }
        if (found) {
          CString listed;
          if (m_bEnumPrefix) listed = ConvKey(m_dwEnumCur) + "\\";
          listed += sub;
          name = listed;
          result = TRUE;
          if (!name.IsEmpty() || !all_devices) return result;
        }
      }
      // A key that cannot be opened or listed ends its own list only; for
      // AllDevices the walk goes on with the next class.
      if (!all_devices) return result;
    }
    // The class is used up: the next one's first device has the list index
    // reached so far.
    m_nEnumBase = walking ? position : index;
    ++m_nEnumClass;
    m_dwEnumCur = ServiceOposSubKeyAt(m_nEnumClass).class_index;
  }
}

int CRegistryInfo::EnumKey(const char* key, unsigned int index, CString& name) {
  return EnumKey(ResolveKeyText(key), index, name);
}

int CRegistryInfo::DeleteKey(unsigned long code) {
  if (!m_bCreate) return FALSE;
  DWORD c = static_cast<DWORD>(code);
  if (c == KC_CURRENT_DEVICE) c = m_dwDevKey;
  int result = FALSE;
  switch (c) {
    case KC_ALL_DEVICES: {
      // KC_CURRENT_DEVICE as the device code makes key code 0x400 name the
      // path held in m_strDeviceID: each device listed in turn.
      m_dwDevKey = KC_CURRENT_DEVICE;
      result = TRUE;
      CString previous;
      for (;;) {
        CString device;
        const int listed = EnumKey(KC_ALL_DEVICES, 0, device);
        m_strDeviceID = device;
        if (!listed) break;
        // A device still listed after its deletion succeeded would repeat
        // forever.
        if (!previous.IsEmpty() && SameName(previous, device)) {
          result = FALSE;
          break;
        }
        previous = device;
        if (!DeleteKey(KC_CURRENT_DEVICE)) {
          result = FALSE;
          break;
        }
      }
      break;
    }
    case KC_OLEFORRETAIL:
      DeleteKey(KC_SERVICEOPOS);
      DeleteKey(KC_SERVICEINFO);
      CloseLevels(KC_DEVICE_MASK | KC_CLASS_MASK | KC_SERVICEOPOS | KC_SERVICEINFO_SUBKEY |
                  KC_SERVICEINFO | KC_OLEFORRETAIL);
      result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, opossvc::detail::kRootPath) == ERROR_SUCCESS;
      break;
    case KC_SERVICEOPOS:
      DeleteKey(KC_ALL_DEVICES);
      CloseLevels(KC_DEVICE_MASK | KC_CLASS_MASK | KC_SERVICEOPOS);
      result = Open(KC_OLEFORRETAIL, TRUE) &&
               PurgeRegKey(m_hOLEforRetail, opossvc::detail::kServiceOposName) == ERROR_SUCCESS;
      break;
    case KC_SERVICEINFO: {
      const int prefix = static_cast<int>(std::strlen(opossvc::detail::kServiceInfoName)) + 1;
      CString previous;
      for (;;) {
        CString listed;
        if (!EnumKey(KC_SERVICEINFO, 0, listed)) break;
        if (!previous.IsEmpty() && SameName(previous, listed)) break;
        previous = listed;
        m_strServiceInfo = listed.Mid(prefix);
        if (!DeleteKey(KC_SERVICEINFO_SUBKEY)) break;
      }
      CloseLevels(KC_SERVICEINFO_SUBKEY | KC_SERVICEINFO);
      result = Open(KC_OLEFORRETAIL, TRUE) &&
               RegDeleteKeyA(m_hOLEforRetail, opossvc::detail::kServiceInfoName) == ERROR_SUCCESS;
      break;
    }
    case KC_SERVICEINFO_SUBKEY:
      CloseLevels(KC_SERVICEINFO_SUBKEY);
      // An empty sub-key name would make the purge take ServiceInfo itself.
      result = !m_strServiceInfo.IsEmpty() && Open(KC_SERVICEINFO, TRUE) &&
               PurgeRegKey(m_hServiceInfo, m_strServiceInfo) == ERROR_SUCCESS;
      break;
    default: {
      // A class key with its devices, the current device's key, or (during
      // the deletion of all devices) the path in m_strDeviceID.
      const CString path = ConvKey(c);
      if (path.IsEmpty() || !Open(KC_SERVICEOPOS, TRUE)) return FALSE;
      const DWORD open_device = m_dwOpenKeys & KC_DEVICE_MASK;
      if (IsDeviceCode(c)) {
        if (open_device == c) CloseLevels(KC_DEVICE_MASK);
      } else if (IsClassCode(c)) {
        // The held device key lies below the class key.
        if ((m_dwOpenKeys & KC_CLASS_MASK) == c) CloseLevels(KC_CLASS_MASK);
        if (open_device != 0 && (open_device >> 5) == c) CloseLevels(KC_DEVICE_MASK);
      } else if (open_device != 0) {
        const CString held = m_strOpenDevKey.Left(path.GetLength());
        if (SameName(held, path) && (m_strOpenDevKey.GetLength() == path.GetLength() ||
                                     m_strOpenDevKey[path.GetLength()] == '\\')) {
          CloseLevels(KC_DEVICE_MASK);
        }
      }
      result = PurgeRegKey(m_hServiceOPOS, path) == ERROR_SUCCESS;
      break;
    }
  }
  if (result || c == KC_ALL_DEVICES) m_bModified = TRUE;
  return result;
}

int CRegistryInfo::DeleteKey(const char* key) {
  if (!m_bCreate) return FALSE;
  return DeleteKey(ResolveKeyText(key));
}
