// The registry export importer on arbitrary files. Beyond not crashing: the
// result is one of the four documented values, and nothing is written
// outside the database root, whatever root or path the file names.
#include <cstdint>
#include <cstdio>
#include <string>

#include <opossvc/registry.h>
#include <opossvc/util.h>
#include <opossvc/win32/registry.h>

#include "fuzz/fuzz_support.h"

namespace {

using opossvc::fuzz::Check;
using opossvc::fuzz::Store;

// The sub-keys of `key`, lowercased by the caller's needs: here only their
// count and whether each equals `allowed` (ignoring case).
bool OnlySubKey(HKEY root, const char* path, const char* allowed) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return true;
  bool only = true;
  for (DWORD index = 0;; ++index) {
    char name[512];
    DWORD length = sizeof(name);
    LONG result = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) break;
    if (allowed == nullptr || strcasecmp(name, allowed) != 0) only = false;
  }
  RegCloseKey(key);
  return only;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = Store().root() + "/input.reg";
  FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);

  const int result = ImportRegistry(file.c_str());
  const unsigned bits = static_cast<unsigned>(result);
  Check((bits & ~(OPOSSVC_IMPORT_WRITTEN | OPOSSVC_IMPORT_FAILED)) == 0, "import result bits");

  Check(OnlySubKey(HKEY_LOCAL_MACHINE, "", "SOFTWARE"), "key written beside HKLM\\SOFTWARE");
  Check(OnlySubKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "OLEforRetail"),
        "key written beside the database root");
  Check(OnlySubKey(HKEY_CURRENT_USER, "", nullptr), "key written below HKCU");
  Check(OnlySubKey(HKEY_CLASSES_ROOT, "", nullptr), "key written below HKCR");

  PurgeRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
  return 0;
}
