// The comm calls on a device played by the test.
#include <opossvc/testing/virtual_port.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include <opossvc/win32/comm.h>
#include <opossvc/win32/files.h>

#include "tests/platform_comm/comm_helpers.h"

namespace opossvc::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

bool ReaderWaits(const VirtualPort::State& state) { return state.readers_waiting == 1; }

class VirtualPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = OpenPort("COM7");
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE) << GetLastError();
  }
  void TearDown() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  DWORD Errors() {
    DWORD errors = 0;
    COMSTAT stat;
    EXPECT_TRUE(ClearCommError(handle_, &errors, &stat));
    return errors;
  }
  DCB State() {
    DCB dcb = {};
    EXPECT_TRUE(GetCommState(handle_, &dcb));
    return dcb;
  }

  VirtualPort port_{"com7"};
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST(VirtualPortName, ComNamesOnlyOneOwnerAndGivenBackOnDestruction) {
  EXPECT_THROW(VirtualPort("LPT1"), std::invalid_argument);
  EXPECT_THROW(VirtualPort("COM0"), std::invalid_argument);
  HANDLE handle;
  {
    VirtualPort port("\\\\.\\com13");
    EXPECT_EQ(port.name(), "COM13");
    EXPECT_THROW(VirtualPort("COM13"), std::logic_error);
    handle = OpenPort("\\\\.\\COM13");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  }
  // The device is gone under the open handle; it still closes.
  DWORD status = 0;
  EXPECT_TRUE(Fails(GetCommModemStatus(handle, &status), ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_TRUE(CloseHandle(handle));
  VirtualPort again("COM13");  // the name can be taken over again
}

TEST_F(VirtualPortTest, BytesPassBothWaysUnchanged) {
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0));
  const std::string bytes = AllByteValues();
  port_.Send(bytes);
  COMSTAT stat = {};
  ASSERT_TRUE(ClearCommError(handle_, nullptr, &stat));
  EXPECT_EQ(stat.cbInQue, bytes.size());
  EXPECT_EQ(ReadPort(handle_, 2000).bytes, bytes);
  WriteResult written = WritePort(handle_, bytes);
  EXPECT_TRUE(written.ok);
  EXPECT_EQ(written.written, bytes.size());
  EXPECT_EQ(port_.TakeWritten(), bytes);

  // Purged bytes, and bytes the device sends while the port is closed, are lost.
  port_.Send("purged");
  ASSERT_TRUE(PurgeComm(handle_, PURGE_RXCLEAR));
  EXPECT_FALSE(PurgeComm(handle_, 0x10));
  CloseHandle(handle_);
  port_.Send("lost");
  handle_ = OpenPort("COM7");
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0));
  EXPECT_EQ(ReadPort(handle_, 10).bytes, "");
}

TEST_F(VirtualPortTest, ModemLinesBothWays) {
  DWORD status = 0;
  const DWORD all = MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON;
  for (DWORD lines :
       {DWORD{0}, DWORD{MS_CTS_ON}, DWORD{MS_DSR_ON}, DWORD{MS_RING_ON}, DWORD{MS_RLSD_ON}, all}) {
    port_.SetModemStatus(lines);
    ASSERT_TRUE(GetCommModemStatus(handle_, &status));
    EXPECT_EQ(status, lines);
  }
  port_.SetModemStatus(0);
  port_.SetCts(true);
  port_.SetRlsd(true);
  ASSERT_TRUE(GetCommModemStatus(handle_, &status));
  EXPECT_EQ(status, static_cast<DWORD>(MS_CTS_ON | MS_RLSD_ON));

  // The open raised DTR and RTS as the DCB's control fields say.
  EXPECT_TRUE(port_.dtr());
  EXPECT_TRUE(port_.rts());
  struct Escape {
    DWORD function;
    bool rts, dtr, brk, held;
  } escapes[] = {
      {CLRRTS, false, true, false, false},   {CLRDTR, false, false, false, false},
      {SETBREAK, false, false, true, false}, {SETRTS, true, false, true, false},
      {CLRBREAK, true, false, false, false}, {SETXOFF, true, false, false, true},
      {SETDTR, true, true, false, true},     {SETXON, true, true, false, false},
  };
  for (const Escape& e : escapes) {
    ASSERT_TRUE(EscapeCommFunction(handle_, e.function)) << e.function;
    VirtualPort::State state = port_.state();
    EXPECT_EQ(state.rts, e.rts) << e.function;
    EXPECT_EQ(state.dtr, e.dtr) << e.function;
    EXPECT_EQ(state.break_on, e.brk) << e.function;
    EXPECT_EQ(state.output_held, e.held) << e.function;
  }
  EXPECT_TRUE(Fails(EscapeCommFunction(handle_, 42), ERROR_INVALID_PARAMETER));

  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  EXPECT_FALSE(port_.dtr());
  EXPECT_FALSE(port_.rts());
}

TEST_F(VirtualPortTest, SetCommStateMovesLinesOnlyWhenTheirControlChanges) {
  DCB dcb = State();
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  ASSERT_TRUE(EscapeCommFunction(handle_, CLRRTS));  // input held back by the caller
  dcb.fOutxCtsFlow = 1;                              // output flow switched on and off again
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  dcb.fOutxCtsFlow = 0;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  EXPECT_FALSE(port_.rts()) << "an unchanged control field must leave RTS where it was put";
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  EXPECT_FALSE(port_.dtr());
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  EXPECT_TRUE(port_.rts());
  // A line under the port's own handshake is not the caller's to move.
  EXPECT_TRUE(Fails(EscapeCommFunction(handle_, CLRRTS), ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(EscapeCommFunction(handle_, SETDTR));
}

TEST_F(VirtualPortTest, DeviceSeesWhatTheLibrarySet) {
  DCB dcb = State();
  dcb.BaudRate = 19200;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.fParity = 1;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutX = dcb.fInX = 1;
  dcb.XonLim = 256;
  dcb.XoffLim = 768;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  DCB seen = port_.dcb();
  EXPECT_EQ(std::tuple(seen.BaudRate, seen.ByteSize, seen.Parity, seen.StopBits),
            std::tuple(19200u, 7, EVENPARITY, TWOSTOPBITS));
  EXPECT_TRUE(seen.fOutX && seen.fInX);
  EXPECT_EQ(std::tuple(seen.XonLim, seen.XoffLim), std::tuple(256, 768));
  EXPECT_EQ(port_.set_state_count(), 1);

  ASSERT_TRUE(SetupComm(handle_, 1024, 512));
  EXPECT_EQ(port_.input_queue_size(), 1024u);
  EXPECT_EQ(port_.output_queue_size(), 512u);
  // The receive queue as asked for, unless the device plays a port that holds less.
  COMMPROP properties = {};
  ASSERT_TRUE(GetCommProperties(handle_, &properties));
  EXPECT_EQ(properties.dwCurrentRxQueue, 1024u);
  port_.SetReceiveCapacity(4);
  port_.Send("abcdef");
  ASSERT_TRUE(GetCommProperties(handle_, &properties));
  EXPECT_EQ(properties.dwCurrentRxQueue, 4u);
  DWORD errors = 0;
  COMSTAT stat = {};
  ASSERT_TRUE(ClearCommError(handle_, &errors, &stat));
  EXPECT_EQ(stat.cbInQue, 4u);
  EXPECT_EQ(errors, static_cast<DWORD>(CE_RXOVER));
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 4, 0));
  EXPECT_EQ(port_.timeouts().WriteTotalTimeoutMultiplier, 4u);
  COMMTIMEOUTS back = {};
  ASSERT_TRUE(GetCommTimeouts(handle_, &back));
  EXPECT_EQ(back.ReadIntervalTimeout, MAXDWORD);

  // The DCB outlives the handle; time-outs do not.
  CloseHandle(handle_);
  handle_ = OpenPort("COM7");
  EXPECT_EQ(State().BaudRate, 19200u);
  ASSERT_TRUE(GetCommTimeouts(handle_, &back));
  EXPECT_EQ(back.ReadIntervalTimeout, 0u);
}

TEST_F(VirtualPortTest, InjectedErrorsSurfaceOnceInClearCommError) {
  DCB dcb = State();
  dcb.fParity = 1;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  port_.InjectError(CE_FRAME);
  port_.InjectError(CE_RXPARITY | CE_BREAK);
  EXPECT_EQ(Errors(), static_cast<DWORD>(CE_FRAME | CE_RXPARITY | CE_BREAK));
  EXPECT_EQ(Errors(), 0u);
  port_.InjectError(CE_OVERRUN | CE_RXOVER);
  EXPECT_EQ(Errors(), static_cast<DWORD>(CE_OVERRUN | CE_RXOVER));

  dcb.fParity = 0;  // parity errors are not reported while parity checking is off
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  port_.InjectError(CE_RXPARITY);
  EXPECT_EQ(Errors(), 0u);
}

TEST_F(VirtualPortTest, AbortOnErrorStopsIoUntilTheErrorIsCollected) {
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0));
  DCB dcb = State();
  dcb.fAbortOnError = 1;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  port_.Send("abc");
  port_.InjectError(CE_FRAME);
  ReadResult read = ReadPort(handle_, 10);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_FALSE(WritePort(handle_, "x").ok);
  EXPECT_EQ(Errors(), static_cast<DWORD>(CE_FRAME));
  EXPECT_EQ(ReadPort(handle_, 10).bytes, "abc") << "no byte is lost by the abort";
  EXPECT_TRUE(WritePort(handle_, "x").ok);
}

TEST_F(VirtualPortTest, ReadTimeoutsEndTheWaitWithWhatCame) {
  struct Case {
    const char* what;
    DWORD interval, multiplier, constant;
    const char* sent;
    DWORD asked;
    const char* read;
    milliseconds at_least;
  } cases[] = {
      {"at once, nothing there", MAXDWORD, 0, 0, "", 10, "", milliseconds(0)},
      {"at once, less than asked", MAXDWORD, 0, 0, "ab", 10, "ab", milliseconds(0)},
      {"at once, more than asked", MAXDWORD, 0, 0, "abcdef", 4, "abcd", milliseconds(0)},
      {"at once, the rest", MAXDWORD, 0, 0, "", 4, "ef", milliseconds(0)},
      {"total: 4 bytes at 10 ms plus 50", 0, 10, 50, "x", 4, "x", milliseconds(85)},
      {"interval after the last byte", 30, 0, 0, "ab", 10, "ab", milliseconds(25)},
      {"first byte ends a long total", MAXDWORD, MAXDWORD, 60000, "z", 10, "z", milliseconds(0)},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(SetTimeouts(handle_, c.interval, c.multiplier, c.constant)) << c.what;
    port_.Send(c.sent);
    auto start = Clock::now();
    ReadResult read = ReadPort(handle_, c.asked);
    auto elapsed = Clock::now() - start;
    EXPECT_TRUE(read.ok) << c.what << ": a time-out is no error";
    EXPECT_EQ(read.bytes, c.read) << c.what;
    EXPECT_GE(elapsed, c.at_least) << c.what;
    EXPECT_LT(elapsed, kPatience) << c.what;
  }
}

TEST_F(VirtualPortTest, AllZeroTimeoutsWaitForEveryByte) {
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0));
  std::atomic<bool> done{false};
  auto reader = std::async(std::launch::async, [&] {
    ReadResult read = ReadPort(handle_, 6);
    done = true;
    return read;
  });
  port_.Send("abc");
  // The reader has taken the first bytes and goes on waiting for the rest.
  ASSERT_TRUE(port_.WaitUntil(
      [](const VirtualPort::State& s) { return s.receive_queue == 0 && s.readers_waiting == 1; },
      kPatience));
  EXPECT_FALSE(done.load());
  port_.Send("defg");
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(reader.get().bytes, "abcdef");
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0));
  EXPECT_EQ(ReadPort(handle_, 10).bytes, "g");
}

TEST_F(VirtualPortTest, CloseAndPurgeEndAWaitingRead) {
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0));
  auto purged = std::async(std::launch::async, [&] { return ReadPort(handle_, 1); });
  ASSERT_TRUE(port_.WaitUntil(ReaderWaits, kPatience));
  ASSERT_TRUE(PurgeComm(handle_, PURGE_RXABORT));
  ASSERT_EQ(purged.wait_for(kPatience), std::future_status::ready);
  ReadResult read = purged.get();
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));

  HANDLE handle = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  auto closed = std::async(std::launch::async, [handle] { return ReadPort(handle, 1); });
  ASSERT_TRUE(port_.WaitUntil(ReaderWaits, kPatience));
  EXPECT_TRUE(CloseHandle(handle));
  ASSERT_EQ(closed.wait_for(kPatience), std::future_status::ready);
  EXPECT_FALSE(closed.get().ok);
}

TEST_F(VirtualPortTest, WaitForInput) {
  ExpectInputWaitRules(
      std::exchange(handle_, INVALID_HANDLE_VALUE), [this](const std::string& b) { port_.Send(b); },
      [this] { return port_.WaitUntil(ReaderWaits, kPatience); });
}

TEST_F(VirtualPortTest, ZeroCapacityStallsWritesUntilTheirTimeout) {
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 1, 20));  // 300 bytes: 320 ms
  port_.SetWriteCapacity(100);
  const std::string record(300, 'r');
  auto start = Clock::now();
  WriteResult written = WritePort(handle_, record);
  EXPECT_TRUE(written.ok) << "a write time-out is no error";
  EXPECT_EQ(written.written, 100u);
  EXPECT_GE(Clock::now() - start, milliseconds(300));
  EXPECT_EQ(port_.write_capacity(), 0u);

  // Capacity given while a write waits lets it go on at once.
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 0, 0));  // no write limit
  auto writer = std::async(std::launch::async, [&] { return WritePort(handle_, "tail"); });
  ASSERT_TRUE(port_.WaitUntil([](const VirtualPort::State& s) { return s.writers_waiting == 1; },
                              kPatience));
  COMSTAT stat = {};
  ASSERT_TRUE(ClearCommError(handle_, nullptr, &stat));
  EXPECT_EQ(stat.cbOutQue, 4u) << "the waiting write's bytes are in the transmit queue";
  port_.SetWriteCapacity(VirtualPort::kUnlimited);
  ASSERT_EQ(writer.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(writer.get().written, 4u);
  EXPECT_EQ(port_.TakeWritten(), std::string(100, 'r') + "tail");
  ASSERT_TRUE(ClearCommError(handle_, nullptr, &stat));
  EXPECT_EQ(stat.cbOutQue, 0u);
}

TEST_F(VirtualPortTest, OutputFlowControlHoldsWrites) {
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 0, 30));
  struct Case {
    const char* what;
    void (*set)(DCB*);
    void (*device)(VirtualPort&);
    bool passes;
  } cases[] = {
      {"CTS flow, CTS off", [](DCB* d) { d->fOutxCtsFlow = 1; },
       [](VirtualPort& p) { p.SetCts(false); }, false},
      {"CTS flow, CTS on", [](DCB* d) { d->fOutxCtsFlow = 1; },
       [](VirtualPort& p) { p.SetCts(true); }, true},
      {"DSR flow, DSR off", [](DCB* d) { d->fOutxDsrFlow = 1; },
       [](VirtualPort& p) { p.SetDsr(false); }, false},
      {"no flow, lines off", [](DCB*) {}, [](VirtualPort& p) { p.SetModemStatus(0); }, true},
      {"XOFF from the device", [](DCB* d) { d->fOutX = 1; }, [](VirtualPort& p) { p.Send("\x13"); },
       false},
      {"XON from the device", [](DCB* d) { d->fOutX = 1; },
       [](VirtualPort& p) { p.Send("\x13\x11"); }, true},
      {"XOFF without XON/XOFF flow is data", [](DCB*) {}, [](VirtualPort& p) { p.Send("\x13"); },
       true},
  };
  for (const Case& c : cases) {
    DCB dcb = State();
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = 0;
    c.set(&dcb);
    ASSERT_TRUE(SetCommState(handle_, &dcb)) << c.what;
    ASSERT_TRUE(EscapeCommFunction(handle_, SETXON));
    c.device(port_);
    WriteResult written = WritePort(handle_, "data");
    EXPECT_TRUE(written.ok) << c.what;
    EXPECT_EQ(written.written, c.passes ? 4u : 0u) << c.what;
    port_.TakeWritten();
    PurgeComm(handle_, PURGE_RXCLEAR);
  }
}

TEST_F(VirtualPortTest, UnplugFailsEveryCallUntilReopenedAfterReplug) {
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0));
  auto reader = std::async(std::launch::async, [&] { return ReadPort(handle_, 1); });
  ASSERT_TRUE(port_.WaitUntil(ReaderWaits, kPatience));
  port_.Unplug();
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(reader.get().error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

  DWORD value = 0;
  COMSTAT stat;
  DCB dcb = {};
  GetCommState(handle_, &dcb);
  struct Call {
    const char* what;
    BOOL result;
  } calls[] = {
      {"write", WritePort(handle_, "x").ok},
      {"read", ReadPort(handle_, 1).ok},
      {"modem status", GetCommModemStatus(handle_, &value)},
      {"errors", ClearCommError(handle_, &value, &stat)},
      {"escape", EscapeCommFunction(handle_, SETDTR)},
      {"purge", PurgeComm(handle_, PURGE_RXCLEAR)},
      {"state", SetCommState(handle_, &dcb)},
  };
  for (const Call& call : calls) EXPECT_FALSE(call.result) << call.what;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

  EXPECT_TRUE(Fails(OpenPort("COM7"), ERROR_FILE_NOT_FOUND));
  port_.Replug();
  HANDLE fresh = OpenPort("COM7");
  ASSERT_NE(fresh, INVALID_HANDLE_VALUE) << "the dead handle does not hold the port";
  EXPECT_FALSE(WritePort(handle_, "x").ok) << "a handle from before the unplug stays dead";
  EXPECT_TRUE(WritePort(fresh, "y").ok);
  EXPECT_TRUE(CloseHandle(handle_));
  handle_ = fresh;
  EXPECT_EQ(port_.open_handles(), 1);
}

TEST_F(VirtualPortTest, NullRecordsAreRefused) {
  EXPECT_FALSE(GetCommState(handle_, nullptr));
  EXPECT_FALSE(SetCommState(handle_, nullptr));
  EXPECT_FALSE(SetCommTimeouts(handle_, nullptr));
  EXPECT_FALSE(GetCommModemStatus(handle_, nullptr));
  EXPECT_TRUE(Fails(ReadFile(handle_, nullptr, 4, nullptr, nullptr), ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(ClearCommError(handle_, nullptr, nullptr));
}

}  // namespace
}  // namespace opossvc::testing
