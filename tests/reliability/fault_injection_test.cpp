// The driver on a pseudo-terminal whose system calls fail on purpose: refused opens, EINTR
// everywhere, short writes, EIO in the middle of output and input, a device that vanishes and
// comes back. The driver reports, recovers on re-open, loses no byte that got through, and leaves
// no descriptor or thread behind.
#include <dirent.h>
#include <termios.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <opossvc/opos.h>
#include <opossvc/portdrv.h>
#include <opossvc/testing/temp_registry.h>

#include "tests/support/comm_faults.h"
#include "tests/support/comm_helpers.h"
#include "tests/support/device_entry.h"
#include "tests/support/recording_svc.h"

namespace opossvc::testing {
namespace {

// Entries of a /proc folder of this process.
int CountEntries(const char* folder) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}
int OpenDescriptors() { return CountEntries("/proc/self/fd") - 1; }  // less the listing's own
int Threads() { return CountEntries("/proc/self/task"); }

// Waits until `condition` holds, testing it again and again: for counts that offer nothing to
// wait on.
bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

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
    EXPECT_TRUE(Eventually([&] { return OpenDescriptors() == descriptors_; }))
        << OpenDescriptors() << " descriptors open, " << descriptors_ << " before";
    EXPECT_TRUE(Eventually([&] { return Threads() <= threads_; }))
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
  const struct {
    int refusal;
    long result;
    DWORD error;
  } cases[] = {
      {ENOENT, OPOSSVC_E_BAD_PORT, ERROR_FILE_NOT_FOUND},
      {EBUSY, OPOSSVC_E_PORT_IN_USE, ERROR_ACCESS_DENIED},
      {EACCES, OPOSSVC_E_PORT_CALL, ERROR_PRIVILEGE_NOT_HELD},  // no port in use
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal);
    faults_->open_errno = c.refusal;
    EXPECT_EQ(Open(), c.result);
    EXPECT_EQ(GetLastError(), c.error);
    ExpectNothingLeft();
  }
  faults_->open_errno = 0;
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(300, 1));
  EXPECT_EQ(port_.PortClose(&svc_), 0);
  ExpectNothingLeft();
}

// EINTR on every other call, open and settings included; writes of at most 3 bytes.
TEST_F(DriverFaults, InterruptedCallsAndShortWritesLoseNothing) {
  faults_->interrupt = true;
  faults_->write_limit = 3;
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(2000, 11));
  EXPECT_TRUE(InputArrives(3000, 11));
  EXPECT_EQ(port_.PortClose(&svc_), 0);
  ExpectNothingLeft();
}

TEST_F(DriverFaults, IoErrorsInTheMiddleAreReportedOrRetriedAndThePortGoesOn) {
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(500, 1));
  EXPECT_TRUE(InputArrives(500, 1));

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
  EXPECT_TRUE(InputArrives(700, 5));

  EXPECT_EQ(port_.PortClose(&svc_), 0);
  ExpectNothingLeft();
}

TEST_F(DriverFaults, VanishedDeviceIsSurvivedAndReopened) {
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(200, 1));
  faults_->vanished = true;
  // Output while the device is gone must not hang the driver.
  const std::string out = Pattern(300, 5);
  port_.PortOutputData(out.data(), out.size(), OPOS_E_TIMEOUT, &svc_, 0, 1, 5);
  EXPECT_TRUE(svc_.WaitForValue(Notice::kError, OPOS_E_TIMEOUT))
      << "output to a vanished device was not reported";
  // The reported record stays queued until the client drops it.
  EXPECT_EQ(port_.PortClose(&svc_), OPOSSVC_E_OUTPUT_PENDING);
  EXPECT_EQ(port_.ClearOutputBuffer(&svc_), 0);
  EXPECT_EQ(port_.PortClose(&svc_), 0);
  EXPECT_NE(Open(), 0) << "opened a device that is gone";
  ExpectNothingLeft();

  faults_->vanished = false;
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(600, 6));
  EXPECT_TRUE(InputArrives(600, 6));
  EXPECT_EQ(port_.PortClose(&svc_), 0);
  ExpectNothingLeft();
}

}  // namespace
}  // namespace opossvc::testing
