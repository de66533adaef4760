// A megabyte each way under flow control that the device toggles at random:
// not one byte lost, duplicated or reordered.
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <opossvc/portdrv.h>
#include <opossvc/testing/virtual_port.h>

#include "tests/portdrv/portdrv_helpers.h"

namespace opossvc::testing {
namespace {

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& b : bytes) b = static_cast<char>(rng());
  return bytes;
}

TEST(PortStress, MegabyteEachWayWithFlowControlToggled) {
  constexpr size_t kSize = 1 << 20;
  TempRegistry registry;
  WriteFastConfig(registry);
  VirtualPort device("COM1");
  DeviceEntry entry;
  entry.values["HandShake"] = 1;  // CTS governs output, RTS holds input back
  entry.values["InputBuf"] = 16384;
  entry.values["OutputBuf"] = 1024;
  entry.values["Timeout"] = 2;
  WriteDevice(registry, entry);
  device.SetCts(true);
  RecordingSvc svc;
  CPortdrv port;
  ASSERT_EQ(port.PortOpen(entry.id().c_str(), &svc, 4096, 0, 0), 0);
  // The device's threads are joined before the driver goes, also when an
  // assertion below ends the test early.

  const std::string out = RandomBytes(kSize, 1);
  const std::string in = RandomBytes(kSize, 2);

  // The device sends whenever RTS lets it, in bursts that outrun the reads.
  std::jthread sender([&] {
    std::mt19937 rng(4);
    for (size_t sent = 0; sent < in.size();) {
      if (!device.WaitUntil([](const VirtualPort::State& s) { return s.rts; }, kDeadline)) return;
      const size_t n = std::min<size_t>(1 + rng() % 8192, in.size() - sent);
      device.Send(in.data() + sent, n);
      sent += n;
    }
  });
  // The device takes what is written and now and then drops CTS until some
  // more input has arrived.
  std::string taken;
  std::jthread taker([&] {
    std::mt19937 rng(3);
    while (taken.size() < out.size()) {
      if (!device.WaitForWritten(1, kDeadline)) return;
      taken += device.TakeWritten();
      const size_t received = svc.ReceivedCount();
      if (rng() % 8 == 0 && received + 8192 < in.size()) {
        device.SetCts(false);
        svc.WaitForReceived(received + 4096);
        device.SetCts(true);
      }
    }
  });

  std::mt19937 rng(5);
  long records = 0;
  for (size_t offset = 0; offset < out.size(); ++records) {
    const size_t n = std::min<size_t>(1 + rng() % 4096, out.size() - offset);
    const int handshake = static_cast<int>(rng() % 2);
    long result;
    while ((result = port.PortOutputData(out.data() + offset, n, 0, &svc, 0, handshake, records)) ==
           OPOSSVC_E_NOT_READY) {
      ASSERT_TRUE(device.WaitUntil([](const VirtualPort::State& s) { return s.cts; }, kDeadline));
    }
    ASSERT_EQ(result, 0);
    offset += n;
  }

  sender.join();
  taker.join();
  ASSERT_TRUE(svc.WaitForReceived(in.size()));
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, static_cast<size_t>(records)));
  EXPECT_TRUE(taken == out) << "output differs; " << taken.size() << " bytes taken";
  EXPECT_TRUE(svc.Received() == in) << "input differs";
  // Completions in queue order, one each.
  long expected = 0;
  for (const Notice& n : svc.Notices()) {
    if (n.kind == Notice::kComplete) {
      EXPECT_EQ(n.a, expected++);
    }
    EXPECT_NE(n.kind, Notice::kError);
  }
  EXPECT_EQ(port.PortClose(&svc), 0);
}

}  // namespace
}  // namespace opossvc::testing
