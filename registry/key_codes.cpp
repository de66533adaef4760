// Key codes and key texts: the translations between them and the handle a
// key code stands for. Nothing here changes the object.
#include <cstring>
#include <string>
#include <string_view>

#include <opossvc/registry.h>
#include <opossvc/win32/codepage.h>

#include "registry/key_table.h"

namespace opossvc::detail {
namespace {

constexpr const char* kClassNames[KC_CLASS_COUNT + 1] = {
    nullptr,         "CashDrawer",       "CashChanger",        "CoinDispenser",
    "HardTotals",    "Keylock",          "LineDisplay",        "MICR",
    "MSR",           "POSKeyboard",      "POSPrinter",         "Scale",
    "Scanner",       "SignatureCapture", "ToneIndicator",      "BumpBar",
    "FiscalPrinter", "PINPad",           "RemoteOrderDisplay",
};

// The order in which texts are matched against the class names.
constexpr DWORD kMatchOrder[KC_CLASS_COUNT] = {2,  1,  3,  4,  5,  6,  7,  8,  9,
                                               10, 11, 12, 13, 14, 15, 16, 17, 18};

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Text of the active code page as UTF-16 (invalid bytes become the page's
// replacement character, U+FFFD or U+30FB in 932, as the registry calls take
// them). One call converts it where a unit a byte is room enough, as it is
// for the text of every common code page.
std::basic_string<WCHAR> Wide(const char* text) {
  const size_t bytes = text != nullptr ? std::strlen(text) : 0;
  if (bytes == 0 || bytes > 0x3FFFFFFF) return std::basic_string<WCHAR>();
  const int length = static_cast<int>(bytes);
  std::basic_string<WCHAR> wide(bytes, WCHAR());
  int units = MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), length);
  if (units == 0) {
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0)));
    units = wide.empty() ? 0
                         : MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(),
                                               static_cast<int>(wide.size()));
  }
  wide.resize(static_cast<size_t>(units));
  return wide;
}

}  // namespace

CString JoinPath(const char* parent, const CString& child) {
  const int length = static_cast<int>(std::strlen(parent));
  const int child_length = child.GetLength();
  CString path;
  char* out = path.GetBuffer(length + 1 + child_length);
  std::memcpy(out, parent, static_cast<size_t>(length));
  out[length] = '\\';
  std::memcpy(out + length + 1, child.GetString(), static_cast<size_t>(child_length));
  path.ReleaseBuffer(length + 1 + child_length);
  return path;
}

const char* ClassName(DWORD index) {
  return (index >= 1 && index <= KC_CLASS_COUNT) ? kClassNames[index] : nullptr;
}

const char* FixedKeyPath(DWORD code) {
  if (IsClassCode(code)) return ClassName(code);
  switch (code) {
    case KC_ALL_DEVICES:
      return kAllDevicesName;
    case KC_OLEFORRETAIL:
      return kRootPath;
    case KC_SERVICEOPOS:
      return kServiceOposName;
    case KC_SERVICEINFO:
      return kServiceInfoName;
    default:
      return nullptr;
  }
}

DWORD ClassIndex(const char* name) {
  if (name == nullptr) return 0;
  for (DWORD i = 1; i <= KC_CLASS_COUNT; ++i) {
    if (StartsWithName(name, kClassNames[i]) && name[std::strlen(kClassNames[i])] == '\0') {
      return i;
    }
  }
  return 0;
}

bool StartsWithName(const char* text, const char* prefix) {
  if (text == nullptr || prefix == nullptr) return false;
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text == '\0' || AsciiLower(*text) != AsciiLower(*prefix)) return false;
  }
  return true;
}

namespace {

// Whether each byte of `text` is a character of its own in every code page:
// printable ASCII is never part of a longer character, nor a shift.
bool PrintableAscii(std::string_view text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

bool SameName(const char* a, const char* b) {
  const std::string_view bytes_a = a != nullptr ? a : "";
  const std::string_view bytes_b = b != nullptr ? b : "";
  // The same bytes are the same text; printable ASCII of other lengths
  // never is, whatever the code page.
  if (bytes_a == bytes_b) return true;
  if (bytes_a.size() != bytes_b.size() && PrintableAscii(bytes_a) && PrintableAscii(bytes_b)) {
    return false;
  }
  const std::basic_string<WCHAR> wide_a = Wide(a);
  const std::basic_string<WCHAR> wide_b = Wide(b);
  return CompareStringOrdinal(wide_a.c_str(), static_cast<int>(wide_a.size()), wide_b.c_str(),
                              static_cast<int>(wide_b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace opossvc::detail

using opossvc::detail::ClassName;
using opossvc::detail::FixedKeyPath;
using opossvc::detail::IsClassCode;
using opossvc::detail::IsDeviceCode;
using opossvc::detail::JoinPath;
using opossvc::detail::SameName;
using opossvc::detail::StartsWithName;

CString CRegistryInfo::ConvKey(unsigned long code) const {
  DWORD c = static_cast<DWORD>(code);
  if (c == KC_CURRENT_DEVICE) c = m_dwDevKey;
  if (const char* fixed = FixedKeyPath(c)) return CString(fixed);
  if (IsClassCode(c)) return CString();  // an index without a class
  switch (c) {
    case KC_SERVICEINFO_SUBKEY:
      if (m_strServiceInfo.IsEmpty()) return CString();
      return JoinPath(opossvc::detail::kServiceInfoName, m_strServiceInfo);
    case KC_CURRENT_DEVICE:
      // Reached only while m_dwDevKey holds KC_CURRENT_DEVICE, as DeleteKey
      // does to name each device path it lists.
      return m_strDeviceID;
    default:
      break;
  }
  if (IsDeviceCode(c) && c == m_dwDevKey) {
    if (!m_strDeviceID.IsEmpty()) return m_strDeviceID;
    const char* name = ClassName(c >> 5);
    // "<class>\" alone would name the class key itself.
    if (name == nullptr || m_strDevice.IsEmpty()) return CString();
    return JoinPath(name, m_strDevice);
  }
  return CString();
}

unsigned long CRegistryInfo::ConvKey(const char* text) const {
  if (text == nullptr) return 0;
  // The object's own device is recognised without a lookup.
  if (m_dwDevKey != 0 && *text != '\0' && SameName(text, m_strDeviceID)) return m_dwDevKey;
  for (DWORD index : opossvc::detail::kMatchOrder) {
    unsigned long code = ConvDevKey(text, ClassName(index), index, index << 5);
    if (code != 0) return code;
  }
  unsigned long code =
      ConvDevKey(text, opossvc::detail::kServiceInfoName, KC_SERVICEINFO, KC_SERVICEINFO_SUBKEY);
  if (code != 0) return code;
  if (SameName(text, opossvc::detail::kRootPath)) return KC_OLEFORRETAIL;
  if (SameName(text, opossvc::detail::kServiceOposName)) return KC_SERVICEOPOS;
  if (SameName(text, opossvc::detail::kAllClassesName)) return KC_SERVICEOPOS;
  if (SameName(text, opossvc::detail::kAllDevicesName)) return KC_ALL_DEVICES;
  return 0;
}

unsigned long CRegistryInfo::ConvDevCls(unsigned long code) const {
  DWORD c = static_cast<DWORD>(code);
  if (IsClassCode(c)) return c << 5;
  if (IsDeviceCode(c)) return c >> 5;
  return 0;
}

unsigned long CRegistryInfo::ConvDevKey(const char* text, const char* name, unsigned long code,
                                        unsigned long devCode) const {
  if (text == nullptr) return 0;
  if (name == nullptr) name = "";
  if (!StartsWithName(text, name)) return 0;
  size_t n = std::strlen(name);
  if (text[n] == '\0') return code;
  // Only "<name>\<rest>" continues; "POSPrinterX" is no path below POSPrinter.
  if (text[n] != '\\' || text[n + 1] == '\0') return 0;
  if (static_cast<DWORD>(code) == KC_SERVICEINFO) {
    if (m_strServiceInfo.IsEmpty() || !SameName(text + n + 1, m_strServiceInfo)) return 0;
    return devCode;
  }
  return FindDevice(text, code).IsEmpty() ? 0 : devCode;
}

HKEY CRegistryInfo::GetHKEY(unsigned long code) const {
  DWORD c = static_cast<DWORD>(code);
  if (c == KC_CURRENT_DEVICE) c = m_dwDevKey;
  switch (c) {
    case KC_OLEFORRETAIL:
      return (m_dwOpenKeys & KC_OLEFORRETAIL) ? m_hOLEforRetail : nullptr;
    case KC_SERVICEOPOS:
      return (m_dwOpenKeys & KC_SERVICEOPOS) ? m_hServiceOPOS : nullptr;
    case KC_SERVICEINFO:
      return (m_dwOpenKeys & KC_SERVICEINFO) ? m_hServiceInfo : nullptr;
    case KC_SERVICEINFO_SUBKEY:
      return (m_dwOpenKeys & KC_SERVICEINFO_SUBKEY) ? m_hInfoSubKey : nullptr;
    default:
      break;
  }
  if (IsClassCode(c)) return (m_dwOpenKeys & KC_CLASS_MASK) == c ? m_hClass : nullptr;
  // A device code names the device this object holds, and nothing else.
  if (IsDeviceCode(c) && c == m_dwDevKey) {
    return (m_dwOpenKeys & KC_DEVICE_MASK) == c ? m_hDevice : nullptr;
  }
  return nullptr;
}

int CRegistryInfo::ValidateKey(const char*& text, unsigned long& code) const {
  if (static_cast<DWORD>(code) & KC_DEVICE_MASK) code = ConvDevCls(code);
  if (text == nullptr) return TRUE;
  // The separator is found character-wise: a trail byte of a double-byte
  // character may equal the backslash (a text without that byte has none).
  const int position = std::strchr(text, '\\') == nullptr ? -1 : CString(text).Find('\\');
  if (position <= 0) return TRUE;
  unsigned long k = ConvKey(CString(text, position));
  if (k == KC_SERVICEINFO) {
    k = KC_SERVICEINFO_SUBKEY;
    if (code == KC_SERVICEINFO) code = KC_SERVICEINFO_SUBKEY;
  }
  if (k == 0) return TRUE;
  if (code != 0 && code != k) return FALSE;
  code = k;
  text += position + 1;
  return TRUE;
}
