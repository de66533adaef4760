// A snapshot of a registry key and everything below it, read through the
// Win32 registry calls, for the commands that show or export keys.
//
// The tree is read without recursion and each key keeps only its own name,
// so that no depth of tree exhausts the stack and memory grows with the
// tree's size, not with the square of its depth. KeyPaths gives the full
// path of each key while the snapshot is walked in order.
#ifndef OPOSSVC_TOOLS_OPOSREG_REGISTRY_TREE_H_
#define OPOSSVC_TOOLS_OPOSREG_REGISTRY_TREE_H_

#include <string>
#include <vector>

#include <opossvc/win32/registry.h>

#include "tools/oposreg/key_path.h"

namespace opossvc::oposreg {

struct RegValue {
  std::string name;  // "" for the key's default value
  DWORD type = REG_NONE;
  std::string data;  // the bytes as stored
};

struct RegKey {
  // The key's own name; for the key asked for (depth 0) its full name,
  // "HKEY_LOCAL_MACHINE\...".
  std::string name;
  int depth = 0;                 // 0 for the key asked for
  std::vector<RegValue> values;  // in the store's order
};

// Reads `key` and its sub-keys, parents before children, sub-keys in the
// store's order. ERROR_SUCCESS, or the registry's error for the key itself
// (ERROR_FILE_NOT_FOUND when it does not exist); a sub-key that vanishes
// while it is read is left out.
LONG ReadKeyTree(const KeyPath& key, std::vector<RegKey>* keys);

// For the commands that show a tree: parses `key_text`, checks the store and
// reads the tree, or says on standard error why not. The exit status of the
// failure (usage or failure), or kExitOk.
int ReadTreeForCommand(const std::string& key_text, KeyPath* key, std::vector<RegKey>* keys);

// The values of one key.
LONG ReadKeyValues(HKEY key, std::vector<RegValue>* values);

// The names of the direct sub-keys of an open key.
LONG ReadSubKeyNames(HKEY key, std::vector<std::string>* names);

// The full names of the keys of a snapshot, asked for in the snapshot's
// order: each answer holds until the next call.
class KeyPaths {
 public:
  const std::string& Next(const RegKey& key);

 private:
  std::string path_;          // the key answered last
  std::vector<size_t> ends_;  // ends_[d]: length of its ancestor at depth d
};

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_REGISTRY_TREE_H_
