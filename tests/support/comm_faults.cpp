#include "tests/support/comm_faults.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/posix/comm/comm_syscalls.h"
#include "tests/support/patience.h"

namespace opossvc::testing {
namespace {

using detail::SystemCommSyscalls;

struct State {
  CommFaultPlan plan;
  std::atomic<unsigned> turns{0};  // calls made while interrupting
  std::mutex mutex;
  std::condition_variable changed;
  termios2 last_settings = {};  // guarded by mutex
  int polls_waiting = 0;        // calls inside a poll() that may block; guarded by mutex
};
State state;
CommFaultPlan& plan = state.plan;

bool Take(std::atomic<int>& budget) {
  int left = budget.load();
  while (left > 0) {
    if (budget.compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}

// On one thread every call's first attempt fails and its retry goes through.
bool Interrupted() { return plan.interrupt && state.turns++ % 2 == 0; }

int Open(const char* path, int flags) {
  ++plan.calls;
  if (Interrupted()) return errno = EINTR, -1;
  if (int refusal = plan.open_errno) return errno = refusal, -1;
  return SystemCommSyscalls().open(path, flags);
}

int Close(int fd) { return SystemCommSyscalls().close(fd); }

ssize_t Read(int fd, void* buffer, size_t size) {
  ++plan.calls;
  if (Interrupted()) return errno = EINTR, -1;
  if (Take(plan.eio_reads)) return errno = EIO, -1;
  return SystemCommSyscalls().read(fd, buffer, size);
}

ssize_t Write(int fd, const void* data, size_t size) {
  ++plan.calls;
  if (Interrupted()) return errno = EINTR, -1;
  if (Take(plan.eio_writes)) return errno = EIO, -1;
  const size_t limit = plan.write_limit;
  return SystemCommSyscalls().write(fd, data, limit != 0 ? std::min(size, limit) : size);
}

int Poll(pollfd* fds, nfds_t count, int timeout_ms) {
  ++plan.calls;
  if (Interrupted()) return errno = EINTR, -1;
  if (timeout_ms == 0) return SystemCommSyscalls().poll(fds, count, 0);
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    ++state.polls_waiting;
  }
  state.changed.notify_all();
  const int result = SystemCommSyscalls().poll(fds, count, timeout_ms);
  const int saved = errno;
  std::lock_guard<std::mutex> lock(state.mutex);
  --state.polls_waiting;
  errno = saved;
  return result;
}

int Ioctl(int fd, unsigned long request, void* argument) {
  ++plan.calls;
  if (Interrupted()) return errno = EINTR, -1;
  if (request == TIOCMGET && plan.lines >= 0) {
    *static_cast<int*>(argument) = plan.lines;
    return 0;
  }
  if (request == TIOCOUTQ && plan.unsent >= 0) {
    *static_cast<int*>(argument) = plan.unsent;
    return 0;
  }
  const auto queue = reinterpret_cast<intptr_t>(argument);
  if (request == TCFLSH && (queue == TCOFLUSH || queue == TCIOFLUSH)) {
    ++plan.tx_flushes;
    if (queue == TCOFLUSH && plan.unsent >= 0) {  // the injected bytes are what is discarded
      plan.unsent = 0;
      return 0;
    }
  }
  const int result = SystemCommSyscalls().ioctl(fd, request, argument);
  if (result == 0 && request == TCSETS2) {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.last_settings = *static_cast<termios2*>(argument);
  }
  return result;
}

int Flock(int fd, int operation) {
  if (Interrupted()) return errno = EINTR, -1;
  return SystemCommSyscalls().flock(fd, operation);
}

constexpr detail::CommSyscalls kFaultyCalls = {Open, Close, Read, Write, Poll, Ioctl, Flock};

}  // namespace

FaultyCommCalls::FaultyCommCalls() {
  plan.interrupt = false;
  plan.eio_reads = plan.eio_writes = 0;
  plan.write_limit = 0;
  plan.open_errno = 0;
  plan.unsent = -1;
  plan.lines = -1;
  plan.tx_flushes = plan.calls = 0;
  detail::SetCommSyscalls(&kFaultyCalls);
}

FaultyCommCalls::~FaultyCommCalls() { detail::SetCommSyscalls(nullptr); }

CommFaultPlan* FaultyCommCalls::operator->() const { return &plan; }

termios2 FaultyCommCalls::LastSettings() const {
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.last_settings;
}

bool FaultyCommCalls::WaitForBlockedPoll() const {
  std::unique_lock<std::mutex> lock(state.mutex);
  return state.changed.wait_for(lock, kPatience, [] { return state.polls_waiting > 0; });
}

}  // namespace opossvc::testing
