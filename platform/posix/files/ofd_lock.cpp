#include "platform/posix/files/ofd_lock.h"

#include <fcntl.h>

#include <cerrno>

#include <opossvc/win32/errors.h>

namespace opossvc::detail {
namespace {

flock ByteLock(short type, off_t offset, off_t length) {
  flock lock{};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = length;
  lock.l_pid = 0;  // required for open-file-description locks
  return lock;
}

DWORD ErrorOf(int error) {
  switch (error) {
    case ENOLCK:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_NOT_SUPPORTED;
    default:
      return ERROR_LOCK_VIOLATION;
  }
}

DWORD TakeByteLock(int fd, short type, off_t offset) {
  flock lock = ByteLock(type, offset, 1);
  while (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    if (errno != EINTR) return ErrorOf(errno);
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD TakeSharedByteLock(int fd, off_t offset) { return TakeByteLock(fd, F_RDLCK, offset); }

DWORD TakeExclusiveByteLock(int fd, off_t offset) { return TakeByteLock(fd, F_WRLCK, offset); }

ByteLockKind ByteLockElsewhere(int fd, off_t offset) {
  flock lock = ByteLock(F_WRLCK, offset, 1);
  while (fcntl(fd, F_OFD_GETLK, &lock) != 0) {
    if (errno != EINTR) return ByteLockKind::kExclusive;
  }
  return lock.l_type == F_UNLCK   ? ByteLockKind::kNone
         : lock.l_type == F_RDLCK ? ByteLockKind::kShared
                                  : ByteLockKind::kExclusive;
}

bool ByteLockedElsewhere(int fd, off_t offset) {
  return ByteLockElsewhere(fd, offset) != ByteLockKind::kNone;
}

void DropByteLocks(int fd, off_t offset, off_t length) {
  flock lock = ByteLock(F_UNLCK, offset, length);
  fcntl(fd, F_OFD_SETLK, &lock);
}

}  // namespace opossvc::detail
