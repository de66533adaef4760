// The driver on a pseudo-terminal whose system calls fail on purpose: refused opens, EINTR
// everywhere, short writes, EIO in the middle of output and input; and on devices unplugged and
// plugged back in again and again. The driver reports, recovers, loses no byte that got through,
// and leaves no descriptor, thread or memory behind.
#include <termios.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/opos.h>
#include <opossvc/portdrv.h>
#include <opossvc/testing/message_pump.h>
#include <opossvc/testing/temp_registry.h>

#include "tests/support/comm_devices.h"
#include "tests/support/comm_faults.h"
#include "tests/support/comm_helpers.h"
#include "tests/support/device_entry.h"
#include "tests/support/process_usage.h"
#include "tests/support/recording_svc.h"

namespace opossvc::testing {
namespace {

// Every byte value, XON and XOFF included.
std::string Pattern(size_t size, long seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 31 + seed);
  return bytes;
}

class DriverFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(pty_.master(), 0);
    ASSERT_EQ(registry_.SetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM",
                                  pty_.slave_path(), "COM7"),
              ERROR_SUCCESS);
    entry_.port = "COM7";
    entry_.values["Baudrate"] = 11;
    entry_.values["HandShake"] = 2;  // DSR output flow, which a pty reports on
    entry_.values["InputBuf"] = 4096;
    entry_.values["Timeout"] = 200;
    WriteDevice(registry_, entry_);
    WriteFastConfig(registry_);
    // An earlier user left the terminal under software flow control and RTS handshake. Left so,
    // XON and XOFF bytes of the data would vanish, and a tty's RTS handshake is CTS output flow.
    termios settings{};
    ASSERT_EQ(tcgetattr(pty_.master(), &settings), 0);  // the slave's settings
    settings.c_iflag |= IXON | IXOFF;
    settings.c_cflag |= CRTSCTS;
    ASSERT_EQ(tcsetattr(pty_.master(), TCSANOW, &settings), 0);
    std::thread([] {}).join();  // a sanitizer's runtime starts its own thread with the first one
    descriptors_ = OpenDescriptors();
    threads_ = Threads();
  }

  long Open() {
    const long result = OpenOn(port_, entry_, &svc_);
    termios settings{};
    if (result == 0 && tcgetattr(pty_.master(), &settings) == 0) {
      EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), 0u) << "XON/XOFF left on";
      EXPECT_EQ(settings.c_cflag & CRTSCTS, 0u) << "RTS handshake left on";
    }
    return result;
  }
  // A joined thread stays listed in /proc for a moment after the join, so the count taken in
  // SetUp may still hold one of the previous test's.
  void ExpectNothingLeft() {
    EXPECT_TRUE(MessagePump::PumpUntil([&] { return OpenDescriptors() == descriptors_; }))
        << OpenDescriptors() << " descriptors open, " << descriptors_ << " before";
    EXPECT_TRUE(MessagePump::PumpUntil([&] { return Threads() <= threads_; }))
        << Threads() << " threads, " << threads_ << " before";
  }
  // One record of `size` bytes completes and reaches the device whole, after whatever bytes of an
  // earlier, failed record were still on their way.
  ::testing::AssertionResult OutputArrives(size_t size, long id) {
    const std::string out = Pattern(size, id);
    if (port_.PortOutputData(out.data(), out.size(), 0, &svc_, 0, 0, id) != 0) {
      return ::testing::AssertionFailure() << "record not queued";
    }
    if (!svc_.WaitForValue(Notice::kComplete, id)) {
      return ::testing::AssertionFailure() << "record " << id << " never completed";
    }
    std::string got;
    while (got.size() < size || got.compare(got.size() - size, size, out) != 0) {
      const std::string byte = pty_.Read(1);
      if (byte.empty()) {
        return ::testing::AssertionFailure() << "device got " << got.size() << " bytes for a record of "
                                             << size << ", not ending in the record";
      }
      got += byte;
    }
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult InputArrives(size_t size, long seed) {
    const std::string in = Pattern(size, seed);
    const size_t before = svc_.ReceivedCount();
    pty_.Write(in);
    if (!svc_.WaitForReceived(before + size)) {
      return ::testing::AssertionFailure()
             << "received " << svc_.ReceivedCount() - before << " of " << size;
    }
    if (svc_.Received().substr(before) != in) {
      return ::testing::AssertionFailure() << "input bytes differ";
    }
    return ::testing::AssertionSuccess();
  }

  Pty pty_;
  TempRegistry registry_;
  DeviceEntry entry_;
  FaultyCommCalls faults_;
  RecordingSvc svc_;
  CPortdrv port_;
  int descriptors_ = 0;
  int threads_ = 0;
};

// A refused open changes nothing and tells its cause; the next open works.
TEST_F(DriverFaults, RefusedOpenChangesNothing) {
  const std::tuple<int, long, DWORD> cases[] = {
      {ENOENT, OPOSSVC_E_BAD_PORT, ERROR_FILE_NOT_FOUND},
      {EBUSY, OPOSSVC_E_PORT_IN_USE, ERROR_ACCESS_DENIED},
      {EACCES, OPOSSVC_E_PORT_CALL, ERROR_PRIVILEGE_NOT_HELD},  // no port in use
  };
  for (const auto& [refusal, result, error] : cases) {
    SCOPED_TRACE(refusal);
    faults_->open_errno = refusal;
    EXPECT_EQ(Open(), result);
    EXPECT_EQ(GetLastError(), error);
    ExpectNothingLeft();
  }
  faults_->open_errno = 0;
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(300, 1));
  EXPECT_EQ(port_.PortClose(&svc_), 0);
  ExpectNothingLeft();
}

// EINTR on every other call, open and settings included, and writes of at most 3 bytes lose
// nothing; I/O errors in the middle are reported or retried and the port goes on.
TEST_F(DriverFaults, InterruptedCallsShortWritesAndIoErrorsLoseNothing) {
  faults_->interrupt = true;
  faults_->write_limit = 3;
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(2000, 11));
  EXPECT_TRUE(InputArrives(3000, 11));
  faults_->interrupt = false;
  faults_->write_limit = 0;
  // Output: a few writes fail. The record either completes or is reported once; either way the
  // port goes on with the next record intact.
  faults_->eio_writes = 3;
  const std::string lost = Pattern(400, 2);
  ASSERT_EQ(port_.PortOutputData(lost.data(), lost.size(), OPOS_E_TIMEOUT, &svc_, 0, 1, 2), 0);
  EXPECT_TRUE(svc_.log().WaitUntil([](const std::vector<Notice>& all) {
    return std::any_of(all.begin(), all.end(), [](const Notice& n) {
      return n.kind == Notice::kError || (n.kind == Notice::kComplete && n.a == 2);
    });
  })) << "the failing record was neither completed nor reported";
  port_.ClearOutputBuffer(&svc_);
  faults_->eio_writes = 0;
  EXPECT_TRUE(OutputArrives(700, 3));

  // Input: the reads that find the bytes fail for a while; the bytes stay with the device and all
  // arrive once reads work again.
  faults_->eio_reads = 5;
  EXPECT_TRUE(InputArrives(1500, 4));
  EXPECT_EQ(faults_->eio_reads.load(), 0);

  EXPECT_EQ(port_.PortClose(&svc_), 0);
  ExpectNothingLeft();
}

// The device is unplugged and plugged back in again and again under the open port: a
// pseudo-terminal that hangs up and comes back as a new one behind the same link, and a
// VirtualPort. Each loss is told once, output is refused while the device is gone, and each return
// is reported and resumes output and input, with nothing left behind.
TEST(DeviceLoss, UnplugReplugCyclesLeaveNothingBehind) {
  const int cycles = kSanitized ? 100 : 1000;
  for (bool virtual_port : {false, true}) {
    SCOPED_TRACE(virtual_port ? "VirtualPort" : "pseudo-terminal");
    TempRegistry registry;
    std::unique_ptr<Device> device;
    if (virtual_port) {
      auto port = std::make_unique<VirtualPortDevice>("COM3");
      port->port().SetDsr(true);
      device = std::move(port);
    } else {
      device = std::make_unique<PtyDevice>("COM3");
    }
    DeviceEntry entry;
    entry.port = "COM3";
    entry.values["HandShake"] = 2;  // DSR is the power line: a pty reports it on
    WriteDevice(registry, entry);
    WriteFastConfig(registry);
    RecordingSvc svc;
    CPortdrv port;
    ASSERT_EQ(OpenOn(port, entry, &svc), 0);
    int descriptors = 0, threads = 0;
    size_t memory = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
      device->Unplug();
      const auto losses = [cycle](const std::vector<Notice>& all) {
        return std::count_if(all.begin(), all.end(),
                             [](const Notice& n) { return n.kind == Notice::kError; }) >= cycle;
      };
      ASSERT_TRUE(svc.log().WaitUntil(losses)) << "loss " << cycle << " not reported";
      ASSERT_EQ(port.PortOutputData("x", 1, 0, &svc, 0, 0, 0), OPOS_E_NOHARDWARE);
      device->Replug();
      const auto returns = [cycle](const std::vector<Notice>& all) {
        return std::count_if(all.begin(), all.end(), [](const Notice& n) {
                 return n.kind == Notice::kPower && n.b == 1;
               }) >= cycle;
      };
      ASSERT_TRUE(svc.log().WaitUntil(returns)) << "return " << cycle << " not reported";
      const std::string out = Pattern(16, cycle);
      ASSERT_EQ(port.PortOutputData(out.data(), out.size(), 0, &svc, 0, 0, cycle), 0);
      ASSERT_TRUE(svc.WaitForValue(Notice::kComplete, cycle));
      ASSERT_EQ(device->Receive(out.size()), out);
      device->Send("in");
      ASSERT_TRUE(svc.WaitForReceived(2 * static_cast<size_t>(cycle)));
      ASSERT_EQ(svc.TakeReceived(), "in");
      if (cycle == 10) {
        descriptors = OpenDescriptors();
        threads = Threads();
        memory = ResidentBytes();
      }
    }
    EXPECT_TRUE(MessagePump::PumpUntil([&] { return OpenDescriptors() == descriptors; }))
        << OpenDescriptors() << " descriptors open, " << descriptors << " before";
    EXPECT_TRUE(MessagePump::PumpUntil([&] { return Threads() <= threads; }))
        << Threads() << " threads, " << threads << " before";
    if (!kSanitized) {
      EXPECT_LT(ResidentBytes(), memory + 4u * 1024 * 1024) << memory << " bytes before";
    }
    // Each loss and each return told once: PortError, and DSR off and on again.
    std::string told;
    for (const Notice& n : svc.Notices()) {
      if (n.kind == Notice::kError) told += n.a == OPOS_E_NOHARDWARE ? "E" : "?";
      if (n.kind == Notice::kPower) told += n.b != 0 ? "+" : "-";
    }
    std::string expected;
    for (int cycle = 0; cycle < cycles; ++cycle) expected += "-E+";
    EXPECT_EQ(told, expected);
    EXPECT_EQ(port.PortClose(&svc), 0);
  }
}

}  // namespace
}  // namespace opossvc::testing
