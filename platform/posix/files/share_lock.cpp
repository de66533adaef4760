#include "platform/posix/files/share_lock.h"

#include <opossvc/win32/errors.h>

#include "platform/posix/files/ofd_lock.h"

namespace opossvc::detail {
namespace {

enum Slot : off_t { kReads = 0, kWrites = 1, kDeniesRead = 2, kDeniesWrite = 3, kAppender = 4 };

DWORD Take(int fd, off_t slot) { return TakeSharedByteLock(fd, kShareLockBase + slot); }

// A failing test counts as held, so that an error never lets a conflicting
// open through.
bool HeldElsewhere(int fd, off_t slot) { return ByteLockedElsewhere(fd, kShareLockBase + slot); }

void ReleaseAll(int fd) { DropByteLocks(fd, kShareLockBase, 4); }

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

DWORD RegisterAppender(int fd, bool fd_readable) {
  // A few tries in case the holder lets go between the take and the test.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD error = TakeExclusiveByteLock(fd, kShareLockBase + kAppender);
    if (error == ERROR_SUCCESS) break;
    if (error != ERROR_LOCK_VIOLATION) return error;
    const ByteLockKind holder = ByteLockElsewhere(fd, kShareLockBase + kAppender);
    if (holder == ByteLockKind::kExclusive) return ERROR_SHARING_VIOLATION;
    if (holder == ByteLockKind::kShared) break;  // a reader's: go ahead unmarked
  }
  if (!fd_readable) return ERROR_SUCCESS;
  for (off_t slot = kReads; slot <= kDeniesWrite; ++slot) {
    if (DWORD error = Take(fd, slot)) {
      DropByteLocks(fd, kShareLockBase, 5);
      return error;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace opossvc::detail
