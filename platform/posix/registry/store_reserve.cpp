#include "platform/posix/registry/store_reserve.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace opossvc::detail {
namespace {

// The reserve opened for writing, or -1 when it is missing or cannot be
// opened, or is anything but a file of our own with no other name.
int OpenReserve(const std::string& path, int flags, off_t* size) {
  const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | flags, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  *size = st.st_size;
  return fd;
}

}  // namespace

void FillReserve(const std::string& path) {
  off_t size = 0;
  const int fd = OpenReserve(path, O_CREAT, &size);
  if (fd < 0) return;
  // Allocated blocks, not a hole: only those are there to give back. Where
  // the disk lacks room, what could be had stays.
  if (size < kReserveBytes) posix_fallocate(fd, 0, kReserveBytes);
  close(fd);
}

bool ReleaseReserve(const std::string& path) {
  off_t size = 0;
  const int fd = OpenReserve(path, 0, &size);
  if (fd < 0) return false;
  const bool released = size > 0 && ftruncate(fd, 0) == 0;
  close(fd);
  return released;
}

}  // namespace opossvc::detail
