// The comm calls on a real tty: a pseudo-terminal whose master side the test plays, mapped to a
// COM name through the SERIALCOMM key; and device faults injected under it.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/win32/comm.h>
#include <opossvc/win32/files.h>

#include "platform/posix/comm/comm_syscalls.h"
#include "tests/platform_comm/comm_helpers.h"

namespace opossvc::testing {
namespace {

using detail::CommSyscalls;
using detail::SystemCommSyscalls;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr char kSerialComm[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// ---- Injected device behaviour ------------------------------------------------------------------

// What the injected system calls do; set by a test, read by the calls on the port's threads.
struct FaultPlan {
  // Calls of each kind left to fail with EINTR.
  std::atomic<int> eintr_reads{0};
  std::atomic<int> eintr_writes{0};
  std::atomic<int> eintr_polls{0};
  std::atomic<int> eintr_ioctls{0};
  std::atomic<int> eio_reads{0};       // reads left to fail with EIO, the device still there
  std::atomic<size_t> write_limit{0};  // most bytes a write takes; 0 for no limit
  std::atomic<bool> vanished{false};   // the device is gone: hang-up and EIO
  std::atomic<int> open_errno{0};      // opens refused with this error
  std::atomic<int> unsent{-1};         // TIOCOUTQ: bytes not yet on the line; -1 for the tty's
  std::atomic<int> lines{-1};          // TIOCMGET: a UART's lines; -1 for the tty's (none)
  std::atomic<int> tx_flushes{0};      // TCFLSH calls that discarded the transmit buffer
  std::atomic<int> calls{0};           // every call made
  std::mutex mutex;
  std::condition_variable changed;
  termios2 last_settings = {};  // guarded by mutex
  int polls_waiting = 0;        // calls inside a poll() that may block; guarded by mutex
};
FaultPlan plan;

bool TakeOne(std::atomic<int>& budget) {
  int left = budget.load();
  while (left > 0) {
    if (budget.compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}

int FaultOpen(const char* path, int flags) {
  ++plan.calls;
  if (plan.vanished) return errno = ENOENT, -1;
  if (int refusal = plan.open_errno) return errno = refusal, -1;
  return SystemCommSyscalls().open(path, flags);
}
int FaultClose(int fd) { return SystemCommSyscalls().close(fd); }
ssize_t FaultRead(int fd, void* buffer, size_t size) {
  ++plan.calls;
  if (TakeOne(plan.eintr_reads)) return errno = EINTR, -1;
  if (plan.vanished) return errno = EIO, -1;
  if (TakeOne(plan.eio_reads)) return errno = EIO, -1;
  return SystemCommSyscalls().read(fd, buffer, size);
}
ssize_t FaultWrite(int fd, const void* data, size_t size) {
  ++plan.calls;
  if (TakeOne(plan.eintr_writes)) return errno = EINTR, -1;
  if (plan.vanished) return errno = EIO, -1;
  size_t limit = plan.write_limit;
  return SystemCommSyscalls().write(fd, data, limit ? std::min(size, limit) : size);
}
int FaultPoll(pollfd* fds, nfds_t count, int timeout_ms) {
  ++plan.calls;
  if (TakeOne(plan.eintr_polls)) return errno = EINTR, -1;
  if (plan.vanished) {
    for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
    fds[0].revents = POLLHUP;  // the device is always the first descriptor
    return 1;
  }
  if (timeout_ms == 0) return SystemCommSyscalls().poll(fds, count, 0);
  {
    std::lock_guard<std::mutex> lock(plan.mutex);
    ++plan.polls_waiting;
  }
  plan.changed.notify_all();
  const int result = SystemCommSyscalls().poll(fds, count, timeout_ms);
  const int saved = errno;
  std::lock_guard<std::mutex> lock(plan.mutex);
  --plan.polls_waiting;
  errno = saved;
  return result;
}
int FaultIoctl(int fd, unsigned long request, void* argument) {
  ++plan.calls;
  if (TakeOne(plan.eintr_ioctls)) return errno = EINTR, -1;
  if (plan.vanished) return errno = EIO, -1;
  if (request == TIOCMGET && plan.lines >= 0) {
    *static_cast<int*>(argument) = plan.lines;
    return 0;
  }
  if (request == TIOCOUTQ && plan.unsent >= 0) {
    *static_cast<int*>(argument) = plan.unsent;
    return 0;
  }
  const auto queue = reinterpret_cast<intptr_t>(argument);
  if (request == TCFLSH && (queue == TCOFLUSH || queue == TCIOFLUSH)) {
    ++plan.tx_flushes;
    if (queue == TCOFLUSH && plan.unsent >= 0) {  // the injected bytes are what is discarded
      plan.unsent = 0;
      return 0;
    }
  }
  int result = SystemCommSyscalls().ioctl(fd, request, argument);
  if (result == 0 && request == TCSETS2) {
    std::lock_guard<std::mutex> lock(plan.mutex);
    plan.last_settings = *static_cast<termios2*>(argument);
  }
  return result;
}
int FaultFlock(int fd, int operation) { return SystemCommSyscalls().flock(fd, operation); }

constexpr CommSyscalls kFaultCalls = {FaultOpen, FaultClose, FaultRead, FaultWrite,
                                      FaultPoll, FaultIoctl, FaultFlock};

termios2 LastSettings() {
  std::lock_guard<std::mutex> lock(plan.mutex);
  return plan.last_settings;
}

// True once a call waits in poll() for the device, so that what the test does next happens
// while it waits.
bool WaitForBlockedPoll() {
  std::unique_lock<std::mutex> lock(plan.mutex);
  return plan.changed.wait_for(lock, kPatience, [] { return plan.polls_waiting > 0; });
}

// ---- Fixture ------------------------------------------------------------------------------------

class TermiosPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plan.eintr_reads = plan.eintr_writes = plan.eintr_polls = plan.eintr_ioctls = 0;
    plan.eio_reads = 0;
    plan.write_limit = 0;
    plan.vanished = false;
    plan.open_errno = 0;
    plan.unsent = -1;
    plan.lines = -1;
    plan.tx_flushes = 0;
    detail::SetCommSyscalls(&kFaultCalls);
    ASSERT_GE(pty_.master(), 0);
    Map(pty_.slave_path(), "COM201");
  }
  void TearDown() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    detail::SetCommSyscalls(nullptr);
  }

  void Map(const std::string& device, const std::string& com) {
    ASSERT_EQ(registry_.SetString(HKEY_LOCAL_MACHINE, kSerialComm, device, com), ERROR_SUCCESS);
  }
  void Open() {
    handle_ = OpenPort("COM201");
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE) << GetLastError();
  }
  DCB State() {
    DCB dcb = {};
    EXPECT_TRUE(GetCommState(handle_, &dcb));
    return dcb;
  }
  // Closes the port; the device comes back as a new tty under the same COM name, and a fresh
  // open reaches it.
  void ExpectReopenReachesNewDevice() {
    EXPECT_TRUE(CloseHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, pty_.slave_path().c_str()), ERROR_SUCCESS);
    RegCloseKey(key);
    Pty replacement;
    Map(replacement.slave_path(), "COM201");
    Open();
    ASSERT_TRUE(WritePort(handle_, "back").ok);
    EXPECT_EQ(replacement.Read(4), "back");
  }

  TempRegistry registry_;
  Pty pty_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(TermiosPortTest, BytesPassUnchangedUnderEverySetting) {
  Open();
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 5000, 0, 5000));
  struct Case {
    DWORD rate;
    BYTE size, parity, stop;
    bool cts_flow, xon;
    unsigned int cflag_set, cflag_clear;  // termios bits the setting must and must not have
    unsigned int speed_code;              // CBAUD bits: a Bxxx constant or BOTHER
  } cases[] = {
      {9600, 8, NOPARITY, ONESTOPBIT, false, false, CS8, PARENB | CSTOPB | CRTSCTS, B9600},
      {115200, 8, EVENPARITY, TWOSTOPBITS, true, false, CS8 | PARENB | CSTOPB | CRTSCTS, PARODD,
       B115200},
      {56000, 7, ODDPARITY, ONESTOPBIT, false, true, CS7 | PARENB | PARODD, CMSPAR, BOTHER},
      {250000, 8, MARKPARITY, ONESTOPBIT, false, false, CS8 | PARENB | PARODD | CMSPAR, 0, BOTHER},
      {300, 5, SPACEPARITY, ONE5STOPBITS, false, false, CS5 | PARENB | CMSPAR | CSTOPB, PARODD,
       B300},
      {1200, 6, NOPARITY, ONESTOPBIT, false, false, CS6, PARENB, B1200},
  };
  const std::string bytes = AllByteValues();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    DCB dcb = State();
    dcb.BaudRate = c.rate;
    dcb.ByteSize = c.size;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stop;
    dcb.fOutxCtsFlow = c.cts_flow;
    dcb.fOutX = dcb.fInX = c.xon;
    dcb.XonChar = 0x01;
    dcb.XoffChar = 0x02;
    dcb.XonLim = 100;
    dcb.XoffLim = 300;
    ASSERT_TRUE(SetCommState(handle_, &dcb)) << GetLastError();

    DCB back = State();
    EXPECT_EQ(back.BaudRate, c.rate);
    EXPECT_EQ(back.ByteSize, c.size);
    EXPECT_EQ(back.Parity, c.parity);
    EXPECT_EQ(back.StopBits, c.stop);
    EXPECT_EQ(back.XonLim, 100);
    EXPECT_EQ(back.XoffLim, 300);

    termios2 settings = LastSettings();
    EXPECT_EQ(settings.c_cflag & c.cflag_set, c.cflag_set);
    EXPECT_EQ(settings.c_cflag & c.cflag_clear, 0u);
    EXPECT_EQ(settings.c_cflag & CBAUD, c.speed_code);
    EXPECT_EQ(settings.c_ospeed, c.rate);
    EXPECT_EQ((settings.c_iflag & (IXON | IXOFF)) != 0, c.xon);
    EXPECT_EQ(settings.c_cc[VSTART], 0x01);
    EXPECT_EQ(settings.c_cc[VSTOP], 0x02);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw mode";
    EXPECT_EQ(settings.c_oflag & OPOST, 0u) << "raw mode";

    // Flow control off for the data itself: the pty master plays no XON/XOFF.
    dcb.fOutX = dcb.fInX = 0;
    dcb.fOutxCtsFlow = 0;
    ASSERT_TRUE(SetCommState(handle_, &dcb));
    WriteResult written = WritePort(handle_, bytes);
    ASSERT_TRUE(written.ok);
    EXPECT_EQ(written.written, bytes.size());
    EXPECT_EQ(pty_.Read(bytes.size()), bytes);
    pty_.Write(bytes);
    EXPECT_EQ(ReadPort(handle_, static_cast<DWORD>(bytes.size())).bytes, bytes);
  }
}

TEST_F(TermiosPortTest, RefusedSettingsLeaveThePortAsItWas) {
  Open();
  DCB dcb = State();
  dcb.BaudRate = 4800;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  DCB toggle = dcb;
  toggle.BaudRate = 9600;
  toggle.fRtsControl = RTS_CONTROL_TOGGLE;
  EXPECT_TRUE(Fails(SetCommState(handle_, &toggle), ERROR_NOT_SUPPORTED));
  EXPECT_EQ(State().BaudRate, 4800u);
  EXPECT_EQ(LastSettings().c_ospeed, 4800u);
}

TEST_F(TermiosPortTest, OpenIsExclusiveAgainstUsAndOtherPrograms) {
  // A device the user may not open at all is no claim on the port by someone else.
  for (int refusal : {EACCES, EPERM}) {
    plan.open_errno = refusal;
    EXPECT_TRUE(Fails(OpenPort("COM201"), ERROR_PRIVILEGE_NOT_HELD)) << refusal;
  }
  plan.open_errno = EBUSY;
  EXPECT_TRUE(Fails(OpenPort("COM201"), ERROR_ACCESS_DENIED));
  plan.open_errno = 0;

  Open();
  EXPECT_TRUE(Fails(OpenPort("COM201"), ERROR_ACCESS_DENIED));
  ASSERT_TRUE(CloseHandle(handle_));
  handle_ = INVALID_HANDLE_VALUE;

  int other = open(pty_.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
  EXPECT_TRUE(Fails(OpenPort("COM201"), ERROR_ACCESS_DENIED));
  ASSERT_EQ(ioctl(other, TIOCNXCL), 0);
  Open();
  close(other);
}

TEST_F(TermiosPortTest, NamesReachTheMappedDevice) {
  std::string relative = pty_.slave_path().substr(5);  // "pts/N", below /dev
  struct Case {
    const char* what;
    std::string device;
    std::string data;
    const char* open_as;
  } cases[] = {
      {"full path, device form", pty_.slave_path(), "COM202", "\\\\.\\COM202"},
      {"lower-case data and name", pty_.slave_path(), "com203", "Com203"},
      {"path below /dev", relative, "COM204", "COM204"},
  };
  for (const Case& c : cases) {
    Map(c.device, c.data);
    HANDLE handle = OpenPort(c.open_as);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << c.what << ": " << GetLastError();
    ASSERT_TRUE(WritePort(handle, "ping").ok);
    EXPECT_EQ(pty_.Read(4), "ping") << c.what;
    CloseHandle(handle);
  }
  // A value of another type maps nothing.
  ASSERT_EQ(registry_.SetValue(HKEY_LOCAL_MACHINE, kSerialComm, "/dev/null", REG_BINARY, "COM205"),
            ERROR_SUCCESS);
  EXPECT_EQ(OpenPort("COM205"), INVALID_HANDLE_VALUE);
}

TEST_F(TermiosPortTest, MissingOrNonTerminalDevicesAreNotFound) {
  char file[] = "/tmp/opossvc-not-a-tty-XXXXXX";
  int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  Map("/dev/opossvc-no-such-device", "COM206");
  Map(file, "COM207");
  for (const char* name : {"COM206", "COM207", "COM255"}) {  // COM255: /dev/ttyS254
    EXPECT_EQ(OpenPort(name), INVALID_HANDLE_VALUE) << name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << name;
  }
  unlink(file);
}

TEST_F(TermiosPortTest, PseudoTerminalHasNoModemLines) {
  Open();
  DWORD status = 0;
  ASSERT_TRUE(GetCommModemStatus(handle_, &status));
  EXPECT_EQ(status, static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON));
  for (DWORD function : {SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK, SETXOFF, SETXON}) {
    EXPECT_TRUE(EscapeCommFunction(handle_, function)) << function;
  }
  DWORD errors = 1;
  COMSTAT stat = {};
  pty_.Write("12345");
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0));
  EXPECT_EQ(ReadPort(handle_, 1).bytes, "1");
  ASSERT_TRUE(ClearCommError(handle_, &errors, &stat));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(stat.cbInQue, 4u);
  ASSERT_TRUE(PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR));
  ASSERT_TRUE(ClearCommError(handle_, &errors, &stat));
  EXPECT_EQ(stat.cbInQue, 0u);
}

// The receive queue is the line discipline's buffer, whatever SetupComm asked for: the count of
// waiting bytes reaches the size reported, and no more, however much the device sends.
TEST_F(TermiosPortTest, ReceiveQueueIsWhatTheTtyHolds) {
  Open();
  ASSERT_TRUE(SetupComm(handle_, 65536, 512));
  COMMPROP properties = {};
  ASSERT_TRUE(GetCommProperties(handle_, &properties));
  EXPECT_EQ(properties.dwCurrentRxQueue, 4095u);
  pty_.Write(std::string(6000, 'q'));
  COMSTAT stat = {};
  const auto deadline = Clock::now() + kPatience;
  for (;;) {  // the kernel moves the bytes over in its own time
    ASSERT_TRUE(ClearCommError(handle_, nullptr, &stat));
    if (stat.cbInQue >= properties.dwCurrentRxQueue || Clock::now() >= deadline) break;
    std::this_thread::sleep_for(milliseconds(1));
  }
  EXPECT_EQ(stat.cbInQue, properties.dwCurrentRxQueue);
}

TEST_F(TermiosPortTest, ReadTimeoutRules) {
  Open();
  struct Case {
    const char* what;
    DWORD interval, multiplier, constant;
    const char* sent;
    DWORD asked;
    milliseconds at_least;
  } cases[] = {
      {"at once, nothing there", MAXDWORD, 0, 0, "", 10, milliseconds(0)},
      {"total: 4 bytes at 10 ms plus 60", 0, 10, 60, "", 4, milliseconds(95)},
      {"interval: the gap after the last byte", 40, 0, 0, "abc", 100, milliseconds(35)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(SetTimeouts(handle_, c.interval, c.multiplier, c.constant));
    pty_.Write(c.sent);
    const auto start = Clock::now();
    ReadResult read = ReadPort(handle_, c.asked);
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(read.bytes, c.sent);
    EXPECT_GE(Clock::now() - start, c.at_least);
    EXPECT_LT(Clock::now() - start, kPatience);
  }

  // First-byte mode: returns with the first bytes.
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, MAXDWORD, 60000));
  auto reader = std::async(std::launch::async, [&] { return ReadPort(handle_, 100); });
  pty_.Write("q");
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(reader.get().bytes, "q");

  // All zero: every byte asked for, however they arrive.
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0));
  reader = std::async(std::launch::async, [&] { return ReadPort(handle_, 6); });
  pty_.Write("abc");
  pty_.Write("def");
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(reader.get().bytes, "abcdef");
}

TEST_F(TermiosPortTest, WriteStopsAtItsTimeoutWhenTheDeviceTakesNothing) {
  Open();
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 0, 150));
  const std::string flood(4 << 20, 'f');  // far more than the tty buffers hold
  auto start = Clock::now();
  WriteResult written = WritePort(handle_, flood);
  EXPECT_TRUE(written.ok) << "a write time-out is no error";
  EXPECT_GT(written.written, 0u);
  EXPECT_LT(written.written, flood.size());
  EXPECT_GE(Clock::now() - start, milliseconds(140));
}

// A write returns once its bytes have left the tty; one that ends early takes back what had not
// left, so that no byte of it goes out after the caller was told it was not written. The pty plays
// a UART, which has modem lines and a transmit buffer.
TEST_F(TermiosPortTest, WriteCompletesWhenItsBytesHaveLeft) {
  plan.lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
  Open();
  enum Ending { kLeft, kTimedOut, kAborted };
  struct Case {
    const char* what;
    Ending ending;
    DWORD write_constant;  // ms; 0 for no limit
    BOOL ok;
    DWORD error, written;
    int flushes;
  } cases[] = {
      {"the bytes leave", kLeft, 0, TRUE, 0, 100, 0},
      {"time-out", kTimedOut, 20, TRUE, 0, 70, 1},
      {"PURGE_TXABORT", kAborted, 0, FALSE, ERROR_OPERATION_ABORTED, 70, 1},
  };
  const std::string record(100, 'w');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 0, c.write_constant));
    plan.tx_flushes = 0;
    plan.unsent = 30;
    auto writer = std::async(std::launch::async, [&] { return WritePort(handle_, record); });
    if (c.ending != kTimedOut) {
      ASSERT_TRUE(WaitForBlockedPoll());
      EXPECT_NE(writer.wait_for(milliseconds(0)), std::future_status::ready);
      if (c.ending == kLeft) plan.unsent = 0;
      if (c.ending == kAborted) {
        ASSERT_TRUE(PurgeComm(handle_, PURGE_TXABORT));
      }
    }
    ASSERT_EQ(writer.wait_for(kPatience), std::future_status::ready);
    WriteResult written = writer.get();
    EXPECT_EQ(written.ok, c.ok);
    if (!c.ok) {
      EXPECT_EQ(written.error, c.error);
    }
    EXPECT_EQ(written.written, c.written);
    EXPECT_EQ(plan.tx_flushes, c.flushes);
    pty_.Read(record.size());  // a pseudo-terminal passed them on all the same
  }

  // Nothing of a completed write is left for a purge to lose, even where the device has not read
  // it yet (a pseudo-terminal holds it on the device's side).
  plan.unsent = -1;
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 0, 5000));
  const std::string many(8000, 'm');
  ASSERT_EQ(WritePort(handle_, many).written, many.size());
  ASSERT_TRUE(PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR));
  EXPECT_EQ(pty_.Read(many.size()).size(), many.size());

  // A device without modem lines passes its bytes on as written: it is not asked what it holds.
  ASSERT_TRUE(CloseHandle(handle_));
  plan.lines = -1;
  Open();
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 0, 20000));  // asked, it would wait for this
  plan.unsent = 30;
  auto writer = std::async(std::launch::async, [&] { return WritePort(handle_, record); });
  ASSERT_EQ(writer.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(writer.get().written, record.size());
  EXPECT_EQ(pty_.Read(record.size()), record);
}

TEST_F(TermiosPortTest, CloseEndsAWaitingRead) {
  Open();
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0));
  HANDLE handle = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  auto reader = std::async(std::launch::async, [handle] { return ReadPort(handle, 1); });
  EXPECT_TRUE(WaitForBlockedPoll());  // then close anyway: the reader must end
  ASSERT_TRUE(CloseHandle(handle));
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready);
  EXPECT_FALSE(reader.get().ok);
}

TEST_F(TermiosPortTest, WaitForInput) {
  Open();
  plan.eintr_polls = 3;
  ExpectInputWaitRules(
      std::exchange(handle_, INVALID_HANDLE_VALUE), [this](const std::string& b) { pty_.Write(b); },
      WaitForBlockedPoll);
  EXPECT_EQ(plan.eintr_polls, 0) << "interrupted waits go on";
}

TEST_F(TermiosPortTest, InterruptedCallsAreRetriedAndShortWritesCompleted) {
  Open();
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 5000, 0, 5000));
  plan.eintr_ioctls = 3;
  DCB dcb = State();
  dcb.BaudRate = 38400;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  plan.eintr_writes = 3;
  const std::string bytes = AllByteValues();
  WriteResult written = WritePort(handle_, bytes);
  ASSERT_TRUE(written.ok);
  EXPECT_EQ(written.written, bytes.size());
  EXPECT_EQ(pty_.Read(bytes.size()), bytes);
  plan.eintr_polls = 3;
  plan.eintr_reads = 3;
  pty_.Write(bytes);
  EXPECT_EQ(ReadPort(handle_, static_cast<DWORD>(bytes.size())).bytes, bytes);
  EXPECT_EQ(plan.eintr_ioctls + plan.eintr_writes + plan.eintr_polls + plan.eintr_reads, 0)
      << "every injected interruption was met";

  plan.write_limit = 7;  // short writes are completed
  written = WritePort(handle_, bytes);
  ASSERT_TRUE(written.ok);
  EXPECT_EQ(written.written, bytes.size());
  EXPECT_EQ(pty_.Read(bytes.size()), bytes);
}

TEST_F(TermiosPortTest, InputOutputErrorFailsOnlyThatCall) {
  Open();
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 5000));
  pty_.Write("ab");
  plan.eio_reads = 1;
  ReadResult read = ReadPort(handle_, 2);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_EQ(ReadPort(handle_, 2).bytes, "ab");
}

TEST_F(TermiosPortTest, VanishedDeviceFailsAtOnceAndComesBack) {
  Open();
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0));
  plan.vanished = true;
  ReadResult read = ReadPort(handle_, 10);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

  // Every later call fails without going to the device again, so no caller can spin on it.
  const int calls_before = plan.calls;
  DWORD value = 0;
  COMSTAT stat;
  struct Call {
    const char* what;
    BOOL result;
  } calls[] = {
      {"read", ReadPort(handle_, 1).ok},
      {"write", WritePort(handle_, "x").ok},
      {"errors", ClearCommError(handle_, &value, &stat)},
      {"modem status", GetCommModemStatus(handle_, &value)},
      {"escape", EscapeCommFunction(handle_, CLRDTR)},
      {"purge", PurgeComm(handle_, PURGE_RXCLEAR)},
  };
  for (const Call& call : calls) {
    EXPECT_FALSE(call.result) << call.what;
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(plan.calls, calls_before);
  EXPECT_EQ(OpenPort("COM201"), INVALID_HANDLE_VALUE);
  plan.vanished = false;
  ExpectReopenReachesNewDevice();
}

TEST_F(TermiosPortTest, HungUpTerminalEndsReadsAndWrites) {
  Open();
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0, 0, 0));
  auto reader = std::async(std::launch::async, [&] { return ReadPort(handle_, 10); });
  EXPECT_TRUE(WaitForBlockedPoll());  // then close anyway: the reader must end
  pty_.CloseMaster();
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready) << "a hang-up ends the wait";
  EXPECT_EQ(reader.get().error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  WriteResult written = WritePort(handle_, "x");
  EXPECT_FALSE(written.ok);
  EXPECT_EQ(written.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  ExpectReopenReachesNewDevice();
}

}  // namespace
}  // namespace opossvc::testing
