#include "tests/support/child_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace opossvc::test_support {

bool ChildChecks::Expect(bool ok, const std::string& what) {
  std::string line = what + "\n";
  for (size_t done = 0; !ok && done < line.size();) {
    ssize_t n = write(fd_, line.data() + done, line.size() - done);
    if (n <= 0 && errno != EINTR) break;
    if (n > 0) done += static_cast<size_t>(n);
  }
  return ok;
}

ChildProcess::ChildProcess(const std::function<void(ChildChecks&)>& body) {
  int fds[2];
  if (pipe(fds) != 0) return;
  const pid_t pid = fork();
  process_ = pid;
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return;
  }
  if (pid == 0) {
    close(fds[0]);
    ChildChecks checks(fds[1]);
    try {
      body(checks);
    } catch (...) {
      checks.Expect(false, "child threw");
    }
    _exit(0);
  }
  close(fds[1]);
  report_fd_ = fds[0];
}

ChildProcess::ChildProcess(const char* role, std::vector<std::string> args)
    : ChildProcess([found = FindChildRole(role), &role, &args](ChildChecks& checks) {
        if (checks.Expect(found != nullptr, std::string("no child role ") + role)) {
          found(checks, args);
        }
      }) {}

ChildProcess::~ChildProcess() { Kill(); }

void ChildProcess::Kill() {
  if (report_fd_ >= 0) kill(static_cast<pid_t>(process_), SIGKILL);
  Wait();
}

std::string ChildProcess::Wait() {
  if (report_fd_ < 0) return process_ < 0 ? "fork failed\n" : "";
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = read(report_fd_, buffer, sizeof buffer)) != 0;) {
    if (n > 0) report.append(buffer, static_cast<size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  close(report_fd_);
  report_fd_ = -1;
  int status = 0;
  while (waitpid(static_cast<pid_t>(process_), &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) report += "child died of signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) report += "child exited non-zero";
  return report;
}

Pipe::Pipe() {
  if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
}

Pipe::Pipe(const std::string& write_end) { fds_[1] = std::stoi(write_end); }

Pipe::~Pipe() {
  for (int fd : fds_) {
    if (fd >= 0) close(fd);
  }
}

Pipe& Pipe::Reader() {
  if (fds_[1] >= 0) close(fds_[1]);
  fds_[1] = -1;
  return *this;
}

Pipe& Pipe::Writer() {
  if (fds_[0] >= 0) close(fds_[0]);
  fds_[0] = -1;
  return *this;
}

std::string Pipe::WriteEnd() const { return std::to_string(fds_[1]); }

bool Pipe::Send() {
  char c = 'x';
  ssize_t n;
  while ((n = write(fds_[1], &c, 1)) < 0 && errno == EINTR) {
  }
  return n == 1;
}

bool Pipe::Receive(std::chrono::milliseconds timeout) {
  pollfd fd = {fds_[0], POLLIN, 0};
  int ready;
  while ((ready = poll(&fd, 1, static_cast<int>(timeout.count()))) < 0 && errno == EINTR) {
  }
  return ready > 0 && Receive();
}

bool Pipe::Receive() {
  char c;
  ssize_t n;
  while ((n = read(fds_[0], &c, 1)) < 0 && errno == EINTR) {
  }
  return n == 1;
}

}  // namespace opossvc::test_support
