#include "tests/support/comm_helpers.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <utility>

#include <gtest/gtest.h>

#include <opossvc/win32/files.h>

#include "platform/internal/comm_wait.h"

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

ReadResult ReadPort(HANDLE port, DWORD size) {
  ReadResult result;
  std::string buffer(size, '\0');
  DWORD read = 0;
  SetLastError(0);
  result.ok = ReadFile(port, buffer.data(), size, &read, nullptr);
  result.error = GetLastError();
  buffer.resize(read);
  result.bytes = buffer;
  return result;
}

WriteResult WritePort(HANDLE port, const std::string& bytes) {
  WriteResult result;
  SetLastError(0);
  result.ok =
      WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &result.written, nullptr);
  result.error = GetLastError();
  return result;
}

::testing::AssertionResult Fails(BOOL result, DWORD error) {
  const DWORD last = GetLastError();
  if (result) return ::testing::AssertionFailure() << "succeeded";
  if (last != error) return ::testing::AssertionFailure() << "failed with " << last;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult Fails(HANDLE result, DWORD error) {
  const DWORD last = GetLastError();
  if (result != INVALID_HANDLE_VALUE) {
    CloseHandle(result);
    return ::testing::AssertionFailure() << "opened";
  }
  SetLastError(last);
  return Fails(FALSE, error);
}

void ExpectInputWaitRules(HANDLE port, const std::function<void(const std::string&)>& send,
                          const std::function<bool()>& wait_blocked) {
  using Result = std::pair<BOOL, DWORD>;  // the call's result and the events it reported
  const auto wait = [port](DWORD ms) {
    DWORD events = 0xdead;
    const BOOL ok = detail::WaitCommInput(port, &events, ms);
    return Result(ok, events);
  };
  // Bounded, so that a failing test ends.
  const DWORD long_wait = static_cast<DWORD>(std::chrono::milliseconds(2 * kPatience).count());
  const auto wait_in_background = [&] { return std::async(std::launch::async, wait, long_wait); };
  ASSERT_TRUE(SetTimeouts(port, 0, 0, 0));  // reads wait for every byte asked

  DWORD events = 0;
  ASSERT_TRUE(SetCommMask(port, 0));
  EXPECT_TRUE(Fails(detail::WaitCommInput(port, &events, INFINITE), ERROR_INVALID_PARAMETER))
      << "no events to wait for";
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  EXPECT_EQ(wait(0), Result(TRUE, 0)) << "nothing there: the time runs out";

  // Bytes end a wait at once for as long as they wait to be read, also those that came before.
  send("ab");
  EXPECT_EQ(wait(INFINITE), Result(TRUE, EV_RXCHAR));
  EXPECT_EQ(wait(INFINITE), Result(TRUE, EV_RXCHAR));
  EXPECT_EQ(ReadPort(port, 2).bytes, "ab");
  auto waiter = wait_in_background();
  ASSERT_TRUE(wait_blocked());
  send("c");
  ASSERT_EQ(waiter.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(waiter.get(), Result(TRUE, EV_RXCHAR));
  EXPECT_EQ(ReadPort(port, 1).bytes, "c");

  // One wait at a time; a change of the mask ends it, as the close of the port does.
  waiter = wait_in_background();
  ASSERT_TRUE(wait_blocked());
  EXPECT_TRUE(Fails(detail::WaitCommInput(port, &events, 0), ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(SetCommMask(port, 0));
  ASSERT_EQ(waiter.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(waiter.get(), Result(TRUE, 0));
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  waiter = wait_in_background();
  ASSERT_TRUE(wait_blocked());
  ASSERT_TRUE(CloseHandle(port));
  ASSERT_EQ(waiter.wait_for(kPatience), std::future_status::ready);
  EXPECT_FALSE(waiter.get().first);
}

std::string AllByteValues() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  for (int i = 255; i >= 0; --i) bytes.push_back(static_cast<char>(i));
  return bytes;
}

}  // namespace opossvc::testing
