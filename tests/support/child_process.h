// Child processes for tests of what crosses a process boundary: checks run
// in a forked child and reported to the parent, and a pipe between the two.
#ifndef OPOSSVC_TESTS_SUPPORT_CHILD_PROCESS_H_
#define OPOSSVC_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

namespace opossvc::test_support {

// Checks made inside a forked child; what fails is reported to the parent.
class ChildChecks {
 public:
  explicit ChildChecks(int fd) : fd_(fd) {}
  // Records `what` as a failure unless `ok`; returns `ok`.
  bool Expect(bool ok, const std::string& what);
  bool ExpectCode(long actual, long expected, const std::string& what) {
    return Expect(actual == expected, what + ": got " + std::to_string(actual));
  }

 private:
  int fd_;
};

// A forked child running checks; it always ends in _exit, even when the body
// throws, so it never runs on into the parent's tests. Wait() returns its
// failures, one a line, or "" when all held; dying or a non-zero exit fail.
// A child not waited for (the parent's test failed early) is killed, since it
// may be blocked on a pipe the parent will never write to.
class ChildProcess {
 public:
  explicit ChildProcess(const std::function<void(ChildChecks&)>& body);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  std::string Wait();
  // Kills the child with SIGKILL and reaps it; what it reported is dropped.
  void Kill();

 private:
  pid_t pid_ = -1;
  int report_fd_ = -1;
};

inline std::string RunInChild(const std::function<void(ChildChecks&)>& body) {
  return ChildProcess(body).Wait();
}

// A one-way byte channel between a parent and a forked child. Each side
// calls Reader() or Writer() after fork, which closes the other end.
class Pipe {
 public:
  Pipe();
  ~Pipe();
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  Pipe& Reader();
  Pipe& Writer();
  bool Send();
  // True for a byte, false once every writer is gone (or `timeout` passed).
  bool Receive();
  bool Receive(std::chrono::milliseconds timeout);

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace opossvc::test_support

#endif  // OPOSSVC_TESTS_SUPPORT_CHILD_PROCESS_H_
