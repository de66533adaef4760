// The fixed names of the OPOS registry database and small helpers on names,
// shared by the CRegistryInfo sources.
#ifndef OPOSSVC_REGISTRY_KEY_TABLE_H_
#define OPOSSVC_REGISTRY_KEY_TABLE_H_

#include <cstddef>

#include <opossvc/afx/cstring.h>
#include <opossvc/opos.h>
#include <opossvc/win32/types.h>

namespace opossvc::detail {

inline constexpr const char kRootPath[] = "SOFTWARE\\OLEforRetail";
inline constexpr const char kServiceOposName[] = "ServiceOPOS";
inline constexpr const char kServiceInfoName[] = "ServiceInfo";
inline constexpr const char kAllDevicesName[] = "AllDevices";
inline constexpr const char kAllClassesName[] = "AllClasses";

// Buffer for one key name from RegEnumKeyExA: 255 UTF-16 units, which take
// at most 765 bytes in any supported code page, and the NUL.
inline constexpr DWORD kKeyNameBuffer = 1024;
// The same for value names (16383 UTF-16 units).
inline constexpr DWORD kValueNameBuffer = 3 * 16383 + 1;

// The class key name of a class index 1..18; null for any other value.
const char* ClassName(DWORD index);

// The key path of a code that names a fixed key: a class index, the root,
// ServiceOPOS, ServiceInfo or AllDevices; null for any other code.
const char* FixedKeyPath(DWORD code);

// The class index of a class key name (letter case ignored); 0 for none.
DWORD ClassIndex(const char* name);

inline bool IsClassCode(DWORD code) { return code != 0 && (code & ~KC_CLASS_MASK) == 0; }
inline bool IsDeviceCode(DWORD code) { return code != 0 && (code & ~KC_DEVICE_MASK) == 0; }

// Whether `text` begins with the ASCII name `prefix`, ignoring ASCII letter
// case. A match covers whole characters in every code page: no lead byte of
// a double-byte character equals an ASCII byte.
bool StartsWithName(const char* text, const char* prefix);

// Two registry names compare equal ignoring letter case, exactly as the
// registry compares them (CompareStringOrdinal on the decoded names): the
// object takes two names for one key when the registry does, and only then.
bool SameName(const char* a, const char* b);

// "<parent>\<child>", made in one allocation.
CString JoinPath(const char* parent, const CString& child);

// Orders registry names as SameName compares them, for sets of names.
struct NameLess {
  bool operator()(const CString& a, const CString& b) const { return a.CompareNoCase(b) < 0; }
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_REGISTRY_KEY_TABLE_H_
