// What only the termios backend does: DCB to termios, the SERIALCOMM map, a pseudo-terminal's
// lines and transmit buffer through its system-call table. Refused opens and I/O errors are
// injected under the driver in tests/reliability.
#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/win32/comm.h>
#include <opossvc/win32/files.h>

#include "tests/platform/comm/backend_helpers.h"
#include "tests/support/last_error_expect.h"

namespace opossvc::testing {
namespace {

using std::chrono::milliseconds;

// The Win32 calls on a handle of the pseudo-terminal; closed at the end.
class TermiosPortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(pty().master(), 0); }
  void TearDown() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  void Open() {
    handle_ = OpenPort(device_.name());
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE) << GetLastError();
  }
  DCB State() {
    DCB dcb = {};
    EXPECT_TRUE(GetCommState(handle_, &dcb));
    return dcb;
  }
  PtyDevice& device() { return device_; }
  Pty& pty() { return device_.pty(); }
  CommFaultPlan* faults() { return device_.faults().operator->(); }

  PtyDevice device_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(TermiosPortTest, SettingsReachTheTerminal) {
  Open();
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
    ASSERT_TRUE(SetCommState(handle_, &dcb)) << GetLastError();
    termios2 settings = device().faults().LastSettings();
    EXPECT_EQ(settings.c_cflag & c.cflag_set, c.cflag_set);
    EXPECT_EQ(settings.c_cflag & c.cflag_clear, 0u);
    EXPECT_EQ(settings.c_cflag & CBAUD, c.speed_code);
    EXPECT_EQ(settings.c_ospeed, c.rate);
    EXPECT_EQ((settings.c_iflag & (IXON | IXOFF)) != 0, c.xon);
    EXPECT_EQ(settings.c_cc[VSTART], 0x01);
    EXPECT_EQ(settings.c_cc[VSTOP], 0x02);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw mode";
    EXPECT_EQ(settings.c_oflag & OPOST, 0u) << "raw mode";
  }

  // A setting the terminal cannot take leaves the port as it was.
  DCB toggle = State();
  toggle.BaudRate = 4800;
  toggle.fRtsControl = RTS_CONTROL_TOGGLE;
  EXPECT_FAILS_WITH(SetCommState(handle_, &toggle), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(State().BaudRate, 1200u);
  EXPECT_EQ(device().faults().LastSettings().c_ospeed, 1200u);
}

TEST_F(TermiosPortTest, NamesReachTheMappedDeviceOrNothing) {
  char file[] = "/tmp/opossvc-not-a-tty-XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string path = pty().slave_path();
  std::tuple<std::string, const char*, const char*, bool> cases[] = {
      {path, "com202", "\\\\.\\COM202", true},
      {path.substr(5), "COM204", "COM204", true},  // "pts/N", below /dev
      {"/dev/opossvc-no-such-device", "COM206", "COM206", false},
      {file, "COM207", "COM207", false},
      {"", "", "COM255", false},  // unmapped: /dev/ttyS254
  };
  for (const auto& [node, data, open_as, reaches] : cases) {
    SCOPED_TRACE(open_as);
    if (!node.empty()) device().Map(node, data);
    if (!reaches) {
      EXPECT_FAILS_WITH(OpenPort(open_as) != INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
      continue;
    }
    HANDLE handle = OpenPort(open_as);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(WritePort(handle, "ping").ok);
    EXPECT_EQ(pty().Read(4), "ping");
    CloseHandle(handle);
  }
  unlink(file);
  // A value of another type maps nothing.
  ASSERT_EQ(device().registry().SetValue(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM",
                                         "/dev/null", REG_BINARY, "COM205"),
            ERROR_SUCCESS);
  EXPECT_EQ(OpenPort("COM205"), INVALID_HANDLE_VALUE);
}

TEST_F(TermiosPortTest, NullRecordsAreRefused) {
  Open();
  EXPECT_FALSE(GetCommState(handle_, nullptr));
  EXPECT_FALSE(SetCommState(handle_, nullptr));
  EXPECT_FALSE(SetCommTimeouts(handle_, nullptr));
  EXPECT_FALSE(GetCommModemStatus(handle_, nullptr));
  EXPECT_FAILS_WITH(ReadFile(handle_, nullptr, 4, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(ClearCommError(handle_, nullptr, nullptr));
}

// A write returns once its bytes have left the tty; one that ends early takes back what had not
// left, so that no byte of it goes out after the caller was told it was not written. The pty plays
// a UART, which has modem lines and a transmit buffer.
TEST_F(TermiosPortTest, WriteCompletesWhenItsBytesHaveLeft) {
  faults()->lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
  Open();
  enum Ending { kLeft, kTimedOut, kAborted };
  // The write time-out constant is in ms, 0 for no limit.
  std::tuple<const char*, Ending, DWORD, BOOL, DWORD, DWORD, int> cases[] = {
      {"the bytes leave", kLeft, 0, TRUE, 0, 100, 0},
      {"time-out", kTimedOut, 20, TRUE, 0, 70, 1},
      {"PURGE_TXABORT", kAborted, 0, FALSE, ERROR_OPERATION_ABORTED, 70, 1},
  };
  const std::string record(100, 'w');
  for (const auto& [what, ending, write_constant, ok, error, count, flushes] : cases) {
    SCOPED_TRACE(what);
    ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 0, write_constant));
    faults()->tx_flushes = 0;
    faults()->unsent = 30;
    auto writer = std::async(std::launch::async, [&] { return WritePort(handle_, record); });
    if (ending != kTimedOut) {
      ASSERT_TRUE(device().faults().WaitForBlockedPoll());
      EXPECT_NE(writer.wait_for(milliseconds(0)), std::future_status::ready);
      if (ending == kLeft) faults()->unsent = 0;
      if (ending == kAborted) {
        ASSERT_TRUE(PurgeComm(handle_, PURGE_TXABORT));
      }
    }
    ASSERT_EQ(writer.wait_for(kPatience), std::future_status::ready);
    WriteResult written = writer.get();
    EXPECT_EQ(written.ok, ok);
    if (!ok) {
      EXPECT_EQ(written.error, error);
    }
    EXPECT_EQ(written.written, count);
    EXPECT_EQ(faults()->tx_flushes, flushes);
    pty().Read(record.size());  // a pseudo-terminal passed them on all the same
  }

  // Nothing of a completed write is left for a purge to lose, even where the device has not read
  // it yet (a pseudo-terminal holds it on the device's side).
  faults()->unsent = -1;
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 0, 5000));
  const std::string many(8000, 'm');
  ASSERT_EQ(WritePort(handle_, many).written, many.size());
  ASSERT_TRUE(PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR));
  EXPECT_EQ(pty().Read(many.size()).size(), many.size());
}

}  // namespace
}  // namespace opossvc::testing
