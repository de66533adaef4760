// What every port of the comm seam does alike, on a pseudo-terminal through the Win32 calls (the
// termios backend) and on a VirtualPort.
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
      EXPECT_EQ(port_->ClearError(nullptr, &stat), 0u);
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
  ASSERT_EQ(SetTimeouts(*port_, 0, 0, 5000, 0, 5000), 0u);
  std::string bytes;  // every byte value once, then again in reverse
  for (int i = 0; i < 512; ++i) bytes.push_back(static_cast<char>(i < 256 ? i : 511 - i));
  WriteResult written = WritePort(*port_, bytes);
  ASSERT_TRUE(written.ok);
  EXPECT_EQ(written.written, bytes.size());
  EXPECT_EQ(device_->Receive(bytes.size()), bytes);
  device_->Send(bytes);
  EXPECT_EQ(ReadPort(*port_, static_cast<DWORD>(bytes.size())).bytes, bytes);

  // Bytes waiting are counted, and purged.
  device_->Send("12345");
  EXPECT_EQ(ReadPort(*port_, 1).bytes, "1");
  EXPECT_EQ(Queues(4).cbInQue, 4u);
  ASSERT_EQ(port_->Purge(PURGE_RXCLEAR | PURGE_TXCLEAR), 0u);
  EXPECT_EQ(Queues().cbInQue, 0u);
  EXPECT_EQ(port_->Purge(0x10), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
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
  ASSERT_EQ(port_->SetState(dcb), 0u);
  DCB back = State();
  EXPECT_EQ(back.BaudRate, 19200u);
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, EVENPARITY);
  EXPECT_EQ(back.StopBits, TWOSTOPBITS);
  EXPECT_EQ(back.XonLim, 256);
  EXPECT_EQ(back.XoffLim, 768);
  ASSERT_EQ(SetTimeouts(*port_, MAXDWORD, 0, 0, 4, 0), 0u);
  COMMTIMEOUTS timeouts = {};
  ASSERT_EQ(port_->GetTimeouts(&timeouts), 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 4u);
  EXPECT_EQ(SetTimeouts(*port_, MAXDWORD, MAXDWORD, MAXDWORD),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  port_.reset();
  Open();
  EXPECT_EQ(State().BaudRate, 19200u);
  ASSERT_EQ(port_->GetTimeouts(&timeouts), 0u);
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
}

TEST_P(PortContract, ReadTimeoutsEndTheWaitWithWhatCame) {
  std::tuple<const char*, DWORD, DWORD, DWORD, const char*, DWORD, const char*, milliseconds>
      cases[] = {
          {"at once, nothing there", MAXDWORD, 0, 0, "", 10, "", milliseconds(0)},
          {"at once, more than asked", MAXDWORD, 0, 0, "abcdef", 4, "abcd", milliseconds(0)},
          {"at once, the rest", MAXDWORD, 0, 0, "", 4, "ef", milliseconds(0)},
          {"total: 4 bytes at 10 ms plus 50", 0, 10, 50, "x", 4, "x", milliseconds(85)},
          {"interval after the last byte", 30, 0, 0, "ab", 10, "ab", milliseconds(25)},
          {"first byte ends a long total", MAXDWORD, MAXDWORD, 60000, "z", 10, "z",
           milliseconds(0)},
      };
  for (const auto& [what, interval, multiplier, constant, sent, asked, expected, at_least] :
       cases) {
    SCOPED_TRACE(what);
    ASSERT_EQ(SetTimeouts(*port_, interval, multiplier, constant), 0u);
    device_->Send(sent);
    Queues(static_cast<DWORD>(std::strlen(sent)));
    const auto start = Clock::now();
    ReadResult read = ReadPort(*port_, asked);
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(read.ok) << "a time-out is no error";
    EXPECT_EQ(read.bytes, expected);
    EXPECT_GE(elapsed, at_least);
    EXPECT_LT(elapsed, kPatience);
  }
}

TEST_P(PortContract, AllZeroTimeoutsWaitForEveryByte) {
  ASSERT_EQ(SetTimeouts(*port_, 0, 0, 0), 0u);
  std::atomic<bool> done{false};
  auto reader = std::async(std::launch::async, [&] {
    ReadResult read = ReadPort(*port_, 6);
    done = true;
    return read;
  });
  device_->Send("abc");
  ASSERT_TRUE(device_->WaitForWaitingRead());
  EXPECT_FALSE(done.load());
  device_->Send("defg");
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(reader.get().bytes, "abcdef");
  ASSERT_EQ(SetTimeouts(*port_, MAXDWORD, 0, 0), 0u);
  Queues(1);
  EXPECT_EQ(ReadPort(*port_, 10).bytes, "g");
}

TEST_P(PortContract, PurgeAndCloseEndAWaitingRead) {
  ASSERT_EQ(SetTimeouts(*port_, 0, 0, 0), 0u);
  auto purged = std::async(std::launch::async, [&] { return ReadPort(*port_, 1); });
  ASSERT_TRUE(device_->WaitForWaitingRead());
  ASSERT_EQ(port_->Purge(PURGE_RXABORT), 0u);
  ASSERT_EQ(purged.wait_for(kPatience), std::future_status::ready);
  ReadResult read = purged.get();
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));

  auto closed = std::async(std::launch::async, [&] { return ReadPort(*port_, 1); });
  ASSERT_TRUE(device_->WaitForWaitingRead());
  port_->Close();
  ASSERT_EQ(closed.wait_for(kPatience), std::future_status::ready);
  EXPECT_FALSE(closed.get().ok);
}

// The library's wait for input: bytes end it for as long as they wait to be read, a change of the
// event mask ends it, as the close of the port does; one wait at a time, and none without events.
TEST_P(PortContract, WaitForInput) {
  using Result = std::pair<DWORD, DWORD>;  // the call's error and the events it reported
  const auto wait = [this](DWORD ms) {
    DWORD events = 0xdead;
    const DWORD error = port_->WaitInput(ms, &events);
    return Result(error, events);
  };
  const DWORD bounded = static_cast<DWORD>(milliseconds(2 * kPatience).count());
  const auto wait_in_background = [&] { return std::async(std::launch::async, wait, bounded); };
  const Result refused(ERROR_INVALID_PARAMETER, 0);
  ASSERT_EQ(SetTimeouts(*port_, 0, 0, 0), 0u);
  ASSERT_EQ(port_->SetMask(0), 0u);
  EXPECT_EQ(wait(INFINITE), refused) << "no events to wait for";
  ASSERT_EQ(port_->SetMask(EV_RXCHAR), 0u);
  EXPECT_EQ(wait(0), Result(0, 0)) << "nothing there: the time runs out";

  device_->Send("ab");
  EXPECT_EQ(wait(INFINITE), Result(0, EV_RXCHAR));
  EXPECT_EQ(wait(INFINITE), Result(0, EV_RXCHAR)) << "a level, not an edge";
  EXPECT_EQ(ReadPort(*port_, 2).bytes, "ab");
  auto waiter = wait_in_background();
  ASSERT_TRUE(device_->WaitForWaitingRead());
  device_->Send("c");
  ASSERT_EQ(waiter.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(waiter.get(), Result(0, EV_RXCHAR));
  EXPECT_EQ(ReadPort(*port_, 1).bytes, "c");

  waiter = wait_in_background();
  ASSERT_TRUE(device_->WaitForWaitingRead());
  EXPECT_EQ(wait(0), refused) << "one wait at a time";
  ASSERT_EQ(port_->SetMask(0), 0u);
  ASSERT_EQ(waiter.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(waiter.get(), Result(0, 0));
  ASSERT_EQ(port_->SetMask(EV_RXCHAR), 0u);
  waiter = wait_in_background();
  ASSERT_TRUE(device_->WaitForWaitingRead());
  port_->Close();
  ASSERT_EQ(waiter.wait_for(kPatience), std::future_status::ready);
  EXPECT_NE(waiter.get().first, 0u);
}

TEST_P(PortContract, WriteStopsAtItsTimeoutWhenTheDeviceTakesNoMore) {
  device_->Stall();
  ASSERT_EQ(SetTimeouts(*port_, MAXDWORD, 0, 0, 0, 150), 0u);
  const std::string flood(4 << 20, 'f');  // far more than a tty buffers
  const auto start = Clock::now();
  WriteResult written = WritePort(*port_, flood);
  EXPECT_TRUE(written.ok) << "a write time-out is no error";
  EXPECT_GT(written.written, 0u);
  EXPECT_LT(written.written, flood.size());
  EXPECT_GE(Clock::now() - start, milliseconds(140));
}

TEST_P(PortContract, OneHandleAtATime) {
  std::unique_ptr<detail::SerialPort> second;
  EXPECT_EQ(detail::OpenSerialPort(device_->name(), &second),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  port_.reset();
  Open();
}

// The receive queue is what the port holds, whatever SetupComm asked for: the count of waiting
// bytes reaches the size reported, and no more, however much the device sends.
// The receive queue and the line state that the device really has: a pseudo-terminal has no
// modem lines and reports no line errors.
TEST_P(PortContract, PropertiesAreWhatThePortHas) {
  ASSERT_EQ(port_->Setup(65536, 512), 0u);
  COMMPROP properties = {};
  ASSERT_EQ(port_->GetProperties(&properties), 0u);
  constexpr DWORD kLineState = PCF_DTRDSR | PCF_RTSCTS | PCF_RLSD | PCF_PARITY_CHECK;
  EXPECT_EQ(properties.dwProvCapabilities & kLineState,
            GetParam() == Backend::kTermios ? 0u : kLineState);
  EXPECT_EQ(properties.dwCurrentRxQueue, 4095u);
  device_->Send(std::string(6000, 'q'));
  EXPECT_EQ(Queues(properties.dwCurrentRxQueue).cbInQue, properties.dwCurrentRxQueue);
}

TEST_P(PortContract, UnpluggedDeviceFailsEveryCallAtOnceUntilReopened) {
  ASSERT_EQ(SetTimeouts(*port_, 0, 0, 0), 0u);
  auto reader = std::async(std::launch::async, [&] { return ReadPort(*port_, 1); });
  ASSERT_TRUE(device_->WaitForWaitingRead());
  device_->Unplug();
  ASSERT_EQ(reader.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(reader.get().error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

  // Every later call fails without going to the device again, so no caller can spin on it.
  const int calls_before = device_->Calls();
  DWORD value = 0;
  COMSTAT stat;
  DCB dcb = State();
  std::pair<const char*, DWORD> calls[] = {
      {"write", WritePort(*port_, "x").error},
      {"read", ReadPort(*port_, 1).error},
      {"modem status", port_->ModemStatus(&value)},
      {"errors", port_->ClearError(&value, &stat)},
      {"escape", port_->Escape(SETDTR)},
      {"purge", port_->Purge(PURGE_RXCLEAR)},
      {"state", port_->SetState(dcb)},
  };
  for (const auto& [what, error] : calls) {
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)) << what;
  }
  EXPECT_EQ(device_->Calls(), calls_before);
  std::unique_ptr<detail::SerialPort> fresh;
  EXPECT_EQ(detail::OpenSerialPort(device_->name(), &fresh),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  device_->Replug();
  ASSERT_EQ(detail::OpenSerialPort(device_->name(), &fresh), 0u)
      << "the dead handle does not hold the port";
  EXPECT_FALSE(WritePort(*port_, "x").ok) << "a handle from before the unplug stays dead";
  port_ = std::move(fresh);
  ASSERT_TRUE(WritePort(*port_, "back").ok);
  EXPECT_EQ(device_->Receive(4), "back");
}

}  // namespace
}  // namespace opossvc::testing
