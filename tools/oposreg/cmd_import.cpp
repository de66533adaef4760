// oposreg import FILE.reg
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <opossvc/util.h>

#include "tools/oposreg/commands.h"
#include "tools/oposreg/store_access.h"

namespace opossvc::oposreg {

int RunImport(const Invocation& invocation) {
  const std::string& path = invocation.args[0];
  // The importer reports an unreadable file as "nothing imported"; tell the
  // user why instead.
  std::FILE* probe = std::fopen(path.c_str(), "r");
  if (!probe) {
    Complain("cannot read " + path + ": " + std::strerror(errno));
    return kExitFailure;
  }
  struct stat status;
  const bool directory = fstat(fileno(probe), &status) == 0 && S_ISDIR(status.st_mode);
  std::fclose(probe);
  if (directory) {
    Complain(path + " is a directory, not a registry file");
    return kExitFailure;
  }
  std::string error;
  if (!CheckStoreForWriting(&error)) {
    Complain(error);
    return kExitFailure;
  }
  auto result = static_cast<unsigned>(ImportRegistry(path.c_str()));
  bool written = result & OPOSSVC_IMPORT_WRITTEN;
  bool failed = result & OPOSSVC_IMPORT_FAILED;
  if (failed) {
    Complain(path + ": some lines were not imported (" +
             std::string(written ? "the others were" : "nothing was written") +
             "): malformed lines, values outside HKLM\\SOFTWARE\\OLEforRetail, "
             "unknown device classes, key deletions (not carried out), or a store "
             "that refused the write");
    return kExitFailure;
  }
  if (!written) std::fprintf(stderr, "oposreg: %s: no values to import\n", path.c_str());
  return kExitOk;
}

}  // namespace opossvc::oposreg
