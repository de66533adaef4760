// Windows share modes between opens of one file, in this or other processes.
//
// Every open of a file registers what it does and what it denies as shared
// open-file-description locks (fcntl F_OFD_SETLK, F_RDLCK) on four bytes far
// beyond any real data, at kShareLockBase + the slot:
//
//   slot 0  the open reads           slot 2  the open denies reading
//   slot 1  the open writes          slot 3  the open denies writing
//
// An open conflicts with the others when it reads while some open denies
// reading (slot 2 held elsewhere), writes while some open denies writing
// (slot 3), denies reading while some open reads (slot 0), or denies
// writing while some open writes (slot 1). A new open first takes its own
// slots and only then tests the others' (F_OFD_GETLK), so that of two opens
// racing for incompatible modes at least one always sees the other: neither
// ever succeeds beside the other, though in that race both may fail.
//
// An appender (internal/append_file.h) marks itself with an exclusive lock
// on slot 4, which only an open with write access can take, and takes the
// four slots above as an exclusive open does, but never tests the others'
// slots: anyone who may read the file can take shared locks on every byte of
// it, so those tests would let a mere reader keep the file's writer out.
//
// The locks belong to the open file description: they go with the last
// descriptor that refers to it (forks share them), never with another open
// of the same file, so threads of one process are kept apart like processes.
// They need a descriptor open for reading; an open without read access to
// the file takes part only as far as its descriptor allows (see Register).
#ifndef OPOSSVC_PLATFORM_POSIX_FILES_SHARE_LOCK_H_
#define OPOSSVC_PLATFORM_POSIX_FILES_SHARE_LOCK_H_

#include <sys/types.h>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

inline constexpr off_t kShareLockBase = static_cast<off_t>(0x7FFFFFFF00000000LL);

struct ShareRequest {
  bool reads = false;
  bool writes = false;
  bool denies_read = false;
  bool denies_write = false;
};

// Registers the open `fd` (opened for reading, possibly writing) with the
// request. ERROR_SUCCESS, ERROR_SHARING_VIOLATION when another open
// conflicts (nothing of this open stays registered), or another Win32 error
// when the locks cannot be taken at all. A descriptor not open for reading
// cannot hold the shared locks: it is registered as nothing, and only its
// test against the others is made.
DWORD RegisterShare(int fd, const ShareRequest& request, bool fd_readable);

// Registers the open `fd` (open for writing) as the file's appender:
// ERROR_SUCCESS, ERROR_SHARING_VIOLATION when another appender holds the
// file, or another Win32 error when the locks cannot be taken at all. A
// shared lock on slot 4, all that a reader can take there, keeps this open
// from marking itself but not from going ahead. The four slots are taken
// only when `fd_readable`.
DWORD RegisterAppender(int fd, bool fd_readable);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_FILES_SHARE_LOCK_H_
