// The registry export importer on arbitrary files, once as ImportRegistry
// reads them and once with every option on. Beyond not crashing: the
// result bits are the documented ones, every reported line is a line of the
// file, and nothing is written outside the keys each mode may write: the
// database root, and with every option the serial-port map too.
//
// Reads go 64 KiB at a time: the seeds include one over that size whose
// long line, continuation and UTF-16 line end straddle the read boundary,
// and import_registry.dict holds the syntax's tokens.
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include <opossvc/reg_import.h>
#include <opossvc/registry.h>
#include <opossvc/util.h>
#include <opossvc/win32/registry.h>

#include "fuzz/fuzz_support.h"

namespace {

using opossvc::fuzz::Check;
using opossvc::fuzz::Store;

// Whether every sub-key of `path` is one of `allowed` (ignoring case).
bool SubKeysWithin(HKEY root, const char* path, std::initializer_list<const char*> allowed) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return true;
  bool within = true;
  for (DWORD index = 0;; ++index) {
    char name[512];
    DWORD length = sizeof(name);
    LONG result = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) break;
    within = within && std::any_of(allowed.begin(), allowed.end(),
                                   [&name](const char* a) { return strcasecmp(name, a) == 0; });
  }
  RegCloseKey(key);
  return within;
}

bool OnlyDatabase(bool port_map) {
  return (port_map ? SubKeysWithin(HKEY_LOCAL_MACHINE, "", {"SOFTWARE", "HARDWARE"})
                   : SubKeysWithin(HKEY_LOCAL_MACHINE, "", {"SOFTWARE"})) &&
         SubKeysWithin(HKEY_LOCAL_MACHINE, "SOFTWARE", {"OLEforRetail"}) &&
         SubKeysWithin(HKEY_LOCAL_MACHINE, "HARDWARE", {"DEVICEMAP"}) &&
         SubKeysWithin(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP", {"SERIALCOMM"}) &&
         SubKeysWithin(HKEY_CURRENT_USER, "", {}) && SubKeysWithin(HKEY_CLASSES_ROOT, "", {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = Store().root() + "/input.reg";
  FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  const size_t lines = static_cast<size_t>(std::count(data, data + size, '\n')) + 1;
  const unsigned kBits = OPOSSVC_IMPORT_WRITTEN | OPOSSVC_IMPORT_FAILED;

  const unsigned classic = static_cast<unsigned>(ImportRegistry(file.c_str()));
  Check((classic & ~kBits) == 0, "import result bits");
  Check(OnlyDatabase(false), "key written outside the database root");
  PurgeRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE");

  const opossvc::RegImportReport report =
      opossvc::ImportRegFile(file.c_str(), opossvc::RegImportOptions::All());
  Check((report.result & ~kBits) == 0, "report result bits");
  Check(!report.file_error, "a regular file refused");
  for (const opossvc::RegImportProblem& problem : report.problems) {
    Check(problem.line <= lines, "a problem reported past the last line");
    Check(!problem.reason.empty(), "a problem without its reason");
  }
  Check(report.problems.empty() || report.result != OPOSSVC_IMPORT_WRITTEN ||
            report.problems.back().reason.find("Ctrl-Z") != std::string::npos,
        "problems reported with a clean result");
  Check(OnlyDatabase(true), "key written outside the database and the port map");
  PurgeRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
  PurgeRegKey(HKEY_LOCAL_MACHINE, "HARDWARE");
  return 0;
}
