#include "tools/oposreg/key_path.h"

#include <strings.h>

namespace opossvc::oposreg {
namespace {

struct RootEntry {
  const char* full;
  const char* abbreviation;
  HKEY key;
};

const RootEntry* Roots() {
  static const RootEntry roots[] = {
      {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
      {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
      {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
      {"HKEY_USERS", "HKU", HKEY_USERS},
      {nullptr, nullptr, nullptr},
  };
  return roots;
}

}  // namespace

std::string KeyPath::FullName() const {
  return sub_key.empty() ? root_name : root_name + "\\" + sub_key;
}

std::string RootName(HKEY root) {
  for (const RootEntry* r = Roots(); r->full; ++r) {
    if (r->key == root) return r->full;
  }
  return "";
}

bool ParseKeyPath(std::string_view text, KeyPath* path, std::string* error) {
  while (!text.empty() && text.back() == '\\') text.remove_suffix(1);
  std::string_view head = text.substr(0, text.find('\\'));
  std::string_view rest = head.size() < text.size() ? text.substr(head.size() + 1) : "";
  const RootEntry* found = nullptr;
  std::string root(head);
  for (const RootEntry* r = Roots(); r->full; ++r) {
    if (strcasecmp(root.c_str(), r->full) == 0 || strcasecmp(root.c_str(), r->abbreviation) == 0) {
      found = r;
    }
  }
  if (!found) {
    *error = "\"" + std::string(text) + "\" does not start with a registry root such as HKLM";
    return false;
  }
  if (rest.find("\\\\") != std::string_view::npos || (!rest.empty() && rest.front() == '\\')) {
    *error = "\"" + std::string(text) + "\" has an empty key name";
    return false;
  }
  path->root = found->key;
  path->root_name = found->full;
  path->sub_key = std::string(rest);
  return true;
}

}  // namespace opossvc::oposreg
