// What every comm backend does alike, on a pseudo-terminal under the termios backend and on a
// VirtualPort.
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include <opossvc/win32/comm.h>
#include <opossvc/win32/files.h>

#include "platform/internal/comm_wait.h"
#include "tests/platform/comm/backend_helpers.h"

namespace opossvc::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

enum class Backend { kTermios, kVirtual };

class PortContract : public PortTest, public ::testing::WithParamInterface<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::kTermios) {
      device_ = std::make_unique<PtyDevice>();
    } else {
      device_ = std::make_unique<VirtualPortDevice>();
    }
    Open();
  }
  // The queues once `received` bytes wait (the kernel moves a pseudo-terminal's bytes over in its
  // own time), or at the deadline.
  COMSTAT Queues(DWORD received = 0) {
    COMSTAT stat = {};
    const auto deadline = Clock::now() + kPatience;
    do {
      EXPECT_TRUE(ClearCommError(handle_, nullptr, &stat));
      std::this_thread::yield();
    } while (stat.cbInQue < received && Clock::now() < deadline);
    return stat;
  }
};

INSTANTIATE_TEST_SUITE_P(Backends, PortContract,
                         ::testing::Values(Backend::kTermios, Backend::kVirtual),
                         [](const auto& info) {
                           return info.param == Backend::kTermios ? "Termios" : "Virtual";
                         });

TEST_P(PortContract, BytesPassBothWaysUnchanged) {
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 5000, 0, 5000));
  const std::string bytes = AllByteValues();
  WriteResult written = WritePort(handle_, bytes);
  ASSERT_TRUE(written.ok);
  EXPECT_EQ(written.written, bytes.size());
  EXPECT_EQ(device_->Receive(bytes.size()), bytes);
  device_->Send(bytes);
  EXPECT_EQ(ReadPort(handle_, static_cast<DWORD>(bytes.size())).bytes, bytes);

  // Bytes waiting are counted, and purged.
  device_->Send("12345");
  EXPECT_EQ(ReadPort(handle_, 1).bytes, "1");
  EXPECT_EQ(Queues(4).cbInQue, 4u);
  ASSERT_TRUE(PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR));
  EXPECT_EQ(Queues().cbInQue, 0u);
  EXPECT_TRUE(Fails(PurgeComm(handle_, 0x10), ERROR_INVALID_PARAMETER));
}

TEST_P(PortContract, SettingsReadBackAndOutliveTheHandleButTimeoutsDoNot) {
  DCB dcb = State();
  dcb.BaudRate = 19200;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.fParity = 1;
  dcb.StopBits = TWOSTOPBITS;
  dcb.XonLim = 256;
  dcb.XoffLim = 768;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  DCB back = State();
  EXPECT_EQ(back.BaudRate, 19200u);
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, EVENPARITY);
  EXPECT_EQ(back.StopBits, TWOSTOPBITS);
  EXPECT_EQ(back.XonLim, 256);
  EXPECT_EQ(back.XoffLim, 768);
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 4, 0));
  COMMTIMEOUTS timeouts = {};
  ASSERT_TRUE(GetCommTimeouts(handle_, &timeouts));
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 4u);

  CloseHandle(Release());
  Open();
  EXPECT_EQ(State().BaudRate, 19200u);
  ASSERT_TRUE(GetCommTimeouts(handle_, &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
}

TEST_P(PortContract, ReadTimeoutsEndTheWaitWithWhatCame) {
  struct Case {
    const char* what;
    DWORD interval, multiplier, constant;
    const char* sent;
    DWORD asked;
    const char* read;
    milliseconds at_least;
  } cases[] = {
      {"at once, nothing there", MAXDWORD, 0, 0, "", 10, "", milliseconds(0)},
      {"at once, more than asked", MAXDWORD, 0, 0, "abcdef", 4, "abcd", milliseconds(0)},
      {"at once, the rest", MAXDWORD, 0, 0, "", 4, "ef", milliseconds(0)},
      {"total: 4 bytes at 10 ms plus 50", 0, 10, 50, "x", 4, "x", milliseconds(85)},
      {"interval after the last byte", 30, 0, 0, "ab", 10, "ab", milliseconds(25)},
      {"first byte ends a long total", MAXDWORD, MAXDWORD, 60000, "z", 10, "z", milliseconds(0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(SetTimeouts(handle_, c.interval, c.multiplier, c.constant));
    device_->Send(c.sent);
    Queues(static_cast<DWORD>(std::strlen(c.sent)));
    const auto start = Clock::now();
    ReadResult read = ReadPort(handle_, c.asked);
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(read.ok) << "a time-out is no error";
    EXPECT_EQ(read.bytes, c.read);
    EXPECT_GE(elapsed, c.at_least);
    EXPECT_LT(elapsed, kPatience);
  }
}

TEST_P(PortContract, AllZeroTimeoutsWaitForEveryByte) {
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0));
  std::atomic<bool> done{false};
  auto reader = std::async(std::launch::async, [&] {
    ReadResult read = ReadPort(handle_, 6);
    done = true;
    return read;
  });
  device_->Send("abc");
  ASSERT_TRUE(device_->WaitForWaitingRead());
  EXPECT_FALSE(done.load());
  device_->Send("defg");
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(reader.get().bytes, "abcdef");
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0));
  Queues(1);
  EXPECT_EQ(ReadPort(handle_, 10).bytes, "g");
}

TEST_P(PortContract, PurgeAndCloseEndAWaitingRead) {
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0));
  auto purged = std::async(std::launch::async, [&] { return ReadPort(handle_, 1); });
  ASSERT_TRUE(device_->WaitForWaitingRead());
  ASSERT_TRUE(PurgeComm(handle_, PURGE_RXABORT));
  ASSERT_EQ(purged.wait_for(kPatience), std::future_status::ready);
  ReadResult read = purged.get();
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));

  HANDLE handle = Release();
  auto closed = std::async(std::launch::async, [handle] { return ReadPort(handle, 1); });
  ASSERT_TRUE(device_->WaitForWaitingRead());
  EXPECT_TRUE(CloseHandle(handle));
  ASSERT_EQ(closed.wait_for(kPatience), std::future_status::ready);
  EXPECT_FALSE(closed.get().ok);
}

// The library's wait for input: bytes end it for as long as they wait to be read, a change of the
// event mask ends it, as the close of the port does; one wait at a time, and none without events.
TEST_P(PortContract, WaitForInput) {
  using Result = std::pair<BOOL, DWORD>;  // the call's result and the events it reported
  const auto wait = [](HANDLE port, DWORD ms) {
    DWORD events = 0xdead;
    const BOOL ok = detail::WaitCommInput(port, &events, ms);
    return Result(ok, events);
  };
  const DWORD bounded = static_cast<DWORD>(milliseconds(2 * kPatience).count());
  const auto wait_in_background = [&](HANDLE port) {
    return std::async(std::launch::async, wait, port, bounded);
  };
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0));
  DWORD events = 0;
  ASSERT_TRUE(SetCommMask(handle_, 0));
  EXPECT_TRUE(Fails(detail::WaitCommInput(handle_, &events, INFINITE), ERROR_INVALID_PARAMETER))
      << "no events to wait for";
  ASSERT_TRUE(SetCommMask(handle_, EV_RXCHAR));
  EXPECT_EQ(wait(handle_, 0), Result(TRUE, 0)) << "nothing there: the time runs out";

  device_->Send("ab");
  EXPECT_EQ(wait(handle_, INFINITE), Result(TRUE, EV_RXCHAR));
  EXPECT_EQ(wait(handle_, INFINITE), Result(TRUE, EV_RXCHAR)) << "a level, not an edge";
  EXPECT_EQ(ReadPort(handle_, 2).bytes, "ab");
  auto waiter = wait_in_background(handle_);
  ASSERT_TRUE(device_->WaitForWaitingRead());
  device_->Send("c");
  ASSERT_EQ(waiter.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(waiter.get(), Result(TRUE, EV_RXCHAR));
  EXPECT_EQ(ReadPort(handle_, 1).bytes, "c");

  waiter = wait_in_background(handle_);
  ASSERT_TRUE(device_->WaitForWaitingRead());
  EXPECT_TRUE(Fails(detail::WaitCommInput(handle_, &events, 0), ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(SetCommMask(handle_, 0));
  ASSERT_EQ(waiter.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(waiter.get(), Result(TRUE, 0));
  ASSERT_TRUE(SetCommMask(handle_, EV_RXCHAR));
  HANDLE handle = Release();
  waiter = wait_in_background(handle);
  ASSERT_TRUE(device_->WaitForWaitingRead());
  ASSERT_TRUE(CloseHandle(handle));
  ASSERT_EQ(waiter.wait_for(kPatience), std::future_status::ready);
  EXPECT_FALSE(waiter.get().first);
}

TEST_P(PortContract, WriteStopsAtItsTimeoutWhenTheDeviceTakesNoMore) {
  device_->Stall();
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 0, 150));
  const std::string flood(4 << 20, 'f');  // far more than a tty buffers
  const auto start = Clock::now();
  WriteResult written = WritePort(handle_, flood);
  EXPECT_TRUE(written.ok) << "a write time-out is no error";
  EXPECT_GT(written.written, 0u);
  EXPECT_LT(written.written, flood.size());
  EXPECT_GE(Clock::now() - start, milliseconds(140));
}

TEST_P(PortContract, OneHandleAtATime) {
  EXPECT_TRUE(Fails(OpenPort(device_->name()), ERROR_ACCESS_DENIED));
  CloseHandle(Release());
  Open();
}

// The receive queue is what the port holds, whatever SetupComm asked for: the count of waiting
// bytes reaches the size reported, and no more, however much the device sends.
TEST_P(PortContract, ReceiveQueueIsWhatThePortHolds) {
  ASSERT_TRUE(SetupComm(handle_, 65536, 512));
  COMMPROP properties = {};
  ASSERT_TRUE(GetCommProperties(handle_, &properties));
  EXPECT_EQ(properties.dwCurrentRxQueue, 4095u);
  device_->Send(std::string(6000, 'q'));
  EXPECT_EQ(Queues(properties.dwCurrentRxQueue).cbInQue, properties.dwCurrentRxQueue);
}

TEST_P(PortContract, UnpluggedDeviceFailsEveryCallAtOnceUntilReopened) {
  ASSERT_TRUE(SetTimeouts(handle_, 0, 0, 0));
  auto reader = std::async(std::launch::async, [&] { return ReadPort(handle_, 1); });
  ASSERT_TRUE(device_->WaitForWaitingRead());
  device_->Unplug();
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(reader.get().error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

  // Every later call fails without going to the device again, so no caller can spin on it.
  const int calls_before = device_->Calls();
  DWORD value = 0;
  COMSTAT stat;
  DCB dcb = State();
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
  EXPECT_EQ(device_->Calls(), calls_before);
  EXPECT_TRUE(Fails(OpenPort(device_->name()), ERROR_FILE_NOT_FOUND));

  device_->Replug();
  HANDLE fresh = OpenPort(device_->name());
  ASSERT_NE(fresh, INVALID_HANDLE_VALUE) << "the dead handle does not hold the port";
  EXPECT_FALSE(WritePort(handle_, "x").ok) << "a handle from before the unplug stays dead";
  EXPECT_TRUE(CloseHandle(Release()));
  handle_ = fresh;
  ASSERT_TRUE(WritePort(handle_, "back").ok);
  EXPECT_EQ(device_->Receive(4), "back");
}

TEST_P(PortContract, NullRecordsAreRefused) {
  EXPECT_FALSE(GetCommState(handle_, nullptr));
  EXPECT_FALSE(SetCommState(handle_, nullptr));
  EXPECT_FALSE(SetCommTimeouts(handle_, nullptr));
  EXPECT_FALSE(GetCommModemStatus(handle_, nullptr));
  EXPECT_TRUE(Fails(ReadFile(handle_, nullptr, 4, nullptr, nullptr), ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(ClearCommError(handle_, nullptr, nullptr));
}

}  // namespace
}  // namespace opossvc::testing
