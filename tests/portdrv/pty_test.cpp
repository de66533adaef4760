// The driver on a real terminal device: a pseudo-terminal mapped to a COM
// name, through the termios backend.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include <opossvc/portdrv.h>

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
  }
  return bytes;
}

TEST(PortOnPty, BytesBothWays) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);

  TempRegistry registry;
  WriteFastConfig(registry);
  registry.SetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", slave, "COM9");
  DeviceEntry entry;
  entry.port = "COM9";
  entry.values["Baudrate"] = 11;
  WriteDevice(registry, entry);

  RecordingSvc svc;
  CPortdrv port;
  ASSERT_EQ(OpenOn(port, entry, &svc), 0);
  // A pty has no modem lines: they read as on.
  EXPECT_EQ(port.GetPowerState(1), 1);
  EXPECT_EQ(port.GetPowerState(2), 1);

  // Every byte value, XON and XOFF included: with "XonXoff" 0 the driver
  // turns the terminal's own XON/XOFF handling off, both ways.
  std::string out;
  for (int i = 0; i < 2000; ++i) out += static_cast<char>(i * 7);
  ASSERT_EQ(port.PortOutputData(out.data(), out.size(), 0, &svc, 0, 1, 1), 0);
  EXPECT_EQ(ReadFor(master, out.size()), out);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete));

  const std::string in = std::string("from the device\0\x11\x13\x7f\xff", 20);
  ASSERT_EQ(write(master, in.data(), in.size()), static_cast<ssize_t>(in.size()));
  ASSERT_TRUE(svc.WaitForReceived(in.size()));
  EXPECT_EQ(svc.Received(), in);

  EXPECT_EQ(port.PortClose(&svc), 0);
  close(master);
}

}  // namespace
}  // namespace opossvc::testing
