// Comm system calls that fail on purpose: the termios backend's system-call table replaced by one
// that follows a plan the test sets, so that a failing device sits under a real port.
#ifndef OPOSSVC_TESTS_SUPPORT_COMM_FAULTS_H_
#define OPOSSVC_TESTS_SUPPORT_COMM_FAULTS_H_

#include <atomic>
#include <cstddef>

struct termios2;  // <asm/termbits.h>

namespace opossvc::testing {

// What the faulty calls do: set by the test, read by the calls on the port's threads.
struct CommFaultPlan {
  std::atomic<bool> interrupt{false};  // every other call fails with EINTR (every call but close)
  std::atomic<int> eio_reads{0};       // reads left to fail with EIO, the device still there
  std::atomic<int> eio_writes{0};      // writes left to fail so
  std::atomic<size_t> write_limit{0};  // most bytes one write takes; 0 for no limit
  std::atomic<int> open_errno{0};      // opens refused with this error
  std::atomic<int> unsent{-1};         // TIOCOUTQ: bytes not yet on the line; -1 for the tty's
  std::atomic<int> lines{-1};          // TIOCMGET: a UART's modem lines; -1 for the tty's (none)
  std::atomic<int> tx_flushes{0};      // TCFLSH calls that discarded the transmit buffer
  std::atomic<int> calls{0};           // calls that went to the device
};

// While it lives, every comm system call follows a fresh plan. One at a time; it must outlive the
// ports opened under it.
class FaultyCommCalls {
 public:
  FaultyCommCalls();
  ~FaultyCommCalls();
  FaultyCommCalls(const FaultyCommCalls&) = delete;
  FaultyCommCalls& operator=(const FaultyCommCalls&) = delete;

  CommFaultPlan* operator->() const;
  // The settings of the last TCSETS2 that succeeded.
  termios2 LastSettings() const;
  // True once a call waits in poll() for the device, so that what the test does next happens
  // while it waits; false after kPatience.
  bool WaitForBlockedPoll() const;
};

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTS_SUPPORT_COMM_FAULTS_H_
