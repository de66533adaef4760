// Key paths and names as the registry calls take them.
//
// A subkey path is a run of names separated by backslashes. It may not
// start with one (ERROR_BAD_PATHNAME); a run of backslashes counts as one
// and trailing backslashes are ignored, so "a\\b\" is "a\b". Names compare
// without regard to letter case: each carries its case-folded key, which
// is what the store indexes. Subkeys are listed in the order of their sort
// keys, the folded name in upper case, which is the order Windows lists
// them in ("A" < "a1" < "b" < "_x").
//
// Lengths count UTF-16 code units of the name decoded from the active code
// page, as Windows does: key names up to 255, value names up to 16383.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_NAMES_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_NAMES_H_

#include <string>
#include <string_view>
#include <vector>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;

struct RegistryName {
  std::string_view text;  // as the caller wrote it; points into the caller's string
  std::string fold;       // case-folded, UTF-8
};

// A subkey path split into names; empty for a null or empty path.
struct KeyPath {
  std::vector<RegistryName> names;
  bool empty() const { return names.empty(); }
};

// Splits `path` (may be null). ERROR_BAD_PATHNAME for a leading backslash.
LONG ParseKeyPath(const char* path, KeyPath* out);

// ERROR_SUCCESS when every name of `path` is short enough to be created,
// else ERROR_INVALID_PARAMETER.
LONG CheckKeyNameLengths(const KeyPath& path);

// A value name; null names the default value, as "" does.
RegistryName MakeValueName(const char* name);

// Whether `name` is short enough to be a value name.
bool ValueNameLengthOk(std::string_view name);

// The sort key of a folded name.
std::string SortKey(std::string_view fold);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_NAMES_H_
