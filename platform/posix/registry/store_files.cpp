#include "platform/posix/registry/store_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <opossvc/win32/errors.h>

namespace opossvc::detail {
namespace {

bool OthersMayWrite(const struct stat& folder) {
  return (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
         (folder.st_uid != geteuid() && folder.st_uid != 0);
}

// The mode of a file beside the store: private, but for a group that may
// write the store.
mode_t ModeBeside(const std::string& store) {
  struct stat st {};
  bool group_writes = stat(store.c_str(), &st) == 0 && (st.st_mode & S_IWGRP) != 0;
  return kStoreMode | (group_writes ? S_IRGRP | S_IWGRP : 0);
}

}  // namespace

std::string LogFile(const std::string& store) { return store + "-wal"; }
std::string LogIndexFile(const std::string& store) { return store + "-shm"; }
std::string SnapshotFile(const std::string& store) { return store + "-snapshot"; }
std::string PublishLockFile(const std::string& store) { return store + "-publish"; }

std::string FolderOf(const std::string& store) {
  size_t slash = store.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : store.substr(0, slash);
}

LONG CheckForLinks(const std::string& folder, const std::string& store) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !OthersMayWrite(st)) return ERROR_SUCCESS;
  for (const std::string& path :
       {store, LogFile(store), LogIndexFile(store), SnapshotFile(store), PublishLockFile(store)}) {
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return ERROR_CANT_ACCESS_FILE;
  }
  return ERROR_SUCCESS;
}

int OpenBeside(const std::string& path, const std::string& store, int flags) {
  int fd = open(path.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kStoreMode);
  if (fd >= 0) {
    fchmod(fd, ModeBeside(store));
    TakeStoreOwner(fd, store);
    return fd;
  }
  if (errno != EEXIST) return -1;
  return open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
}

void MakeBeside(const std::string& path, const std::string& store) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kStoreMode);
  if (fd < 0) return;  // there already, or SQLite will tell why not
  fchmod(fd, ModeBeside(store));
  TakeStoreOwner(fd, store);
  close(fd);
}

void TakeStoreOwner(int fd, const std::string& store) {
  struct stat st {};
  if (geteuid() != 0 || stat(store.c_str(), &st) != 0) return;
  if (fchown(fd, st.st_uid, st.st_gid) != 0) return;  // the file stays root's: only root uses it
}

void MakePrivate(const std::string& store) {
  for (const std::string& path : {store, LogFile(store), LogIndexFile(store)}) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) continue;
    mode_t mode = st.st_mode & 07777 & ~S_IRWXO;
    if ((mode & S_IWGRP) == 0) mode &= ~S_IRWXG;
    if (mode != (st.st_mode & 07777)) chmod(path.c_str(), mode);
  }
}

}  // namespace opossvc::detail
