#include "platform/posix/comm/comm_syscalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

namespace opossvc::detail {
namespace {

int SystemOpen(const char* path, int flags) { return ::open(path, flags); }
int SystemIoctl(int fd, unsigned long request, void* argument) {
  return ::ioctl(fd, request, argument);
}

constexpr CommSyscalls kSystemCalls = {
    SystemOpen, ::close, ::read, ::write, ::poll, SystemIoctl, ::flock,
};

std::atomic<const CommSyscalls*> current_calls{&kSystemCalls};

}  // namespace

const CommSyscalls& SystemCommSyscalls() { return kSystemCalls; }

const CommSyscalls& CurrentCommSyscalls() { return *current_calls.load(std::memory_order_acquire); }

const CommSyscalls* SetCommSyscalls(const CommSyscalls* table) {
  return current_calls.exchange(table ? table : &kSystemCalls, std::memory_order_acq_rel);
}

}  // namespace opossvc::detail
