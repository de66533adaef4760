// Open-file-description locks (fcntl F_OFD_*) on single bytes of a file, as
// marks that an open is present, seen from other opens and other processes.
//
// Such a lock belongs to the open file description: it goes with the last
// descriptor that refers to it, however its process ends (forks share it),
// and never with another open of the same file.
#ifndef OPOSSVC_PLATFORM_POSIX_FILES_OFD_LOCK_H_
#define OPOSSVC_PLATFORM_POSIX_FILES_OFD_LOCK_H_

#include <sys/types.h>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

// Takes a shared lock on byte `offset` of `fd`: ERROR_SUCCESS, or the Win32
// error when it cannot be had (ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_SUPPORTED).
DWORD TakeSharedByteLock(int fd, off_t offset);

// Takes an exclusive lock on byte `offset` of `fd`, which needs `fd` open
// for writing: ERROR_SUCCESS, ERROR_LOCK_VIOLATION when another open file
// description holds a lock on the byte, or another Win32 error as above.
DWORD TakeExclusiveByteLock(int fd, off_t offset);

// Whether another open file description holds a lock on byte `offset`. A
// failing test counts as held, so that an error never passes for absence.
bool ByteLockedElsewhere(int fd, off_t offset);

enum class ByteLockKind { kNone, kShared, kExclusive };
// The kind of lock that another open file description holds on byte
// `offset`. A failing test counts as an exclusive lock.
ByteLockKind ByteLockElsewhere(int fd, off_t offset);

// Drops this description's locks on `length` bytes from `offset`.
void DropByteLocks(int fd, off_t offset, off_t length);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_FILES_OFD_LOCK_H_
