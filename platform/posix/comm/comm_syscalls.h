// Every system call of the termios serial backend, through one table, so that tests can put a
// failing device under a real port: EINTR, EAGAIN, EIO, short writes, a device that vanishes.
//
// The backend loads the current table at each call; SetCommSyscalls swaps it for the whole
// process (tests swap it while no other test uses a real port). A table must outlive its use.
// The backend's private wake-up descriptors are not devices and are not routed through the
// table, except that they are polled together with the device (always the first descriptor).
#ifndef OPOSSVC_PLATFORM_POSIX_COMM_COMM_SYSCALLS_H_
#define OPOSSVC_PLATFORM_POSIX_COMM_COMM_SYSCALLS_H_

#include <poll.h>
#include <sys/types.h>

namespace opossvc::detail {

struct CommSyscalls {
  int (*open)(const char* path, int flags);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, size_t size);
  ssize_t (*write)(int fd, const void* data, size_t size);
  int (*poll)(pollfd* fds, nfds_t count, int timeout_ms);
  int (*ioctl)(int fd, unsigned long request, void* argument);
  int (*flock)(int fd, int operation);
};

// The table of the operating system's own calls.
const CommSyscalls& SystemCommSyscalls();
// The table in use.
const CommSyscalls& CurrentCommSyscalls();
// Puts `table` in use (null restores the system's) and returns the table used before.
const CommSyscalls* SetCommSyscalls(const CommSyscalls* table);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_COMM_COMM_SYSCALLS_H_
