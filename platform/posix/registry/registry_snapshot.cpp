#include "platform/posix/registry/registry_snapshot.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

#include <opossvc/win32/errors.h>

#include "platform/posix/files/errno_map.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/posix/registry/sqlite_connection.h"
#include "platform/posix/registry/store_files.h"

namespace opossvc::detail {
namespace {

// A descriptor closed at the end of its scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// A snapshot being written, removed unless it was renamed into place.
struct PendingFile {
  std::string path;
  ~PendingFile() {
    if (!path.empty()) unlink(path.c_str());
  }
};

// Waits for the publication lock as SQLite's busy handler waits for a
// lock: in naps that grow, for kBusyTimeoutMs at most.
LONG LockExclusively(int fd) {
  static constexpr int kNapsMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
  int waited = 0;
  for (size_t attempt = 0;; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return ERROR_SUCCESS;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return Win32ErrorFromErrno(errno);
    if (waited >= kBusyTimeoutMs) return ERROR_BUSY;
    const int nap = kNapsMs[std::min(attempt, std::size(kNapsMs) - 1)];
    usleep(static_cast<useconds_t>(nap) * 1000);
    waited += nap;
  }
}

// Writes every page of `source`, read in one transaction, to `fd`. The
// copy's header names a write-ahead log, as the store's does, which a reader
// would look for beside it: it gets the rollback-journal format, which needs
// none.
LONG CopyStore(SqliteConnection& source, int fd) {
  sqlite3_int64 size = 0;
  std::unique_ptr<unsigned char, decltype(&sqlite3_free)> image(
      sqlite3_serialize(source.db(), "main", &size, 0), &sqlite3_free);
  if (image == nullptr) {
    LONG error = source.ErrorFor(sqlite3_errcode(source.db()));
    return error != ERROR_SUCCESS ? error : ERROR_OUTOFMEMORY;
  }
  constexpr size_t kFormatOffset = 18;  // write and read format: 1 rollback, 2 WAL
  if (size > static_cast<sqlite3_int64>(kFormatOffset + 1)) {
    image.get()[kFormatOffset] = 1;
    image.get()[kFormatOffset + 1] = 1;
  }
  for (sqlite3_int64 done = 0; done < size;) {
    ssize_t n = write(fd, image.get() + done, static_cast<size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Win32ErrorFromErrno(errno);
    done += n;
  }
  return ERROR_SUCCESS;
}

// Makes the names in `folder` durable.
LONG SyncFolder(const std::string& folder) {
  Descriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.valid() || fsync(directory.get()) != 0) return Win32ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

bool Newer(const struct stat& a, const struct stat& b) {
  if (a.st_mtim.tv_sec != b.st_mtim.tv_sec) return a.st_mtim.tv_sec > b.st_mtim.tv_sec;
  return a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

}  // namespace

LONG PublishSnapshot(const std::string& store, bool durable) {
  const std::string folder = FolderOf(store);
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) != 0) return ERROR_SUCCESS;
  // Nothing is made beside a store that is gone.
  struct stat copied {};
  if (stat(store.c_str(), &copied) != 0) return ERROR_SUCCESS;
  Descriptor lock(OpenBeside(PublishLockFile(store), store, O_RDONLY));
  if (!lock.valid()) return Win32ErrorFromErrno(errno);
  if (LONG error = LockExclusively(lock.get())) return error;

  std::unique_ptr<SqliteConnection> source;
  if (LONG error = SqliteConnection::Open(store, SQLITE_OPEN_READONLY, &source)) return error;
  sqlite3_busy_timeout(source->db(), kBusyTimeoutMs);
  PendingFile pending{SnapshotFile(store) + ".XXXXXX"};
  Descriptor file(mkostemp(pending.path.data(), O_CLOEXEC));  // 0600 while it is written
  if (!file.valid()) {
    pending.path.clear();
    return Win32ErrorFromErrno(errno);
  }
  if (LONG error = CopyStore(*source, file.get())) return error;
  source.reset();
  if ((durable && fdatasync(file.get()) != 0) || fchmod(file.get(), kSnapshotMode) != 0) {
    return Win32ErrorFromErrno(errno);
  }
  TakeStoreOwner(file.get(), store);
  // A store made anew in its place meanwhile publishes itself.
  struct stat now {};
  if (stat(store.c_str(), &now) != 0 || now.st_dev != copied.st_dev ||
      now.st_ino != copied.st_ino) {
    return ERROR_SUCCESS;
  }
  if (rename(pending.path.c_str(), SnapshotFile(store).c_str()) != 0)
    return Win32ErrorFromErrno(errno);
  pending.path.clear();
  return durable ? SyncFolder(folder) : ERROR_SUCCESS;
}

LONG SyncSnapshot(const std::string& store) {
  Descriptor file(open(SnapshotFile(store).c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return errno == ENOENT ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
  if (fdatasync(file.get()) != 0) return Win32ErrorFromErrno(errno);
  return SyncFolder(FolderOf(store));
}

bool SnapshotCurrent(const std::string& store) {
  struct stat snapshot {};
  struct stat file {};
  struct stat log {};
  if (stat(SnapshotFile(store).c_str(), &snapshot) != 0) return false;
  if (stat(store.c_str(), &file) == 0 && Newer(file, snapshot)) return false;
  return stat(LogFile(store).c_str(), &log) != 0 || !Newer(log, snapshot);
}

}  // namespace opossvc::detail
