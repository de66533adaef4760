// The files of a registry store, their modes, and how they are made so that
// no other user can lock the store against its owner or lead its owner's
// writes elsewhere.
//
//   registry.db                 the store                           0600
//   registry.db-wal, -shm       SQLite's log and log index          as the store
//   registry.db-publish         orders publications of snapshots    as the store
//   registry.db-snapshot        the copy that other users read      0644
//   registry.db-snapshot.XXXXXX a snapshot being written             0600
//
// Whoever may open a file may lock it, and a lock on the log index stops
// every write, so the store and every file that SQLite locks are private:
// other users read the snapshot (registry_snapshot.h). A file made beside the
// store gets the store's mode, which keeps a group that may write the store,
// and, made by root, the store's owner (as SQLite does for -wal and -shm), so
// that whoever may write the store may also publish it. Modes are set as
// given here whatever the umask.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_STORE_FILES_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_STORE_FILES_H_

#include <sys/types.h>

#include <string>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

inline constexpr mode_t kStoreMode = 0600;
inline constexpr mode_t kSnapshotMode = 0644;

std::string LogFile(const std::string& store);
std::string LogIndexFile(const std::string& store);
std::string SnapshotFile(const std::string& store);
std::string PublishLockFile(const std::string& store);
// The folder that holds `store`.
std::string FolderOf(const std::string& store);

// ERROR_CANT_ACCESS_FILE when users other than this process's may write
// `folder` (its mode lets a group or everyone write, or another user owns
// it) and one of the store's files there is a symbolic link: its target
// would be any file of their choosing. ERROR_SUCCESS otherwise.
LONG CheckForLinks(const std::string& folder, const std::string& store);

// Opens `path` beside `store` with `flags`, making it when it is missing,
// never through a symbolic link, close-on-exec. -1 with errno on failure.
int OpenBeside(const std::string& path, const std::string& store, int flags);

// Makes `path` beside `store` when it is missing, as OpenBeside does.
void MakeBeside(const std::string& path, const std::string& store);

// Gives the file root just made the store's owner.
void TakeStoreOwner(int fd, const std::string& store);

// Takes the store and its log files from users who may not write the store:
// others lose every right, and the group too unless it may write. Only the
// files' owner (or root) can; for anyone else this does nothing.
void MakePrivate(const std::string& store);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_STORE_FILES_H_
