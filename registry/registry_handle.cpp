// CRegistryInfo as a set of open keys: construction, reset, Open, OpenKey
// and Close.
#include <opossvc/registry.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/internal/stored_key_names.h"
#include "registry/key_table.h"

using opossvc::detail::FixedKeyPath;
using opossvc::detail::IsDeviceCode;
using opossvc::detail::SameName;

namespace {

constexpr REGSAM kReadAccess = KEY_READ;
constexpr REGSAM kWriteAccess = KEY_READ | KEY_WRITE;
constexpr DWORD kEveryLevel = KC_DEVICE_MASK | KC_CLASS_MASK | KC_SERVICEOPOS |
                              KC_SERVICEINFO_SUBKEY | KC_SERVICEINFO | KC_OLEFORRETAIL;

}  // namespace

CRegistryInfo::CRegistryInfo()
    : m_hOLEforRetail(nullptr),
      m_hServiceOPOS(nullptr),
      m_hServiceInfo(nullptr),
      m_hInfoSubKey(nullptr),
      m_hClass(nullptr),
      m_hDevice(nullptr),
      m_bEnumPrefix(TRUE),
      m_nSaveCount(0),
      m_dwSavedType(0),
      m_dwSavedValue(0) {
  Init(FALSE);
}

CRegistryInfo::CRegistryInfo(unsigned long code, int create) : CRegistryInfo() {
  Open(code, create);
}

CRegistryInfo::CRegistryInfo(const char* text, unsigned long code, int create) : CRegistryInfo() {
  Open(text, code, create);
  if ((static_cast<DWORD>(code) & (KC_SERVICEINFO | KC_SERVICEINFO_SUBKEY)) == 0) {
    GetDeviceInfo(text, code);
  }
}

// Close(FALSE) without its reset of the fields, which go with the object.
CRegistryInfo::~CRegistryInfo() { CloseLevels(kEveryLevel); }

void CRegistryInfo::Init(int keepOpen) {
  if (!keepOpen) {
    m_dwOpenClass = 0;
    m_dwOpenKeys = 0;
    m_bCreate = FALSE;
    m_dwReadType = 0;
    m_strReadValue.Empty();
    m_dwReadValue = 0;
    m_binReadValue.RemoveAll();
    m_strServiceInfo.Empty();
    m_bModified = FALSE;
    m_dwEnumKey = 0;
    m_nEnumLast = 0;
    m_dwEnumCur = 0;
    m_nEnumBase = 0;
    m_nEnumClass = -1;
  }
  m_dwPortNo = 0;
  m_dwDevKey = 0;
  m_dwDevClass = 0;
  m_strDevice.Empty();
  m_strDeviceID.Empty();
  m_strSOName.Empty();
  m_strSOFile.Empty();
  m_strSODesc.Empty();
  m_strSOVersion.Empty();
  m_strDeviceName.Empty();
  m_strDeviceDesc.Empty();
  m_strPortName.Empty();
  // Forgetting the paths makes the next open of the device or sub-key level
  // close and reopen it, even while its handle stays open.
  m_strOpenDevKey.Empty();
  m_strOpenInfoKey.Empty();
}

void CRegistryInfo::InitObj() {
  m_nSaveCount = 0;
  Init(FALSE);
}

int CRegistryInfo::Open(unsigned long code, int create) {
  const DWORD c = static_cast<DWORD>(code);
  m_bCreate = create;
  int result = TRUE;
  if (!OpenKey(HKEY_LOCAL_MACHINE, KC_OLEFORRETAIL, m_hOLEforRetail, create)) return FALSE;
  if (c & (KC_SERVICEOPOS | KC_CLASS_MASK | KC_DEVICE_MASK)) {
    if (!OpenKey(m_hOLEforRetail, KC_SERVICEOPOS, m_hServiceOPOS, create)) {
      result = FALSE;
    } else {
      if ((c & KC_CLASS_MASK) && !OpenKey(m_hServiceOPOS, c & KC_CLASS_MASK, m_hClass, create)) {
        result = FALSE;
      }
      const DWORD device = c & KC_DEVICE_MASK;
      if (device != 0) {
        // A device code names the device this object holds; reopening runs
        // its lookup again. Any other device code names no key: looking the
        // held name up in another class could find, or create, a stranger.
        const CString name(m_strDevice);
        if (device != m_dwDevKey || !Open(name, device, create)) result = FALSE;
      }
    }
  }
  if (c & (KC_SERVICEINFO | KC_SERVICEINFO_SUBKEY)) {
    if (!OpenKey(m_hOLEforRetail, KC_SERVICEINFO, m_hServiceInfo, create)) return FALSE;
    if (c & KC_SERVICEINFO_SUBKEY) {
      const CString path(m_strServiceInfo);
      if (!Open(path, KC_SERVICEINFO_SUBKEY, create)) return FALSE;
    }
  }
  return result;
}

int CRegistryInfo::Open(const char* text, unsigned long code, int create) {
  m_bCreate = create;
  if (!OpenKey(HKEY_LOCAL_MACHINE, KC_OLEFORRETAIL, m_hOLEforRetail, create)) return FALSE;
  const char* rest = text;
  unsigned long c = code;
  if (!ValidateKey(rest, c)) return FALSE;
  if (c & (KC_SERVICEINFO | KC_SERVICEINFO_SUBKEY)) {
    return OpenServiceInfoSubKey(rest, create);
  }
  // No second attempt on failure: a failed lookup leaves no device code to
  // reopen, and one that failed early would still hold the previous
  // device's, which must not be reported as this open's success.
  return OpenDevice(rest, c, create);
}

int CRegistryInfo::OpenServiceInfoSubKey(const char* path, int create) {
  // `path` may point into m_strServiceInfo itself.
  const CString name(path != nullptr ? path : "");
  m_strServiceInfo = name;
  if (!Open(KC_OLEFORRETAIL, create)) return FALSE;
  return OpenKey(m_hOLEforRetail, KC_SERVICEINFO_SUBKEY, m_hInfoSubKey, create);
}

int CRegistryInfo::OpenKey(HKEY parent, unsigned long code, HKEY& slot, int create,
                           DWORD* disposition) {
  const DWORD c = static_cast<DWORD>(code);
  // Only the device and sub-key levels are told apart by their paths; the
  // others need theirs only to be opened.
  const bool by_path = (c & (KC_DEVICE_MASK | KC_SERVICEINFO_SUBKEY)) != 0;
  CString name;
  if (by_path) name = ConvKey(c);
  DWORD created = REG_OPENED_EXISTING_KEY;

  const bool device_change = (c & KC_DEVICE_MASK) && !SameName(name, m_strOpenDevKey);
  const bool class_change = (c & KC_CLASS_MASK) && m_dwOpenClass != (c & KC_CLASS_MASK);
  const bool subkey_change = (c & KC_SERVICEINFO_SUBKEY) && !SameName(name, m_strOpenInfoKey);
  const bool shares = (c & m_dwOpenKeys) != 0;
  const bool held = shares && !device_change && !class_change && !subkey_change;

  if (held && !create) {
    if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
    return TRUE;
  }
  // A held level of a fixed path, asked for with the create flag: the new
  // handle is opened from the held one, with no path to look up. A held key
  // that is gone (or that cannot be reopened so) is made again from its
  // path below.
  if (held && !by_path) {
    HKEY reopened = nullptr;
    if (RegCreateKeyExA(slot, "", 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess, nullptr,
                        &reopened, nullptr) == ERROR_SUCCESS) {
      RegCloseKey(slot);
      slot = reopened;
      if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
      return TRUE;
    }
  }
  // A different key of this level, or the same one asked for with the
  // create flag (to gain write access), replaces the held one.
  if (shares || (device_change && (m_dwOpenKeys & KC_DEVICE_MASK)) ||
      (class_change && (m_dwOpenKeys & KC_CLASS_MASK))) {
    RegCloseKey(slot);
    slot = nullptr;
    if (device_change) {
      m_strOpenDevKey.Empty();
      m_dwOpenKeys &= ~KC_DEVICE_MASK;
    } else if (class_change) {
      m_dwOpenClass = 0;
      m_dwOpenKeys &= ~KC_CLASS_MASK;
    } else {
      if (subkey_change) m_strOpenInfoKey.Empty();
      m_dwOpenKeys &= ~c;
    }
  }

  // A fixed key's path needs no string of its own.
  const char* fixed = by_path ? nullptr : FixedKeyPath(c);
  if (!by_path && fixed == nullptr) name = ConvKey(c);
  const char* path = fixed != nullptr ? fixed : name.GetString();
  if (*path == '\0') return FALSE;
  // Without the create flag the key is only opened: creating it and deleting
  // it again would leave it behind on a crash, and could delete a key that
  // another process created in between.
  HKEY key = nullptr;
  if (create) {
    if (RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess, nullptr,
                        &key, &created) != ERROR_SUCCESS) {
      return FALSE;
    }
  } else if (RegOpenKeyExA(parent, path, 0, kReadAccess, &key) != ERROR_SUCCESS) {
    return FALSE;
  }
  slot = key;
  m_dwOpenKeys |= c;
  if (device_change) m_strOpenDevKey = std::move(name);
  if (class_change) m_dwOpenClass = c & KC_CLASS_MASK;
  if (subkey_change) m_strOpenInfoKey = std::move(name);

  if (IsDeviceCode(c) || c == KC_SERVICEINFO_SUBKEY) {
    // A name of one level whose key this call made is spelt as the registry
    // holds it already.
    const CString& held = IsDeviceCode(c) ? m_strDevice : m_strServiceInfo;
    if (created != REG_CREATED_NEW_KEY || held.Find('\\') >= 0) CorrectCase(c);
  }
  if (disposition != nullptr) *disposition = created;
  return TRUE;
}

void CRegistryInfo::CorrectCase(DWORD code) {
  const bool device = IsDeviceCode(code);
  CString& held = device ? m_strDevice : m_strServiceInfo;
  if (held.IsEmpty()) return;
  const DWORD up = device ? static_cast<DWORD>(ConvDevCls(code)) : KC_SERVICEINFO;
  if (!Open(up, m_bCreate)) return;
  HKEY current = GetHKEY(up);
  if (current == nullptr) return;

  // Take every name of the path as the registry spells it. Every one must
  // be found: a partial result would name another key.
  // The separator is found character-wise: a trail byte of a double-byte
  // character may equal the backslash.
  std::vector<std::string> names;
  for (int start = 0;;) {
    const int end = held.Find('\\', start);
    const int length = end < 0 ? held.GetLength() - start : end - start;
    names.emplace_back(held.GetString() + start, static_cast<size_t>(length));
    if (end < 0) break;
    start = end + 1;
  }
  std::vector<std::string> stored;
  if (opossvc::detail::GetStoredKeyNames(current, names, &stored) != ERROR_SUCCESS) return;
  std::string corrected;
  for (size_t i = 0; i < stored.size(); ++i) {
    if (i > 0) corrected += '\\';
    corrected += stored[i];
  }
  held.SetString(corrected.data(), static_cast<int>(corrected.size()));
}

void CRegistryInfo::CloseLevels(DWORD levels) {
  struct Level {
    DWORD bits;
    HKEY CRegistryInfo::*slot;
  };
  static constexpr Level kLevels[] = {
      {KC_DEVICE_MASK, &CRegistryInfo::m_hDevice},
      {KC_CLASS_MASK, &CRegistryInfo::m_hClass},
      {KC_SERVICEOPOS, &CRegistryInfo::m_hServiceOPOS},
      {KC_SERVICEINFO_SUBKEY, &CRegistryInfo::m_hInfoSubKey},
      {KC_SERVICEINFO, &CRegistryInfo::m_hServiceInfo},
      {KC_OLEFORRETAIL, &CRegistryInfo::m_hOLEforRetail},
  };
  for (const Level& level : kLevels) {
    if ((levels & level.bits) == 0 || (m_dwOpenKeys & level.bits) == 0) continue;
    RegCloseKey(this->*level.slot);
    this->*level.slot = nullptr;
    m_dwOpenKeys &= ~level.bits;
    if (level.bits == KC_DEVICE_MASK) m_strOpenDevKey.Empty();
    if (level.bits == KC_CLASS_MASK) m_dwOpenClass = 0;
    if (level.bits == KC_SERVICEINFO_SUBKEY) m_strOpenInfoKey.Empty();
  }
}

void CRegistryInfo::Close(int flush) {
  if (flush && m_bModified) {
    const HKEY order[] = {(m_dwOpenKeys & KC_DEVICE_MASK) ? m_hDevice : nullptr,
                          (m_dwOpenKeys & KC_CLASS_MASK) ? m_hClass : nullptr,
                          (m_dwOpenKeys & KC_SERVICEOPOS) ? m_hServiceOPOS : nullptr,
                          (m_dwOpenKeys & KC_SERVICEINFO_SUBKEY) ? m_hInfoSubKey : nullptr,
                          (m_dwOpenKeys & KC_SERVICEINFO) ? m_hServiceInfo : nullptr,
                          (m_dwOpenKeys & KC_OLEFORRETAIL) ? m_hOLEforRetail : nullptr};
    for (HKEY key : order) {
      if (key != nullptr) RegFlushKey(key);
    }
  }
  CloseLevels(kEveryLevel);
  Init(FALSE);
}
