// oposreg export [KEY] [FILE]
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/oposreg/commands.h"
#include "tools/oposreg/key_path.h"
#include "tools/oposreg/regedit4_writer.h"
#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/store_access.h"

namespace opossvc::oposreg {

int RunExport(const Invocation& invocation) {
  std::string key_text = invocation.args.size() > 0 ? invocation.args[0] : kOposRootKey;
  std::string file = invocation.args.size() > 1 ? invocation.args[1] : "-";
  KeyPath key;
  std::vector<RegKey> keys;
  if (int status = ReadTreeForCommand(key_text, &key, &keys)) return status;
  ExportText out = FormatRegedit4(keys);
  for (const std::string& skipped : out.skipped) {
    Complain("left out " + skipped + ": its name holds a line break");
  }
  bool to_stdout = file == "-";
  std::FILE* stream = to_stdout ? stdout : std::fopen(file.c_str(), "wb");
  if (!stream) {
    Complain("cannot write " + file + ": " + std::strerror(errno));
    return kExitFailure;
  }
  bool ok = std::fwrite(out.text.data(), 1, out.text.size(), stream) == out.text.size();
  ok = (to_stdout ? std::fflush(stream) : std::fclose(stream)) == 0 && ok;
  if (!ok) {
    Complain("cannot write " + file + ": " + std::strerror(errno));
    return kExitFailure;
  }
  return out.skipped.empty() ? kExitOk : kExitFailure;
}

}  // namespace opossvc::oposreg
