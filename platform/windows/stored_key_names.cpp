// GetStoredKeyNames over the Win32 calls alone: each key's subkeys are
// listed with RegEnumKeyExA and compared with the name sought, ignoring
// letter case as the registry does.
#include "platform/internal/stored_key_names.h"

namespace opossvc::detail {
namespace {

// Subkey names are at most 255 characters; in the ANSI code page a
// character may take two bytes.
constexpr DWORD kMaxKeyName = 2 * 255 + 1;

// The name of the subkey of `key` that `name` names, spelled as stored.
LONG FindSubkey(HKEY key, const std::string& name, std::string* stored) {
  char buffer[kMaxKeyName];
  for (DWORD index = 0;; ++index) {
    DWORD length = kMaxKeyName;
    LONG error = RegEnumKeyExA(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return ERROR_FILE_NOT_FOUND;
    if (error != ERROR_SUCCESS) return error;
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, buffer, static_cast<int>(length),
                       name.data(), static_cast<int>(name.size())) == CSTR_EQUAL) {
      stored->assign(buffer, length);
      return ERROR_SUCCESS;
    }
  }
}

LONG FindAll(HKEY key, const std::vector<std::string>& names, std::vector<std::string>* stored) {
  HKEY current = key;
  LONG error = ERROR_SUCCESS;
  for (const std::string& name : names) {
    std::string found;
    if (name.empty() || name.find('\\') != std::string::npos) {
      error = ERROR_FILE_NOT_FOUND;
    } else {
      error = FindSubkey(current, name, &found);
    }
    HKEY next = nullptr;
    if (error == ERROR_SUCCESS) {
      error = RegOpenKeyExA(current, found.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &next);
    }
    if (current != key) RegCloseKey(current);
    if (error != ERROR_SUCCESS) return error;
    stored->push_back(std::move(found));
    current = next;
  }
  if (current != key) RegCloseKey(current);
  return ERROR_SUCCESS;
}

}  // namespace

LONG GetStoredKeyNames(HKEY key, const std::vector<std::string>& names,
                       std::vector<std::string>* stored) {
  if (stored == nullptr) return ERROR_INVALID_PARAMETER;
  stored->clear();
  LONG error = FindAll(key, names, stored);
  if (error != ERROR_SUCCESS) stored->clear();
  return error;
}

}  // namespace opossvc::detail
