#include "tools/oposreg/registry_tree.h"

#include <algorithm>

#include "tools/oposreg/command_line.h"
#include "tools/oposreg/store_access.h"

namespace opossvc::oposreg {
namespace {

// A key being read: its handle and the names of its sub-keys, of which
// those from `next` on are still to be read.
struct Level {
  HKEY key = nullptr;
  std::vector<std::string> children;
  size_t next = 0;
};

// Opens `name` below `parent` (the parent itself for ""), reads its values
// and sub-key names, adds it to `keys` and pushes it onto `levels`.
LONG Enter(HKEY parent, const std::string& name, std::string entry_name, std::vector<Level>* levels,
           std::vector<RegKey>* keys) {
  Level level;
  LONG error =
      RegOpenKeyExA(parent, name.empty() ? nullptr : name.c_str(), 0, KEY_READ, &level.key);
  if (error != ERROR_SUCCESS) return error;
  RegKey entry;
  entry.name = std::move(entry_name);
  entry.depth = static_cast<int>(levels->size());
  error = ReadKeyValues(level.key, &entry.values);
  if (error == ERROR_SUCCESS) error = ReadSubKeyNames(level.key, &level.children);
  if (error != ERROR_SUCCESS) {
    RegCloseKey(level.key);
    return error;
  }
  keys->push_back(std::move(entry));
  levels->push_back(std::move(level));
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
  // Depth first with the path from the key asked for down to the key read
  // last held in `levels`, not on the stack.
  std::vector<Level> levels;
  struct CloseAll {
    std::vector<Level>& levels;
    ~CloseAll() {
      for (const Level& level : levels) RegCloseKey(level.key);
    }
  } close_all{levels};
  if (LONG error = Enter(key.root, key.sub_key, key.FullName(), &levels, keys)) return error;
  while (!levels.empty()) {
    Level& top = levels.back();
    if (top.next == top.children.size()) {
      RegCloseKey(top.key);
      levels.pop_back();
      continue;
    }
    std::string child = std::move(top.children[top.next++]);
    LONG error = Enter(top.key, child, child, &levels, keys);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_KEY_DELETED) {
      return error;
    }
  }
  return ERROR_SUCCESS;
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

const std::string& KeyPaths::Next(const RegKey& key) {
  const auto depth = static_cast<size_t>(key.depth);
  ends_.resize(depth);
  path_.resize(depth == 0 ? 0 : ends_.back());
  if (depth > 0) path_ += '\\';
  path_ += key.name;
  ends_.push_back(path_.size());
  return path_;
}

}  // namespace opossvc::oposreg
