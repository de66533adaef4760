#include "platform/posix/files/share_lock.h"

#include <fcntl.h>

#include <cerrno>

#include <opossvc/win32/errors.h>

namespace opossvc::detail {
namespace {

enum Slot : off_t { kReads = 0, kWrites = 1, kDeniesRead = 2, kDeniesWrite = 3 };

flock SlotLock(short type, off_t slot) {
  flock lock{};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kShareLockBase + slot;
  lock.l_len = 1;
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

DWORD Take(int fd, off_t slot) {
  flock lock = SlotLock(F_RDLCK, slot);
  while (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    if (errno != EINTR) return ErrorOf(errno);
  }
  return ERROR_SUCCESS;
}

// Whether another open description holds a lock on the slot. A failing test
// counts as held, so that an error never lets a conflicting open through.
bool HeldElsewhere(int fd, off_t slot) {
  flock lock = SlotLock(F_WRLCK, slot);
  while (fcntl(fd, F_OFD_GETLK, &lock) != 0) {
    if (errno != EINTR) return true;
  }
  return lock.l_type != F_UNLCK;
}

void ReleaseAll(int fd) {
  flock lock = SlotLock(F_UNLCK, 0);
  lock.l_len = 4;
  fcntl(fd, F_OFD_SETLK, &lock);
}

}  // namespace

DWORD RegisterShare(int fd, const ShareRequest& request, bool fd_readable) {
  if (fd_readable) {
    const bool wanted[4] = {request.reads, request.writes, request.denies_read,
                            request.denies_write};
    for (off_t slot = 0; slot < 4; ++slot) {
      if (!wanted[slot]) continue;
      DWORD error = Take(fd, slot);
      if (error != ERROR_SUCCESS) {
        ReleaseAll(fd);
        return error;
      }
    }
  }
  bool conflict = (request.reads && HeldElsewhere(fd, kDeniesRead)) ||
                  (request.writes && HeldElsewhere(fd, kDeniesWrite)) ||
                  (request.denies_read && HeldElsewhere(fd, kReads)) ||
                  (request.denies_write && HeldElsewhere(fd, kWrites));
  if (conflict) {
    if (fd_readable) ReleaseAll(fd);
    return ERROR_SHARING_VIOLATION;
  }
  return ERROR_SUCCESS;
}

}  // namespace opossvc::detail
