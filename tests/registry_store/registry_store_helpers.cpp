#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

LONG SetText(HKEY key, const char* name, std::string_view text) {
  std::string with_nul(text);
  with_nul.push_back('\0');
  return SetBytes(key, name, REG_SZ, with_nul);
}

std::optional<std::string> ReadBytes(HKEY key, const char* name, DWORD* type) {
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::string data(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data.data()), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.resize(size);
  return data;
}

std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, size);
  }
  return names;
}

std::vector<std::string> ValueNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD size = sizeof name;
    if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, size);
  }
  return names;
}

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
  if (const char* previous = std::getenv(name)) previous_ = previous;
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

bool ChildChecks::Expect(bool ok, const std::string& what) {
  if (!ok) {
    std::string line = what + "\n";
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
      ssize_t n = write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  return ok;
}

bool ChildChecks::ExpectCode(LONG actual, LONG expected, const std::string& what) {
  return Expect(actual == expected, what + ": got " + std::to_string(actual) + ", expected " +
                                        std::to_string(expected));
}

ChildProcess::ChildProcess(const std::function<void(ChildChecks&)>& body) {
  int fds[2];
  if (pipe(fds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    ChildChecks checks(fds[1]);
    body(checks);
    _exit(0);
  }
  close(fds[1]);
  if (pid_ < 0) {
    close(fds[0]);
    return;
  }
  report_fd_ = fds[0];
}

ChildProcess::~ChildProcess() {
  if (!waited_) Wait();
}

std::string ChildProcess::Wait() {
  waited_ = true;
  if (pid_ < 0) return "fork failed\n";
  std::string report;
  char buffer[512];
  for (;;) {
    ssize_t n = read(report_fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    report.append(buffer, static_cast<size_t>(n));
  }
  close(report_fd_);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    report += "child died of signal " + std::to_string(WTERMSIG(status)) + "\n";
  } else if (WEXITSTATUS(status) != 0) {
    report += "child exited with " + std::to_string(WEXITSTATUS(status)) + "\n";
  }
  return report;
}

std::string RunInChild(const std::function<void(ChildChecks&)>& body) {
  return ChildProcess(body).Wait();
}

Pipe::Pipe() {
  int fds[2];
  if (pipe(fds) == 0) {
    read_fd_ = fds[0];
    write_fd_ = fds[1];
  }
}

Pipe::~Pipe() {
  if (read_fd_ >= 0) close(read_fd_);
  if (write_fd_ >= 0) close(write_fd_);
}

void Pipe::KeepReadEnd() {
  if (write_fd_ >= 0) close(write_fd_);
  write_fd_ = -1;
}

void Pipe::KeepWriteEnd() {
  if (read_fd_ >= 0) close(read_fd_);
  read_fd_ = -1;
}

bool Pipe::WriteByte(char c) {
  for (;;) {
    ssize_t n = write(write_fd_, &c, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

bool Pipe::ReadByte(char* c) {
  char byte = 0;
  for (;;) {
    ssize_t n = read(read_fd_, &byte, 1);
    if (n == 1) {
      if (c != nullptr) *c = byte;
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

}  // namespace opossvc::registry_test
