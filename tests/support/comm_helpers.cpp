#include "tests/support/comm_helpers.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include <opossvc/win32/files.h>

namespace opossvc::testing {

Pty::Pty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    ADD_FAILURE() << "no pseudo-terminal: " << errno;
    return;
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    ADD_FAILURE() << "ptsname_r: " << errno;
    return;
  }
  slave_path_ = name;
  // The master side passes bytes as they are.
  termios settings{};
  tcgetattr(master_, &settings);
  cfmakeraw(&settings);
  tcsetattr(master_, TCSANOW, &settings);
}

Pty::~Pty() { CloseMaster(); }

void Pty::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void Pty::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ASSERT_GT(n, 0) << "write to pty master: " << errno;
    done += static_cast<size_t>(n);
  }
}

std::string Pty::Read(size_t count, std::chrono::milliseconds timeout) {
  std::string bytes;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (bytes.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd fd = {master_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - bytes.size()));
    if (n > 0) bytes.append(buffer, static_cast<size_t>(n));
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
  }
  return bytes;
}

HANDLE OpenPort(const char* name) {
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                     FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
}

BOOL SetTimeouts(HANDLE port, DWORD interval, DWORD read_multiplier, DWORD read_constant,
                 DWORD write_multiplier, DWORD write_constant) {
  COMMTIMEOUTS timeouts = {interval, read_multiplier, read_constant, write_multiplier,
                           write_constant};
  return SetCommTimeouts(port, &timeouts);
}

WriteResult WritePort(HANDLE port, const std::string& bytes) {
  WriteResult result;
  SetLastError(0);
  result.ok =
      WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &result.written, nullptr);
  result.error = GetLastError();
  return result;
}

}  // namespace opossvc::testing
