#include "tools/oposreg/store_access.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <opossvc/win32/errors.h>

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

std::string ErrorText(LONG error) {
  const char* text = "registry error";
  switch (error) {
    case ERROR_FILE_NOT_FOUND: text = "no such key or value"; break;
    case ERROR_PATH_NOT_FOUND: text = "path not found"; break;
    case ERROR_ACCESS_DENIED: text = "access denied"; break;
    case ERROR_INVALID_PARAMETER: text = "invalid parameter"; break;
    case ERROR_INVALID_NAME: text = "invalid name"; break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: text = "out of memory"; break;
    case ERROR_BADDB:
      text = "the store file is not a registry store of this version (one of an earlier "
             "version is converted when a program that may write it, such as oposreg run by "
             "the store's owner, first opens it)";
      break;
    case ERROR_NO_UNICODE_TRANSLATION:
      text = "the store, of an earlier version, holds text of another code page: run oposreg "
             "as the store's owner with OPOS_CODEPAGE set to the code page it was written "
             "with to convert it, or remove it and import the .reg files again";
      break;
    case ERROR_CANT_ACCESS_FILE:
      text =
          "a file of the store is a symbolic link in a folder that other users may write "
          "(keep the store in a folder that only its owner may write)";
      break;
    case ERROR_CANTREAD: text = "the store cannot be read"; break;
    case ERROR_CANTWRITE: text = "the store cannot be written"; break;
    case ERROR_REGISTRY_CORRUPT: text = "the store is damaged"; break;
    case ERROR_KEY_DELETED: text = "the key was deleted"; break;
    case ERROR_BUSY: text = "the store is busy"; break;
    case ERROR_DISK_FULL: text = "the disk is full"; break;
    default: break;
  }
  return std::string(text) + " (" + std::to_string(error) + ")";
}

void Complain(const std::string& message) {
  std::fprintf(stderr, "oposreg: %s\n", message.c_str());
}

}  // namespace opossvc::oposreg
