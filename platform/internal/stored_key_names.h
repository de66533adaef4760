// A registry call of the library's own, beside the Win32 ones, for callers
// inside the library. It takes an HKEY and answers Win32 error codes as the
// Reg* calls do. Every platform provides it: the POSIX store answers from
// its name index; where only the Win32 calls exist, it lists each key's
// subkeys with RegEnumKeyExA and compares their names.
#ifndef OPOSSVC_PLATFORM_INTERNAL_STORED_KEY_NAMES_H_
#define OPOSSVC_PLATFORM_INTERNAL_STORED_KEY_NAMES_H_

#include <string>
#include <vector>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

// The keys that `names` lead to, each below the one before it and the
// first below `key`, as the registry spells them (with the letter case they
// were created with): one lookup per name, where listing each key's
// subkeys to compare their names would take one per subkey. Each name is
// one key's name, taken whole: an empty one, or one holding a backslash,
// matches no key. Needs KEY_ENUMERATE_SUB_KEYS on `key`, as listing does.
// ERROR_FILE_NOT_FOUND unless every key is there, and then *stored is empty.
LONG GetStoredKeyNames(HKEY key, const std::vector<std::string>& names,
                       std::vector<std::string>* stored);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_STORED_KEY_NAMES_H_
