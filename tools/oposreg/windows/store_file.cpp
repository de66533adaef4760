// The store on Windows is the system's registry: always there, its access
// checked by the registry calls themselves.
#include "tools/oposreg/store_access.h"

namespace opossvc::oposreg {

std::string StorePath() { return "the system registry"; }

bool UseStoreRoot(const std::string& /*root*/, std::string* error) {
  *error = "--root: on Windows the store is the system registry, which has no folder";
  return false;
}

// The registry's hive files are held open by the system: no export can name
// one.
bool IsStoreFile(const struct stat& /*st*/) { return false; }

bool CheckStoreForReading(std::string* /*error*/) { return true; }

bool CheckStoreForWriting(std::string* /*error*/) { return true; }

}  // namespace opossvc::oposreg
