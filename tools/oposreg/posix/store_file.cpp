// Where the POSIX registry store is and whether it can be read or written.
#include "tools/oposreg/store_access.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace opossvc::oposreg {
namespace {

std::string RootFolder() {
  const char* root = std::getenv("OPOS_ROOT");
  return root && *root ? root : "/var/lib/opos";
}

std::string Parent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string StorePath() { return RootFolder() + "/registry.db"; }

bool UseStoreRoot(const std::string& root, std::string* error) {
  if (setenv("OPOS_ROOT", root.c_str(), 1) == 0) return true;
  *error = std::string("--root: ") + std::strerror(errno);
  return false;
}

bool IsStoreFile(const struct stat& st) {
  const std::string store = StorePath();
  for (const char* suffix : {"", "-wal", "-shm"}) {
    struct stat file {};
    if (stat((store + suffix).c_str(), &file) == 0 && file.st_dev == st.st_dev &&
        file.st_ino == st.st_ino) {
      return true;
    }
  }
  return false;
}

bool CheckStoreForReading(std::string* error) {
  std::string path = StorePath();
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      *error = "no registry store at " + path +
               " (import a .reg file first, or choose the store with --root DIR or OPOS_ROOT)";
    } else {
      *error = "cannot reach the registry store " + path + ": " + std::strerror(errno);
    }
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "the registry store " + path + " is not a file";
    return false;
  }
  // Users other than the store's owner read the snapshot published beside it.
  if (access(path.c_str(), R_OK) != 0) {
    const int reason = errno;
    if (access((path + "-snapshot").c_str(), R_OK) != 0) {
      *error = "cannot read the registry store " + path + ": " + std::strerror(reason);
      return false;
    }
  }
  return true;
}

bool CheckStoreForWriting(std::string* error) {
  std::string path = StorePath();
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      *error = "the registry store " + path + " is not a file";
      return false;
    }
    if (access(path.c_str(), W_OK) != 0) {
      *error = "cannot write the registry store " + path + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }
  // The store makes its folder, but not the folder's parent.
  std::string folder = Parent(path);
  std::string existing = stat(folder.c_str(), &st) == 0 ? folder : Parent(folder);
  if (access(existing.c_str(), W_OK) != 0) {
    *error = "cannot create the registry store " + path + ": " + existing + ": " +
             std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace opossvc::oposreg
