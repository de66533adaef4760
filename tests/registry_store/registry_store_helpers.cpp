#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tests/registry_store/registry_test_support.h"

namespace opossvc::registry_test {

LONG Create(HKEY parent, const char* path, ScopedKey* key, DWORD* disposition, REGSAM access) {
  return RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         key->out(), disposition);
}

LONG Open(HKEY parent, const char* path, ScopedKey* key, REGSAM access) {
  return RegOpenKeyExA(parent, path, 0, access, key->out());
}

LONG SetBytes(HKEY key, const char* name, DWORD type, std::string_view bytes) {
  // Followed by a byte that is no NUL, so that a string's size is taken as
  // it is given (a NUL right after it would be counted in).
  const std::string buffer = std::string(bytes) + 'x';
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(buffer.data()),
                        static_cast<DWORD>(bytes.size()));
}

LONG SetText(HKEY key, const char* name, std::string_view text) {
  return SetBytes(key, name, REG_SZ, std::string(text) + '\0');
}

std::optional<std::string> ReadBytes(HKEY key, const char* name, DWORD* type) {
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) return {};
  std::string data(size, '\0');
  auto* buffer = reinterpret_cast<BYTE*>(data.data());
  if (RegQueryValueExA(key, name, nullptr, type, buffer, &size) != ERROR_SUCCESS) return {};
  data.resize(size);
  return data;
}

namespace {

std::vector<std::string> Names(HKEY key, bool values) {
  std::vector<std::string> names;
  std::string name(16384, '\0');  // the longest value name, and more than any key name
  for (DWORD i = 0, size = 16384;
       (values ? RegEnumValueA(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr)
               : RegEnumKeyExA(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr)) ==
       ERROR_SUCCESS;
       ++i, size = 16384) {
    names.emplace_back(name.data(), size);
  }
  return names;
}

}  // namespace

std::vector<std::string> SubkeyNames(HKEY key) { return Names(key, false); }
std::vector<std::string> ValueNames(HKEY key) { return Names(key, true); }

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
  if (const char* previous = std::getenv(name)) previous_ = previous;
  value ? setenv(name, value->c_str(), 1) : unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  previous_ ? setenv(name_.c_str(), previous_->c_str(), 1) : unsetenv(name_.c_str());
}

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
  pid_ = fork();
  if (pid_ < 0) {
    close(fds[0]);
    close(fds[1]);
    return;
  }
  if (pid_ == 0) {
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

ChildProcess::~ChildProcess() {
  if (report_fd_ >= 0) kill(pid_, SIGKILL);
  Wait();
}

std::string ChildProcess::Wait() {
  if (report_fd_ < 0) return pid_ < 0 ? "fork failed\n" : "";
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = read(report_fd_, buffer, sizeof buffer)) != 0;) {
    if (n > 0) report.append(buffer, static_cast<size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  close(report_fd_);
  report_fd_ = -1;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) report += "child died of signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) report += "child exited non-zero";
  return report;
}

Pipe::Pipe() {
  if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
}

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

bool Pipe::Send() {
  char c = 'x';
  ssize_t n;
  while ((n = write(fds_[1], &c, 1)) < 0 && errno == EINTR) {
  }
  return n == 1;
}

bool Pipe::Receive() {
  char c;
  ssize_t n;
  while ((n = read(fds_[0], &c, 1)) < 0 && errno == EINTR) {
  }
  return n == 1;
}

}  // namespace opossvc::registry_test
