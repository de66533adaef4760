// oposreg tree [KEY]
#include <cstdio>

#include "tools/oposreg/commands.h"
#include "tools/oposreg/key_path.h"
#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/store_access.h"
#include "tools/oposreg/value_text.h"

namespace opossvc::oposreg {

int RunTree(const Invocation& invocation) {
  std::string key_text = invocation.args.empty() ? kOposRootKey : invocation.args[0];
  KeyPath key;
  std::vector<RegKey> keys;
  if (int status = ReadTreeForCommand(key_text, &key, &keys)) return status;
  for (const RegKey& k : keys) {
    std::string indent(2 * k.depth, ' ');
    std::printf("%s%s\n", indent.c_str(), k.name.c_str());
    for (const RegValue& value : k.values) {
      std::printf("%s  %s\n", indent.c_str(), ValueLine(value).c_str());
    }
  }
  return kExitOk;
}

}  // namespace opossvc::oposreg
