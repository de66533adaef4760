#include "tools/oposreg/registry_tree.h"

#include <algorithm>

#include "tools/oposreg/command_line.h"
#include "tools/oposreg/store_access.h"

namespace opossvc::oposreg {
namespace {

// Closes a key handle when it goes out of scope.
class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (key_) RegCloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  HKEY* receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

LONG ReadBelow(HKEY parent, const std::string& name, const std::string& path, int depth,
               std::vector<RegKey>* keys) {
  ScopedKey key;
  LONG error = RegOpenKeyExA(parent, name.empty() ? nullptr : name.c_str(), 0, KEY_READ,
                             key.receive());
  if (error != ERROR_SUCCESS) return error;
  RegKey entry;
  entry.path = path;
  entry.depth = depth;
  if ((error = ReadKeyValues(key.get(), &entry.values)) != ERROR_SUCCESS) return error;
  keys->push_back(std::move(entry));
  std::vector<std::string> children;
  if ((error = ReadSubKeyNames(key.get(), &children)) != ERROR_SUCCESS) return error;
  for (const std::string& child : children) {
    LONG child_error = ReadBelow(key.get(), child, path + "\\" + child, depth + 1, keys);
    if (child_error != ERROR_SUCCESS && child_error != ERROR_FILE_NOT_FOUND &&
        child_error != ERROR_KEY_DELETED) {
      return child_error;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG ReadKeyValues(HKEY key, std::vector<RegValue>* values) {
  DWORD max_name = 0, max_data = 0;
  LONG error = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                &max_name, &max_data, nullptr, nullptr);
  if (error != ERROR_SUCCESS) return error;
  std::string name(max_name + 1, '\0');
  std::string data(max_data, '\0');
  int retries = 0;
  for (DWORD index = 0;;) {
    DWORD name_size = static_cast<DWORD>(name.size());
    DWORD data_size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    error = RegEnumValueA(key, index, name.data(), &name_size, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &data_size);
    if (error == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (error == ERROR_MORE_DATA && ++retries <= 16) {
      // Written by someone else since the query: grow and read it again.
      name.resize(name.size() * 2);
      data.resize(std::max<size_t>(data.size() * 2, data_size));
      continue;
    }
    if (error != ERROR_SUCCESS) return error;
    values->push_back({name.substr(0, name_size), type, data.substr(0, data_size)});
    ++index;
    retries = 0;
  }
}

LONG ReadSubKeyNames(HKEY key, std::vector<std::string>* names) {
  std::string name(16384, '\0');  // longer than any key name the store takes
  for (DWORD index = 0;; ++index) {
    DWORD size = static_cast<DWORD>(name.size());
    LONG error = RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    names->push_back(name.substr(0, size));
  }
}

LONG ReadKeyTree(const KeyPath& key, std::vector<RegKey>* keys) {
  return ReadBelow(key.root, key.sub_key, key.FullName(), 0, keys);
}

int ReadTreeForCommand(const std::string& key_text, KeyPath* key, std::vector<RegKey>* keys) {
  std::string error;
  if (!ParseKeyPath(key_text, key, &error)) {
    Complain(error);
    return kExitUsage;
  }
  if (!CheckStoreForReading(&error)) {
    Complain(error);
    return kExitFailure;
  }
  if (LONG result = ReadKeyTree(*key, keys)) {
    Complain(key->FullName() + ": " + ErrorText(result));
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace opossvc::oposreg
