// Registry key paths as the shell user types them: a root by its full or
// short name ("HKEY_LOCAL_MACHINE", "HKLM"), then the sub-key path, with
// backslashes between the components ("HKLM\SOFTWARE\OLEforRetail").
#ifndef OPOSSVC_TOOLS_OPOSREG_KEY_PATH_H_
#define OPOSSVC_TOOLS_OPOSREG_KEY_PATH_H_

#include <string>
#include <string_view>

#include <opossvc/win32/registry.h>

namespace opossvc::oposreg {

// The key the tool shows and exports when none is given.
inline constexpr char kOposRootKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail";

struct KeyPath {
  HKEY root = nullptr;
  std::string root_name;  // the full name, "HKEY_LOCAL_MACHINE"
  std::string sub_key;    // "" for the root itself
  // "HKEY_LOCAL_MACHINE\SOFTWARE\OLEforRetail"
  std::string FullName() const;
};

// Parses `text` into `path`. Trailing backslashes are ignored; an unknown
// root, or an empty component ("A\\B"), gives false with a message in `error`.
bool ParseKeyPath(std::string_view text, KeyPath* path, std::string* error);

// The full root name of a predefined root, or "" for any other handle.
std::string RootName(HKEY root);

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_KEY_PATH_H_
