// Child processes for tests of what crosses a process boundary: checks run
// in a child and reported to the parent, and a pipe between the two.
//
// A child body is either a lambda, run in a forked child (POSIX only), or a
// role: a function registered by name with OPOSSVC_CHILD_ROLE and given
// string arguments. On Windows a role runs in a new process of the same test
// program (which reads its role from the command line before any test runs);
// on POSIX it runs in a forked child as a lambda does. Whatever a role needs
// of the parent's state travels in its arguments (a path, a pipe's write end,
// TempRegistry::root() for TempRegistry::Join).
//
//   OPOSSVC_CHILD_ROLE(Writer) { Pipe done(args[0]); ...; done.Send(); }
//   Pipe done;
//   ChildProcess child("Writer", {done.WriteEnd()});
//   ASSERT_TRUE(done.Reader().Receive(kPatience));
#ifndef OPOSSVC_TESTS_SUPPORT_CHILD_PROCESS_H_
#define OPOSSVC_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

using ChildRole = void (*)(ChildChecks& checks, const std::vector<std::string>& args);

// Registers `role` under `name` (unique in the program); true. For
// OPOSSVC_CHILD_ROLE, at static initialization.
bool RegisterChildRole(const char* name, ChildRole role);
// The role registered under `name`, or null.
ChildRole FindChildRole(const std::string& name);

// Defines and registers a role; its body sees `checks` and `args`.
#define OPOSSVC_CHILD_ROLE(name)                                                     \
  void name(::opossvc::test_support::ChildChecks&, const std::vector<std::string>&); \
  [[maybe_unused]] const bool name##Registered =                                     \
      ::opossvc::test_support::RegisterChildRole(#name, name);                       \
  void name([[maybe_unused]] ::opossvc::test_support::ChildChecks& checks,           \
            [[maybe_unused]] const std::vector<std::string>& args)

// A child running checks; it always ends without running on into the
// parent's tests, even when the body throws. Wait() returns its
// failures, one a line, or "" when all held; dying or a non-zero exit fail.
// A child not waited for (the parent's test failed early) is killed, since it
// may be blocked on a pipe the parent will never write to.
class ChildProcess {
 public:
  // POSIX only: Windows cannot fork.
  explicit ChildProcess(const std::function<void(ChildChecks&)>& body);
  // The role registered as `role`, given `args`; an unknown role is a failure of Wait().
  ChildProcess(const char* role, std::vector<std::string> args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  std::string Wait();
  // Kills the child (SIGKILL, TerminateProcess) and reaps it; what it
  // reported is dropped.
  void Kill();

 private:
  std::intptr_t process_ = -1;  // the pid on POSIX, the process handle on Windows
  int report_fd_ = -1;
};

// Starts a child that takes the named mutex `name` and holds it until the
// returned child is destroyed, which kills it; null (and a test failure)
// when it could not take the mutex.
std::unique_ptr<ChildProcess> StartMutexHolder(const std::string& name);

inline std::string RunInChild(const std::function<void(ChildChecks&)>& body) {
  return ChildProcess(body).Wait();
}

// A one-way byte channel between a parent and a child. Each side calls
// Reader() or Writer() once the child runs, which closes the other end; a
// role gets the write end as an argument (WriteEnd()) and opens it with the
// second constructor.
class Pipe {
 public:
  Pipe();
  // The side of a child role that writes into its parent's pipe.
  explicit Pipe(const std::string& write_end);
  ~Pipe();
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  Pipe& Reader();
  Pipe& Writer();
  std::string WriteEnd() const;
  bool Send();
  // True for a byte, false once every writer is gone (or `timeout` passed).
  bool Receive();
  bool Receive(std::chrono::milliseconds timeout);

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace opossvc::test_support

#endif  // OPOSSVC_TESTS_SUPPORT_CHILD_PROCESS_H_
