#include "tools/oposreg/store_access.h"

#include <cstdio>

#include <opossvc/win32/errors.h>

namespace opossvc::oposreg {

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
