// The driver on a pseudo-terminal whose system calls fail on purpose:
// failing opens, EINTR everywhere, short writes, EIO in the middle of
// output and input, a device that vanishes and comes back. The driver
// reports, recovers on re-open, loses no byte that got through, and leaves
// no descriptor or thread behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <thread>

#include <opossvc/opos.h>
#include <opossvc/portdrv.h>
#include <opossvc/testing/temp_registry.h>

#include "platform/posix/comm/comm_syscalls.h"
#include "tests/reliability/reliability_helpers.h"

namespace opossvc::reliability {
namespace {

using detail::CommSyscalls;
using detail::SystemCommSyscalls;

// What the injected calls do. Budgets count calls left to fail.
struct Faults {
  std::atomic<int> failing_opens{0};
  std::atomic<bool> eintr_everywhere{false};
  std::atomic<int> eintr_toggle{0};  // every other call fails while eintr_everywhere
  std::atomic<size_t> write_limit{0};  // most bytes one write takes; 0: no limit
  std::atomic<int> eio_writes{0};
  std::atomic<int> eio_reads{0};
  std::atomic<bool> vanished{false};

  void Reset() {
    failing_opens = 0;
    eintr_everywhere = false;
    write_limit = 0;
    eio_writes = eio_reads = 0;
    vanished = false;
  }
};
Faults faults;

bool Take(std::atomic<int>& budget) {
  int left = budget.load();
  while (left > 0) {
    if (budget.compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}
bool Interrupt() { return faults.eintr_everywhere && (faults.eintr_toggle++ % 2) == 0; }

int FaultyOpen(const char* path, int flags) {
  if (faults.vanished || Take(faults.failing_opens)) return errno = ENOENT, -1;
  if (Interrupt()) return errno = EINTR, -1;
  return SystemCommSyscalls().open(path, flags);
}
int FaultyClose(int fd) { return SystemCommSyscalls().close(fd); }
ssize_t FaultyRead(int fd, void* buffer, size_t size) {
  if (Interrupt()) return errno = EINTR, -1;
  if (faults.vanished || Take(faults.eio_reads)) return errno = EIO, -1;
  return SystemCommSyscalls().read(fd, buffer, size);
}
ssize_t FaultyWrite(int fd, const void* data, size_t size) {
  if (Interrupt()) return errno = EINTR, -1;
  if (faults.vanished || Take(faults.eio_writes)) return errno = EIO, -1;
  const size_t limit = faults.write_limit;
  return SystemCommSyscalls().write(fd, data, limit != 0 ? std::min(size, limit) : size);
}
int FaultyPoll(pollfd* fds, nfds_t count, int timeout_ms) {
  if (Interrupt()) return errno = EINTR, -1;
  if (faults.vanished) {
    for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
    fds[0].revents = POLLHUP;  // the device comes first
    return 1;
  }
  return SystemCommSyscalls().poll(fds, count, timeout_ms);
}
int FaultyIoctl(int fd, unsigned long request, void* argument) {
  if (Interrupt()) return errno = EINTR, -1;
  // A device that returns is a new terminal, not exclusive to anybody: the
  // close's TIOCNXCL goes through (the pty stands for both).
  if (faults.vanished && request != TIOCNXCL) return errno = EIO, -1;
  return SystemCommSyscalls().ioctl(fd, request, argument);
}
int FaultyFlock(int fd, int operation) {
  if (Interrupt()) return errno = EINTR, -1;
  return SystemCommSyscalls().flock(fd, operation);
}

constexpr CommSyscalls kFaultyCalls = {FaultyOpen, FaultyClose, FaultyRead, FaultyWrite,
                                       FaultyPoll, FaultyIoctl, FaultyFlock};

// The device's side of a pseudo-terminal: a thread drains what the driver
// writes, so that output never stalls on a full terminal buffer.
class PtyDevice {
 public:
  PtyDevice() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = ptsname(master_);
    drain_ = std::thread([this] { Drain(); });
  }
  ~PtyDevice() {
    stop_ = true;
    if (drain_.joinable()) drain_.join();
    if (master_ >= 0) close(master_);
  }

  const std::string& slave() const { return slave_; }
  void Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
      if (n < 0) {
        pollfd p = {master_, POLLOUT, 0};
        poll(&p, 1, 100);
      }
    }
  }
  std::string Written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
  }

 private:
  void Drain() {
    while (!stop_) {
      pollfd p = {master_, POLLIN, 0};
      // The slave side may be closed between opens: POLLHUP then, no data.
      if (poll(&p, 1, 20) <= 0 || (p.revents & POLLIN) == 0) {
        if ((p.revents & POLLHUP) != 0) std::this_thread::yield();
        continue;
      }
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof(buffer));
      if (n > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        written_.append(buffer, static_cast<size_t>(n));
      }
    }
  }

  int master_ = -1;
  std::string slave_;
  std::atomic<bool> stop_{false};
  std::thread drain_;
  std::mutex mutex_;
  std::string written_;  // guarded by mutex_
};

// Every byte value, XON and XOFF included: a new terminal starts with
// XON/XOFF on, and with XonXoff 0 the driver must turn it off.
std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + static_cast<size_t>(seed)) & 0xFF);
  return bytes;
}

class DriverFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    faults.Reset();
    ASSERT_FALSE(pty_.slave().empty());
    ASSERT_EQ(registry_.SetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM",
                                  pty_.slave(), "COM7"),
              ERROR_SUCCESS);
    const std::string device = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Faulty";
    ASSERT_EQ(registry_.SetString(HKEY_LOCAL_MACHINE, device, "Port", "COM7"), ERROR_SUCCESS);
    const std::pair<const char*, DWORD> settings[] = {
        {"Baudrate", 11}, {"BitLength", 1}, {"Parity", 0},     {"Stop", 0},
        {"HandShake", 0}, {"XonXoff", 0},   {"InputBuf", 4096}, {"OutputBuf", 512},
        {"Timeout", 200}};
    for (const auto& [name, value] : settings) {
      ASSERT_EQ(registry_.SetDword(HKEY_LOCAL_MACHINE, device, name, value), ERROR_SUCCESS);
    }
    const std::string config = "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\VANTA1.6";
    ASSERT_EQ(registry_.SetDword(HKEY_LOCAL_MACHINE, config, "IdleSleep", 1), ERROR_SUCCESS);
    ASSERT_EQ(registry_.SetDword(HKEY_LOCAL_MACHINE, config, "InputSleep", 1), ERROR_SUCCESS);
    descriptors_ = OpenDescriptorCount();
    threads_ = ThreadCount();
    detail::SetCommSyscalls(&kFaultyCalls);
  }
  void TearDown() override {
    detail::SetCommSyscalls(nullptr);
    faults.Reset();
  }

  long Open() { return port_.PortOpen("POSPrinter\\Faulty", &svc_, 256, 0, 0); }
  // A joined thread stays listed in /proc for a moment after the join, so
  // the count taken in SetUp may still hold one of the previous test's.
  void ExpectNothingLeft() {
    EXPECT_TRUE(Eventually([&] { return OpenDescriptorCount() == descriptors_; }))
        << OpenDescriptorCount() << " descriptors open, " << descriptors_ << " before";
    EXPECT_TRUE(Eventually([&] { return ThreadCount() <= threads_; }))
        << ThreadCount() << " threads, " << threads_ << " before";
  }
  // One record of `size` bytes: it completes and reaches the device whole.
  ::testing::AssertionResult OutputArrives(size_t size, long id) {
    const std::string out = Pattern(size, static_cast<int>(id));
    const size_t before = pty_.Written().size();
    if (port_.PortOutputData(out.data(), out.size(), 0, &svc_, 0, 0, id) != 0) {
      return ::testing::AssertionFailure() << "record not queued";
    }
    if (!svc_.WaitFor([id](const CollectingSvc& s) {
          const auto done = s.Completed();
          return std::find(done.begin(), done.end(), id) != done.end();
        })) {
      return ::testing::AssertionFailure() << "record " << id << " never completed";
    }
    // Bytes of an earlier, failed record may still be on their way: the
    // record must arrive whole as the last thing the device got.
    const bool arrived = Eventually([&] {
      const std::string got = pty_.Written();
      return got.size() >= before + size && got.compare(got.size() - size, size, out) == 0;
    });
    if (!arrived) {
      return ::testing::AssertionFailure()
             << "device got " << pty_.Written().size() - before << " bytes for a record of "
             << size << ", not ending in the record";
    }
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult InputArrives(size_t size, int seed) {
    const std::string in = Pattern(size, seed);
    const size_t before = svc_.Received().size();
    pty_.Send(in);
    if (!svc_.WaitFor([&](const CollectingSvc& s) { return s.Received().size() >= before + size; })) {
      return ::testing::AssertionFailure()
             << "received " << svc_.Received().size() - before << " of " << size;
    }
    if (svc_.Received().substr(before) != in) {
      return ::testing::AssertionFailure() << "input bytes differ";
    }
    return ::testing::AssertionSuccess();
  }

  PtyDevice pty_;
  opossvc::testing::TempRegistry registry_;
  CollectingSvc svc_;
  CPortdrv port_;
  int descriptors_ = 0;
  int threads_ = 0;
};

TEST_F(DriverFaults, FailedOpenChangesNothingAndTheNextOneWorks) {
  faults.failing_opens = 1;
  const long failed = Open();
  EXPECT_NE(failed, 0);
  EXPECT_TRUE(failed == OPOSSVC_E_BAD_PORT || failed == OPOSSVC_E_PORT_CALL) << failed;
  ExpectNothingLeft();
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(300, 1));
  EXPECT_EQ(port_.PortClose(&svc_), 0);
  ExpectNothingLeft();
}

// Faults that the backend must absorb: the bytes get through unchanged.
struct AbsorbedCase {
  const char* name;
  bool eintr;
  size_t write_limit;
};

TEST_F(DriverFaults, InterruptedCallsAndShortWritesLoseNothing) {
  const AbsorbedCase cases[] = {
      {"EINTR on every other call", true, 0},
      {"writes of at most 7 bytes", false, 7},
      {"both", true, 3},
  };
  long id = 10;
  for (const AbsorbedCase& c : cases) {
    SCOPED_TRACE(c.name);
    faults.write_limit = c.write_limit;
    faults.eintr_everywhere = c.eintr;
    ASSERT_EQ(Open(), 0);
    EXPECT_TRUE(OutputArrives(2000, ++id));
    EXPECT_TRUE(InputArrives(3000, static_cast<int>(id)));
    EXPECT_EQ(port_.PortClose(&svc_), 0);
    faults.Reset();
    ExpectNothingLeft();
  }
}

TEST_F(DriverFaults, IoErrorsInTheMiddleAreReportedOrRetriedAndThePortGoesOn) {
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(500, 1));
  EXPECT_TRUE(InputArrives(500, 1));

  // Output: a few writes fail. The record either completes or is reported
  // once; either way the port goes on with the next record intact.
  faults.eio_writes = 3;
  const std::string lost = Pattern(400, 2);
  ASSERT_EQ(port_.PortOutputData(lost.data(), lost.size(), OPOS_E_TIMEOUT, &svc_, 0, 1, 2), 0);
  EXPECT_TRUE(svc_.WaitFor([](const CollectingSvc& s) {
    const auto done = s.Completed();
    return std::find(done.begin(), done.end(), 2) != done.end() || !s.Errors().empty();
  })) << "the failing record was neither completed nor reported";
  port_.ClearOutputBuffer(&svc_);
  faults.eio_writes = 0;
  EXPECT_TRUE(OutputArrives(700, 3));

  // Input: the reads that find the bytes fail for a while; the bytes stay
  // with the device and all arrive once reads work again.
  faults.eio_reads = 5;
  EXPECT_TRUE(InputArrives(1500, 4));
  EXPECT_EQ(faults.eio_reads.load(), 0);
  EXPECT_TRUE(InputArrives(700, 5));

  EXPECT_EQ(port_.PortClose(&svc_), 0);
  ExpectNothingLeft();
}

TEST_F(DriverFaults, VanishedDeviceIsSurvivedAndReopened) {
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(200, 1));
  faults.vanished = true;
  // Output while the device is gone must not hang the driver.
  const std::string out = Pattern(300, 5);
  port_.PortOutputData(out.data(), out.size(), OPOS_E_TIMEOUT, &svc_, 0, 1, 5);
  EXPECT_TRUE(svc_.WaitFor([](const CollectingSvc& s) {
    const auto errors = s.Errors();
    return std::find(errors.begin(), errors.end(), OPOS_E_TIMEOUT) != errors.end();
  })) << "output to a vanished device was not reported";
  // The reported record stays queued until the client drops it.
  EXPECT_EQ(port_.PortClose(&svc_), OPOSSVC_E_OUTPUT_PENDING);
  EXPECT_EQ(port_.ClearOutputBuffer(&svc_), 0);
  EXPECT_EQ(port_.PortClose(&svc_), 0);
  EXPECT_NE(Open(), 0) << "opened a device that is gone";
  ExpectNothingLeft();

  faults.vanished = false;
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(OutputArrives(600, 6));
  EXPECT_TRUE(InputArrives(600, 6));
  EXPECT_EQ(port_.PortClose(&svc_), 0);
  ExpectNothingLeft();
}

}  // namespace
}  // namespace opossvc::reliability
