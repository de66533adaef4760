// Output queue, input delivery, power reports and line errors through a
// virtual device.
#include <algorithm>
#include <atomic>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/portdrv.h>
#include <opossvc/testing/virtual_port.h>
#include <opossvc/win32/oleauto.h>

#include "tests/support/device_entry.h"
#include "tests/support/recording_svc.h"

namespace opossvc::testing {
namespace {

// A device on COM1 with its registry entry, and a driver. The service
// objects share one log and outlive the driver, which closes what is left.
struct Rig {
  explicit Rig(const std::map<std::string, DWORD>& values = {}, DWORD lines = 0) {
    WriteFastConfig(registry);
    device.SetModemStatus(lines);
    for (const auto& [name, value] : values) entry.values[name] = value;
    WriteDevice(registry, entry);
  }
  RecordingSvc& Add() { return *svcs.emplace_back(std::make_unique<RecordingSvc>(&log)); }
  RecordingSvc& Open(int variant = 0) { return Open(Add(), variant); }
  RecordingSvc& Open(RecordingSvc& svc, int variant = 0) {
    EXPECT_EQ(OpenOn(port, entry, &svc, variant), 0);
    return svc;
  }
  // Sends two bytes one after the other and waits for both: the pass that
  // delivers the second one read the modem lines after the first arrived,
  // so every line change made before has been handled and reported.
  void Settle(const RecordingSvc& svc) {
    for (const char* s : {"1", "2"}) {
      const size_t before = svc.ReceivedCount();
      device.Send(s);
      ASSERT_TRUE(svc.WaitForReceived(before + 1));
    }
  }

  TempRegistry registry;
  VirtualPort device{"COM1"};
  DeviceEntry entry;
  NoticeLog log;
  std::deque<std::unique_ptr<RecordingSvc>> svcs;
  CPortdrv port;  // destroyed first
};

TEST(PortIo, RecordsAreWrittenAndCompleted) {
  Rig rig;
  RecordingSvc& svc = rig.Open();
  CPortdrv& port = rig.port;
  ASSERT_EQ(port.PortOutputData("hello", 5, 0, &svc, 0, 1, 5), 0);
  ASSERT_EQ(port.PortOutputData("", 0, 0, &svc, 0, 1, 6), 0);  // completes at once
  BSTR bytes = SysAllocStringByteLen("a\0b", 3);
  ASSERT_EQ(port.PortOutputData(&bytes, 0, &svc, 0, 0, 7), 0);
  SysFreeString(bytes);
  BSTR empty = nullptr;
  ASSERT_EQ(port.PortOutputData(&empty, 0, &svc, 0, 0, 8), 0);
  ASSERT_EQ(port.PortOutputData("z", 1, 0, nullptr, 0, 0, 9), 0);  // no notification
  EXPECT_EQ(port.PortOutputData(nullptr, 4, 0, &svc, 0, 0, 10), OPOSSVC_E_PORT_CALL);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, 4));
  ASSERT_TRUE(rig.device.WaitForWritten(9, kPatience));
  EXPECT_EQ(rig.device.TakeWritten(), std::string("helloa\0bz", 9));
  EXPECT_EQ(svc.Values(Notice::kComplete), (std::vector<long>{5, 6, 7, 8}));
}

TEST(PortIo, ImmediateRecordsOvertakeQueuedOnes) {
  Rig rig;
  RecordingSvc& svc = rig.Open();
  rig.device.SetWriteCapacity(1);
  // A is started (one byte out) and held by the stalled port.
  ASSERT_EQ(rig.port.PortOutputData("AA", 2, 0, &svc, 0, 0, 1), 0);
  ASSERT_TRUE(rig.device.WaitForWritten(1, kPatience));
  for (const auto& [bytes, immediate] : {std::pair{"B", 0}, {"C", 0}, {"I", 1}, {"J", 1}}) {
    ASSERT_EQ(rig.port.PortOutputData(bytes, 1, 0, &svc, immediate, 0, 2), 0);
  }
  rig.device.SetWriteCapacity(VirtualPort::kUnlimited);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, 5));
  EXPECT_EQ(rig.device.TakeWritten(), "AAIJBC");
  // Records without an error code time out without PortError.
  EXPECT_TRUE(svc.Notices(Notice::kError).empty());
}

TEST(PortIo, TimedOutRecordReportsOnceAndCompletesWithIdZero) {
  Rig rig({{"HandShake", 1}}, MS_CTS_ON);
  RecordingSvc& svc = rig.Open();
  rig.device.SetWriteCapacity(100);
  const std::string record(300, 'r');
  ASSERT_EQ(rig.port.PortOutputData(record.data(), record.size(), 111, &svc, 0, 1, 7), 0);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kError));
  // The record keeps timing out at the front; the error is not repeated.
  ASSERT_EQ(rig.port.PortOutputData("n", 1, 0, &svc, 0, 1, 8), 0);
  rig.device.SetWriteCapacity(VirtualPort::kUnlimited);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, 2));
  EXPECT_EQ(rig.device.TakeWritten(), record + "n");
  EXPECT_EQ(svc.Values(Notice::kError), std::vector<long>{111});
  EXPECT_EQ(svc.Values(Notice::kComplete), (std::vector<long>{0, 8}));
}

TEST(PortIo, RecordsWithoutHandshakeGoOutWhileTheLineIsNotReady) {
  Rig rig({{"HandShake", 1}});  // CTS off
  RecordingSvc& svc = rig.Open();
  CPortdrv& port = rig.port;
  EXPECT_EQ(port.PortOutputData("h", 1, 0, &svc, 0, 1, 1), OPOSSVC_E_NOT_READY);
  ASSERT_EQ(port.PortOutputData("n", 1, 0, &svc, 0, 0, 2), 0);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete));
  // A flow-controlled record stalls and is then held back for the line; a
  // record without handshake takes it along.
  rig.device.SetCts(true);
  rig.device.SetWriteCapacity(0);
  ASSERT_EQ(port.PortOutputData("H", 1, 0, &svc, 0, 1, 3), 0);
  rig.device.SetCts(false);
  ASSERT_EQ(port.PortOutputData("N", 1, 0, &svc, 0, 0, 4), 0);
  rig.device.SetWriteCapacity(VirtualPort::kUnlimited);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, 3));
  EXPECT_EQ(rig.device.TakeWritten(), "nHN");
  EXPECT_EQ(svc.Values(Notice::kComplete), (std::vector<long>{2, 3, 4}));
}

// Pauses far longer than the test waits: what the device sends, what is
// queued and the close all go through as soon as they come.
TEST(PortIo, PausesEndAsSoonAsThereIsWork) {
  Rig rig;
  WriteConfig(rig.registry, {{"IdleSleep", kLongPause}, {"InputSleep", kLongPause}});
  RecordingSvc& svc = rig.Open();
  const std::string sent(200, 's');  // more than one read buffer
  rig.device.Send(sent);
  ASSERT_TRUE(svc.WaitForReceived(sent.size()));
  for (long id : {1, 2}) ASSERT_EQ(rig.port.PortOutputData("out", 3, 0, &svc, 0, 0, id), 0);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, 2));
  rig.device.Send("t");
  ASSERT_TRUE(svc.WaitForReceived(sent.size() + 1));
  EXPECT_EQ(rig.port.PortClose(&svc), 0);
}

// The marks of input flow control are taken against what the port holds when
// "InputBuf" is more: the count of waiting bytes never passes the port's size.
// The pass after one that read while the line was down follows at once, also
// when it read the whole queue: no more input comes while the line is down.
TEST(PortIo, InputFlowControlOnAPortSmallerThanInputBuf) {
  for (long readSize : {64, 8192}) {
    SCOPED_TRACE(readSize);
    Rig rig({{"HandShake", 1}, {"InputBuf", 8192}}, MS_CTS_ON);
    WriteConfig(rig.registry, {{"IdleSleep", kLongPause}, {"InputSleep", kLongPause}});
    rig.device.SetReceiveCapacity(4096);  // marks at 1024 and 3072, not 2048 and 6144
    RecordingSvc& svc = rig.Add();
    std::promise<bool> rts_at_first_delivery;
    svc.on_data = [&, first = true](RecordingSvc*, unsigned char*, long) mutable {
      if (std::exchange(first, false)) rts_at_first_delivery.set_value(rig.device.rts());
    };
    ASSERT_EQ(rig.port.PortOpen(rig.entry.id().c_str(), &svc, readSize, 0, 0), 0);
    const auto rts_is = [&rig](bool on) {
      return rig.device.WaitUntil([on](const VirtualPort::State& s) { return s.rts == on; },
                                  kPatience);
    };
    ASSERT_TRUE(rts_is(true));
    // Sent while the input thread waits, so that its next pass sees it all and
    // drops the line before it delivers.
    ASSERT_TRUE(rig.device.WaitUntil(
        [](const VirtualPort::State& s) { return s.readers_waiting == 1; }, kPatience));
    rig.device.Send(std::string(4096, 'q'));
    std::future<bool> rts = rts_at_first_delivery.get_future();
    ASSERT_EQ(rts.wait_for(kPatience), std::future_status::ready);
    EXPECT_FALSE(rts.get());
    ASSERT_TRUE(svc.WaitForReceived(4096));
    EXPECT_TRUE(rts_is(true));
  }
}

TEST(PortIo, GetPowerStateReadsTheLines) {
  std::promise<std::pair<int, int>> read_inside;
  Rig rig({{"HandShake", 1}}, MS_CTS_ON);
  RecordingSvc& svc = rig.Add();
  // Run on the input thread between two of its passes, so that no pass can
  // see the change before GetPowerState reads it.
  svc.on_data = [&](RecordingSvc*, unsigned char* data, long length) {
    if (length < 1 || data[0] != 'c') return;
    rig.device.SetModemStatus(MS_DSR_ON);
    read_inside.set_value({rig.port.GetPowerState(1), rig.port.GetPowerState(2)});
  };
  rig.Open(svc);
  for (const auto& [line, state] : {std::pair{1L, 1}, {2L, 0}, {3L, 0}, {0L, 0}}) {
    EXPECT_EQ(rig.port.GetPowerState(line), state) << line;
  }
  std::future<std::pair<int, int>> read = read_inside.get_future();
  rig.device.Send("c");
  ASSERT_EQ(read.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(read.get(), std::pair(0, 1));
  // Read as off: not reported again; the next change is reported against it.
  rig.Settle(svc);
  rig.device.SetModemStatus(MS_CTS_ON);
  rig.Settle(svc);
  const std::vector<Notice> reports = svc.Notices(Notice::kPower);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(std::tuple(reports[0].a, reports[0].b, reports[0].c), std::tuple(2L, 1L, 0L));
}

TEST(PortIo, LineErrorsReachEveryClientBeforeTheBytes) {
  for (DWORD error : {CE_FRAME, CE_RXPARITY, CE_OVERRUN, CE_BREAK}) {
    SCOPED_TRACE(error);
    Rig rig({{"Parity", 1}});  // parity errors are checked only with parity on
    RecordingSvc& a = rig.Open();
    RecordingSvc& b = rig.Open();
    rig.device.InjectError(error);
    rig.device.Send("12345");
    ASSERT_TRUE(b.WaitForReceived(5));
    for (RecordingSvc* svc : {&a, &b}) {
      const std::vector<Notice> notices = svc->Notices();
      ASSERT_GE(notices.size(), 2u);
      EXPECT_EQ(notices[0].kind, Notice::kError);
      EXPECT_EQ(notices[0].a, 0);
      EXPECT_EQ(notices[1].kind, Notice::kData);
      EXPECT_EQ(svc->Received(), "12345");
    }
  }
}

TEST(PortIo, EveryClientGetsEveryBlockOnceInOpenOrder) {
  Rig rig;
  RecordingSvc& a = rig.Add();
  RecordingSvc& b = rig.Add();
  // A scribbles over the block: B still gets it as read.
  a.on_data = [](RecordingSvc*, unsigned char* data, long length) {
    std::fill(data, data + length, 'X');
  };
  for (RecordingSvc* svc : {&a, &b, &a}) rig.Open(*svc);  // A twice: still one delivery per block
  const std::string sent = "The quick brown fox jumps over the lazy dog";
  for (char ch : sent) rig.device.Send(std::string(1, ch));
  ASSERT_TRUE(b.WaitForReceived(sent.size()));
  EXPECT_EQ(a.Received(), sent);
  EXPECT_EQ(b.Received(), sent);
  const std::vector<Notice> notices = rig.log.All();  // each block reached A, then B
  for (size_t i = 0; i < notices.size(); ++i) EXPECT_EQ(notices[i].who, i % 2 == 0 ? &a : &b) << i;
}

TEST(PortIo, PortCloseFromDataUpdate) {
  // Closed inside DataUpdate, opened again inside it or afterwards from the test.
  for (bool reopen_inside : {false, true}) {
    SCOPED_TRACE(reopen_inside ? "reopened inside" : "reopened after");
    std::atomic<bool> first{true};
    std::promise<long> closed;
    Rig rig;
    RecordingSvc& svc = rig.Add();
    svc.on_data = [&](RecordingSvc* self, unsigned char*, long) {
      if (!first.exchange(false)) return;
      long result = rig.port.PortClose(self);
      if (reopen_inside) result = result * 1000 + OpenOn(rig.port, rig.entry, self);
      closed.set_value(result);
    };
    std::future<long> result = closed.get_future();
    rig.Open(svc);
    rig.device.Send("x");
    ASSERT_EQ(result.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    if (!reopen_inside) {
      EXPECT_EQ(rig.device.open_handles(), 0);
      rig.Open(svc);
    }
    rig.device.Send("y");
    ASSERT_TRUE(svc.WaitForReceived(2));
    EXPECT_EQ(svc.Received(), "xy");  // once each: the old input thread ended
    EXPECT_EQ(rig.device.open_count(), 2);
    EXPECT_EQ(rig.device.open_handles(), 1);
    EXPECT_EQ(rig.port.PortClose(&svc), 0);
  }
}

TEST(PortIo, PortCloseFromOutputDataComplete) {
  std::promise<long> closed;
  Rig rig;
  RecordingSvc& svc = rig.Add();
  svc.on_complete = [&](RecordingSvc* self, long) { closed.set_value(rig.port.PortClose(self)); };
  std::future<long> result = closed.get_future();
  rig.Open(svc);
  ASSERT_EQ(rig.port.PortOutputData("bye", 3, 0, &svc, 0, 0, 1), 0);
  ASSERT_EQ(result.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  EXPECT_EQ(rig.device.open_handles(), 0);
  EXPECT_EQ(rig.device.TakeWritten(), "bye");
}

// In every line mode the loss of the device is told once to each client (the watched lines off,
// then PortError), output is refused while it is gone, and the driver opens it again by itself:
// the record cut off by the loss is not timed out but written once the device is back, the
// watched lines coming on are reported, and input goes on.
TEST(PortIo, UnpluggedDeviceIsToldOnceAndComesBackByItself) {
  // HandShake, Hydra, the new states of the power reports in order
  const std::tuple<DWORD, DWORD, const char*> modes[] = {
      {0, 0, ""}, {1, 0, "01"}, {2, 0, "01"}, {3, 0, "01"}, {4, 0, ""}, {0, 1, "0011"}};
  for (const auto& [handShake, hydra, reports] : modes) {
    SCOPED_TRACE(::testing::Message() << "mode " << handShake << " hydra " << hydra);
    // 150 baud: the record's write waits long enough for the unplug to cut it off.
    Rig rig({{"HandShake", handShake}, {"Hydra", hydra}, {"Baudrate", 0}}, MS_CTS_ON | MS_DSR_ON);
    RecordingSvc& a = rig.Open();
    RecordingSvc& b = rig.Open();
    rig.Settle(a);
    rig.device.SetWriteCapacity(0);
    ASSERT_EQ(rig.port.PortOutputData("stuck", 5, 111, &a, 0, 1, 1), 0);
    ASSERT_TRUE(
        rig.device.WaitUntil([](const auto& s) { return s.writers_waiting == 1; }, kPatience));
    rig.device.Unplug();
    ASSERT_TRUE(b.WaitForValue(Notice::kError, OPOS_E_NOHARDWARE));
    EXPECT_EQ(rig.port.PortOutputData("x", 1, 0, &a, 0, 0, 2), OPOS_E_NOHARDWARE);
    EXPECT_EQ(rig.port.GetPowerState(2), 0);
    rig.device.SetWriteCapacity(VirtualPort::kUnlimited);
    rig.device.Replug();
    ASSERT_TRUE(a.WaitForValue(Notice::kComplete, 1));
    EXPECT_EQ(rig.device.TakeWritten(), "stuck");
    rig.Settle(a);
    EXPECT_EQ(rig.port.GetPowerState(2), 1);
    for (const RecordingSvc* svc : {&a, &b}) {
      EXPECT_EQ(svc->Values(Notice::kError), std::vector<long>{OPOS_E_NOHARDWARE});
      std::string power;
      for (const Notice& n : svc->Notices(Notice::kPower)) power += n.b != 0 ? '1' : '0';
      EXPECT_EQ(power, reports);
    }
  }
}

}  // namespace
}  // namespace opossvc::testing
