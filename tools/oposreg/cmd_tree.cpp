// oposreg tree [KEY]
#include <cstdio>

#include "tools/oposreg/commands.h"
#include "tools/oposreg/json_writer.h"
#include "tools/oposreg/key_path.h"
#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/store_access.h"
#include "tools/oposreg/value_text.h"

namespace opossvc::oposreg {

namespace {

// The tree as nested objects: name, values and keys, each key inside its
// parent's "keys".
void PrintJson(const std::vector<RegKey>& keys) {
  JsonWriter json;
  int open = 0;  // keys whose "keys" array is still open
  for (const RegKey& k : keys) {
    for (; open > k.depth; --open) {
      json.EndArray();
      json.EndObject();
    }
    json.BeginObject();
    json.Member("name", k.name);
    json.Key("values");
    json.BeginArray();
    for (const RegValue& value : k.values) WriteValueJson(value, &json);
    json.EndArray();
    json.Key("keys");
    json.BeginArray();
    ++open;
  }
  for (; open > 0; --open) {
    json.EndArray();
    json.EndObject();
  }
  std::fputs(json.Text().c_str(), stdout);
}

}  // namespace

int RunTree(const Invocation& invocation) {
  std::string key_text = invocation.args.empty() ? kOposRootKey : invocation.args[0];
  KeyPath key;
  std::vector<RegKey> keys;
  if (int status = ReadTreeForCommand(key_text, &key, &keys)) return status;
  if (invocation.json) {
    PrintJson(keys);
    return kExitOk;
  }
  for (const RegKey& k : keys) {
    std::string indent(2 * k.depth, ' ');
    std::printf("%s%s\n", indent.c_str(), Escaped(k.name).c_str());
    for (const RegValue& value : k.values) {
      std::printf("%s  %s\n", indent.c_str(), ValueLine(value).c_str());
    }
  }
  return kExitOk;
}

}  // namespace opossvc::oposreg
