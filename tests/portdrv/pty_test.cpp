// The driver on a real terminal device: a pseudo-terminal mapped to a COM
// name, through the termios backend.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include <opossvc/portdrv.h>

#include "platform/posix/comm/comm_syscalls.h"
#include "tests/portdrv/portdrv_helpers.h"

namespace opossvc::testing {
namespace {

// Reads `size` bytes from fd, or what came before the deadline.
std::string ReadFor(int fd, size_t size) {
  std::string bytes;
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (bytes.size() < size && std::chrono::steady_clock::now() < deadline) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n > 0) bytes.append(buffer, static_cast<size_t>(n));
    if (n <= 0 && errno != EINTR && errno != EAGAIN) break;  // the port was closed
  }
  return bytes;
}

// A pseudo-terminal published as COM9; the test plays the device on its
// master side.
class PortOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    WriteFastConfig(registry_);
    registry_.SetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", slave_, "COM9");
    entry_.port = "COM9";
    entry_.values["Baudrate"] = 11;
  }
  void TearDown() override {
    if (master_ >= 0) close(master_);
  }

  int master_ = -1;
  std::string slave_;
  TempRegistry registry_;
  DeviceEntry entry_;
};

TEST_F(PortOnPty, BytesBothWays) {
  WriteDevice(registry_, entry_);
  RecordingSvc svc;
  CPortdrv port;
  ASSERT_EQ(OpenOn(port, entry_, &svc), 0);
  // A pty has no modem lines: they read as on.
  EXPECT_EQ(port.GetPowerState(1), 1);
  EXPECT_EQ(port.GetPowerState(2), 1);

  // Every byte value, XON and XOFF included: with "XonXoff" 0 the driver
  // turns the terminal's own XON/XOFF handling off, both ways.
  std::string out;
  for (int i = 0; i < 2000; ++i) out += static_cast<char>(i * 7);
  ASSERT_EQ(port.PortOutputData(out.data(), out.size(), 0, &svc, 0, 1, 1), 0);
  EXPECT_EQ(ReadFor(master_, out.size()), out);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete));

  const std::string in = std::string("from the device\0\x11\x13\x7f\xff", 20);
  ASSERT_EQ(write(master_, in.data(), in.size()), static_cast<ssize_t>(in.size()));
  ASSERT_TRUE(svc.WaitForReceived(in.size()));
  EXPECT_EQ(svc.Received(), in);

  EXPECT_EQ(port.PortClose(&svc), 0);
}

// Completed records have left the port: the last close loses none of them,
// also while the device has not read them yet. And a mode without CTS flow
// does not take over the CTS flow that an earlier user left on the tty.
TEST_F(PortOnPty, CloseAfterCompletionLosesNothing) {
  const int earlier = open(slave_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(earlier, 0);
  termios settings{};
  ASSERT_EQ(tcgetattr(earlier, &settings), 0);
  settings.c_cflag |= CRTSCTS;
  ASSERT_EQ(tcsetattr(earlier, TCSANOW, &settings), 0);
  close(earlier);
  entry_.values["HandShake"] = 2;
  WriteDevice(registry_, entry_);

  RecordingSvc svc;
  CPortdrv port;
  ASSERT_EQ(OpenOn(port, entry_, &svc), 0);
  ASSERT_EQ(tcgetattr(master_, &settings), 0);  // the slave's settings
  EXPECT_EQ(settings.c_cflag & CRTSCTS, 0u);

  // More than the device side reads ahead: it reads nothing until the close.
  std::string out;
  for (int i = 0; i < 8000; ++i) out += static_cast<char>('a' + i % 26);
  for (long id = 1; id <= 4; ++id) {
    ASSERT_EQ(port.PortOutputData(out.data() + (id - 1) * 2000, 2000, 0, &svc, 0, 1, id), 0);
  }
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, 4));
  ASSERT_EQ(port.PortClose(&svc), 0);
  EXPECT_EQ(ReadFor(master_, out.size()), out);
}

// A device the user may not open is a failed call with its cause in the last
// error, not a port in use.
TEST_F(PortOnPty, ForbiddenDeviceIsNoPortInUse) {
  WriteDevice(registry_, entry_);
  detail::CommSyscalls forbidden = detail::SystemCommSyscalls();
  forbidden.open = [](const char*, int) {
    errno = EACCES;
    return -1;
  };
  detail::SetCommSyscalls(&forbidden);
  RecordingSvc svc;
  CPortdrv port;
  const long result = OpenOn(port, entry_, &svc);
  const DWORD error = GetLastError();
  detail::SetCommSyscalls(nullptr);
  EXPECT_EQ(result, OPOSSVC_E_PORT_CALL);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
}

}  // namespace
}  // namespace opossvc::testing
