// Output queue, input delivery, power reports and line errors through a
// virtual device.
#include <algorithm>
#include <atomic>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/portdrv.h>
#include <opossvc/testing/virtual_port.h>
#include <opossvc/win32/oleauto.h>

#include "tests/portdrv/portdrv_helpers.h"

namespace opossvc::testing {
namespace {

class PortIoTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFastConfig(registry_); }

  // Service objects and logs live until after the driver is gone.
  RecordingSvc& NewSvc(NoticeLog* log = nullptr) {
    svcs_.push_back(std::make_unique<RecordingSvc>(log));
    return *svcs_.back();
  }
  NoticeLog& NewLog() {
    logs_.push_back(std::make_unique<NoticeLog>());
    return *logs_.back();
  }

  // Opens the device on COM1 for the given service objects, in order.
  void Open(std::vector<RecordingSvc*> svcs, DWORD handShake = 0,
            std::map<std::string, DWORD> values = {}, int variant = 0) {
    spec_.values["HandShake"] = handShake;
    for (const auto& [name, value] : values) spec_.values[name] = value;
    WriteDevice(registry_, spec_);
    for (RecordingSvc* svc : svcs) {
      ASSERT_EQ(port_.PortOpen(spec_.id().c_str(), svc, 64, variant, 0), 0);
    }
  }

  // Sends two bytes one after the other and waits for both: the pass that
  // delivers the second one has read the modem lines after the first
  // arrived, so every line change made before has been handled.
  void Settle(RecordingSvc& svc) {
    for (const char* s : {"1", "2"}) {
      const size_t before = svc.Received().size();
      device_.Send(s);
      ASSERT_TRUE(svc.WaitForReceived(before + 1));
    }
  }

  TempRegistry registry_;
  VirtualPort device_{"COM1"};
  DeviceSpec spec_;
  std::deque<std::unique_ptr<NoticeLog>> logs_;
  std::deque<std::unique_ptr<RecordingSvc>> svcs_;
  CPortdrv port_;  // destroyed first: it closes a port left open
};

std::vector<Notice> Of(const RecordingSvc& svc, Notice::Kind kind) {
  std::vector<Notice> out;
  for (const Notice& n : svc.Notices()) {
    if (n.kind == kind) out.push_back(n);
  }
  return out;
}

// Each notice of `kind` (any kind when null) reached A and then B.
void ExpectEachReachedAThenB(const NoticeLog& log, const void* a, const void* b,
                             const Notice::Kind* kind = nullptr) {
  std::vector<const void*> order;
  for (const Notice& n : log.All()) {
    if (!kind || n.kind == *kind) order.push_back(n.who);
  }
  for (size_t i = 0; i + 1 < order.size(); i += 2) {
    EXPECT_EQ(order[i], a);
    EXPECT_EQ(order[i + 1], b);
  }
}

// Two service objects sharing COM2, whose device entry has `values`;
// `opened` tells whether both opens succeeded.
struct TwoClientsOnCom2 {
  explicit TwoClientsOnCom2(const std::map<std::string, DWORD>& values, DWORD initial_lines = 0,
                            int variant = 0) {
    WriteFastConfig(registry);
    device.SetModemStatus(initial_lines);
    spec.port = "COM2";
    for (const auto& [name, value] : values) spec.values[name] = value;
    WriteDevice(registry, spec);
    opened = port.PortOpen(spec.id().c_str(), &a, 64, variant, 0) == 0 &&
             port.PortOpen(spec.id().c_str(), &b, 64, variant, 0) == 0;
  }
  ~TwoClientsOnCom2() {
    EXPECT_EQ(port.PortClose(&a), 0);
    EXPECT_EQ(port.PortClose(&b), 0);
  }

  TempRegistry registry;
  VirtualPort device{"COM2"};
  DeviceSpec spec;
  NoticeLog log;
  RecordingSvc a{&log}, b{&log};
  CPortdrv port;
  bool opened = false;
};

TEST_F(PortIoTest, RecordsAreWrittenAndCompleted) {
  RecordingSvc& svc = NewSvc();
  Open({&svc});
  ASSERT_EQ(port_.PortOutputData("hello", 5, 0, &svc, 0, 1, 5), 0);
  ASSERT_EQ(port_.PortOutputData("", 0, 0, &svc, 0, 1, 6), 0);  // completes at once
  BSTR bytes = SysAllocStringByteLen("a\0b", 3);
  ASSERT_EQ(port_.PortOutputData(&bytes, 0, &svc, 0, 0, 7), 0);
  SysFreeString(bytes);
  BSTR empty = nullptr;
  ASSERT_EQ(port_.PortOutputData(&empty, 0, &svc, 0, 0, 8), 0);
  ASSERT_EQ(port_.PortOutputData("z", 1, 0, nullptr, 0, 0, 9), 0);  // no notification
  EXPECT_EQ(port_.PortOutputData(nullptr, 4, 0, &svc, 0, 0, 10), OPOSSVC_E_PORT_CALL);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, 4));
  ASSERT_TRUE(device_.WaitForWritten(9, kDeadline));
  EXPECT_EQ(device_.TakeWritten(), std::string("helloa\0bz", 9));
  std::vector<long> ids;
  for (const Notice& n : Of(svc, Notice::kComplete)) ids.push_back(n.a);
  EXPECT_EQ(ids, (std::vector<long>{5, 6, 7, 8}));
}

TEST_F(PortIoTest, ImmediateRecordsOvertakeQueuedOnes) {
  RecordingSvc& svc = NewSvc();
  Open({&svc});
  device_.SetWriteCapacity(1);
  // A is started (one byte out) and held by the stalled port.
  ASSERT_EQ(port_.PortOutputData("AA", 2, 0, &svc, 0, 0, 1), 0);
  ASSERT_TRUE(device_.WaitForWritten(1, kDeadline));
  ASSERT_EQ(port_.PortOutputData("B", 1, 0, &svc, 0, 0, 2), 0);
  ASSERT_EQ(port_.PortOutputData("C", 1, 0, &svc, 0, 0, 3), 0);
  ASSERT_EQ(port_.PortOutputData("I", 1, 0, &svc, 1, 0, 4), 0);
  ASSERT_EQ(port_.PortOutputData("J", 1, 0, &svc, 1, 0, 5), 0);
  device_.SetWriteCapacity(VirtualPort::kUnlimited);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, 5));
  EXPECT_EQ(device_.TakeWritten(), "AAIJBC");
  // Records without an error code time out without PortError.
  EXPECT_TRUE(Of(svc, Notice::kError).empty());
}

TEST_F(PortIoTest, TimedOutRecordReportsOnceAndCompletesWithIdZero) {
  RecordingSvc& svc = NewSvc();
  device_.SetCts(true);
  Open({&svc}, 1);
  device_.SetWriteCapacity(100);
  const std::string record(300, 'r');
  ASSERT_EQ(port_.PortOutputData(record.data(), record.size(), 111, &svc, 0, 1, 7), 0);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kError));
  // The record keeps timing out at the front; the error is not repeated.
  ASSERT_EQ(port_.PortOutputData("n", 1, 0, &svc, 0, 1, 8), 0);
  device_.SetWriteCapacity(VirtualPort::kUnlimited);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, 2));
  EXPECT_EQ(device_.TakeWritten(), record + "n");
  const std::vector<Notice> errors = Of(svc, Notice::kError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].a, 111);
  const std::vector<Notice> completes = Of(svc, Notice::kComplete);
  EXPECT_EQ(completes[0].a, 0);
  EXPECT_EQ(completes[1].a, 8);
}

TEST_F(PortIoTest, NotReadyRefusesOnlyFlowControlledRecords) {
  RecordingSvc& svc = NewSvc();
  Open({&svc}, 1);  // CTS off
  EXPECT_EQ(port_.PortOutputData("h", 1, 0, &svc, 0, 1, 1), OPOSSVC_E_NOT_READY);
  ASSERT_EQ(port_.PortOutputData("n", 1, 0, &svc, 0, 0, 2), 0);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete));
  EXPECT_EQ(device_.TakeWritten(), "n");  // written with flow control off
  EXPECT_EQ(Of(svc, Notice::kComplete)[0].a, 2);
}

TEST_F(PortIoTest, RecordWithoutHandshakeTakesTheHeldOnesAlong) {
  RecordingSvc& svc = NewSvc();
  device_.SetCts(true);
  Open({&svc}, 1);
  device_.SetWriteCapacity(0);
  ASSERT_EQ(port_.PortOutputData("H", 1, 0, &svc, 0, 1, 1), 0);
  device_.SetCts(false);  // the stalled record is now held back for the line
  ASSERT_EQ(port_.PortOutputData("N", 1, 0, &svc, 0, 0, 2), 0);
  device_.SetWriteCapacity(VirtualPort::kUnlimited);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kComplete, 2));
  EXPECT_EQ(device_.TakeWritten(), "HN");
  EXPECT_FALSE(device_.state().cts);
}

TEST_F(PortIoTest, ClearOutputOfOneServiceObjectKeepsTheOthers) {
  RecordingSvc& a = NewSvc();
  RecordingSvc& b = NewSvc();
  Open({&a, &b});
  device_.SetWriteCapacity(1);
  ASSERT_EQ(port_.PortOutputData("aaaa", 4, 0, &a, 0, 0, 1), 0);
  ASSERT_TRUE(device_.WaitForWritten(1, kDeadline));
  ASSERT_EQ(port_.PortOutputData("bbbb", 4, 0, &b, 0, 0, 2), 0);
  ASSERT_EQ(port_.PortOutputData("iiii", 4, 0, &a, 1, 0, 3), 0);
  EXPECT_EQ(port_.ClearOutputBuffer(nullptr), OPOSSVC_E_NO_SERVICE);
  ASSERT_EQ(port_.ClearOutputBuffer(&a), 0);
  EXPECT_EQ(port_.PortClose(&a), 0);  // nothing of A's left
  device_.SetWriteCapacity(VirtualPort::kUnlimited);
  ASSERT_TRUE(b.WaitForNotice(Notice::kComplete));
  EXPECT_EQ(device_.TakeWritten(), "abbbb");
  EXPECT_TRUE(Of(a, Notice::kComplete).empty());
}

TEST(PortIo, PowerReports) {
  const DWORD cts = MS_CTS_ON, dsr = MS_DSR_ON, both = MS_CTS_ON | MS_DSR_ON;
  struct Report {
    long newState, oldState;
  };
  struct Case {
    const char* what;
    DWORD handShake, hydra;
    int variant;
    DWORD initial;
    std::vector<DWORD> steps;
    std::vector<Report> expected;
  } cases[] = {
      {"mode 1", 1, 0, 0, both, {dsr, both, both}, {{0, 1}, {1, 0}}},
      {"mode 2 ignores CTS", 2, 0, 0, both, {dsr, 0, cts, both}, {{0, 1}, {1, 0}}},
      {"mode 3", 3, 0, 0, cts, {0, cts}, {{0, 1}, {1, 0}}},
      {"Hydra: DSR then CTS", 0, 1, 0, both, {0}, {{0, 1}, {0, 1}}},
      {"mode 0 reports nothing", 0, 0, 0, both, {0, both, cts}, {}},
      {"mode 4 reports nothing", 4, 0, 0, both, {0, both}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TwoClientsOnCom2 on({{"HandShake", c.handShake}, {"Hydra", c.hydra}}, c.initial, c.variant);
    ASSERT_TRUE(on.opened);
    const auto settle = [&on] {
      for (const char* s : {"1", "2"}) {
        const size_t before = on.a.Received().size();
        on.device.Send(s);
        ASSERT_TRUE(on.a.WaitForReceived(before + 1));
      }
    };
    settle();
    for (DWORD step : c.steps) {
      on.device.SetModemStatus(step);
      settle();
    }
    for (RecordingSvc* svc : {&on.a, &on.b}) {
      const std::vector<Notice> reports = Of(*svc, Notice::kPower);
      ASSERT_EQ(reports.size(), c.expected.size());
      for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].a, 2);
        EXPECT_EQ(reports[i].b, c.expected[i].newState);
        EXPECT_EQ(reports[i].c, c.expected[i].oldState);
      }
    }
    const Notice::Kind power = Notice::kPower;
    ExpectEachReachedAThenB(on.log, &on.a, &on.b, &power);
  }
}

TEST_F(PortIoTest, GetPowerStateReadsTheLines) {
  RecordingSvc& svc = NewSvc();
  device_.SetModemStatus(MS_CTS_ON);
  Open({&svc}, 1);
  EXPECT_EQ(port_.GetPowerState(1), 1);
  EXPECT_EQ(port_.GetPowerState(2), 0);
  EXPECT_EQ(port_.GetPowerState(3), 0);
  EXPECT_EQ(port_.GetPowerState(0), 0);
  device_.SetModemStatus(MS_DSR_ON);
  EXPECT_EQ(port_.GetPowerState(1), 0);
  EXPECT_EQ(port_.GetPowerState(2), 1);
  // Read as off: the input thread does not report that again; the next
  // change is reported against it.
  Settle(svc);
  device_.SetModemStatus(MS_CTS_ON);
  Settle(svc);
  const std::vector<Notice> reports = Of(svc, Notice::kPower);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().b, 1);
  EXPECT_EQ(reports.back().c, 0);
  for (const Notice& n : reports) EXPECT_FALSE(n.b == 0 && n.c == 1);
}

TEST(PortIo, LineErrorsReachEveryClientBeforeTheBytes) {
  for (DWORD error : {CE_FRAME, CE_RXPARITY, CE_OVERRUN, CE_BREAK}) {
    SCOPED_TRACE(error);
    TwoClientsOnCom2 on({{"Parity", 1}});  // parity errors are checked only with parity on
    ASSERT_TRUE(on.opened);
    on.device.InjectError(error);
    on.device.Send("12345");
    ASSERT_TRUE(on.b.WaitForReceived(5));
    for (RecordingSvc* svc : {&on.a, &on.b}) {
      const std::vector<Notice> notices = svc->Notices();
      ASSERT_GE(notices.size(), 2u);
      EXPECT_EQ(notices[0].kind, Notice::kError);
      EXPECT_EQ(notices[0].a, 0);
      EXPECT_EQ(notices[1].kind, Notice::kData);
      EXPECT_EQ(svc->Received(), "12345");
    }
  }
}

TEST_F(PortIoTest, EveryClientGetsEveryBlockOnceInOpenOrder) {
  NoticeLog& log = NewLog();
  RecordingSvc& a = NewSvc(&log);
  RecordingSvc& b = NewSvc(&log);
  // A scribbles over the block: B still gets it as read.
  a.on_data = [](RecordingSvc*, unsigned char* data, long length) {
    std::fill(data, data + length, 'X');
  };
  Open({&a, &b, &a});  // A twice: still one delivery per block
  const std::string sent = "The quick brown fox jumps over the lazy dog";
  for (char ch : sent) device_.Send(std::string(1, ch));
  ASSERT_TRUE(b.WaitForReceived(sent.size()));
  ASSERT_TRUE(a.WaitForReceived(sent.size()));
  EXPECT_EQ(a.Received(), sent);
  EXPECT_EQ(b.Received(), sent);
  ExpectEachReachedAThenB(log, &a, &b);
  EXPECT_EQ(port_.PortClose(&a), 0);
}

TEST_F(PortIoTest, PortCloseFromDataUpdate) {
  // Closed inside DataUpdate, opened again inside it or afterwards from the test.
  for (bool reopen_inside : {false, true}) {
    SCOPED_TRACE(reopen_inside ? "reopened inside" : "reopened after");
    RecordingSvc& svc = NewSvc();
    std::atomic<bool> first{true};
    std::promise<long> closed;
    svc.on_data = [&, reopen_inside](RecordingSvc* self, unsigned char*, long) {
      if (!first.exchange(false)) return;
      long result = port_.PortClose(self);
      if (reopen_inside) result = result * 1000 + port_.PortOpen(spec_.id().c_str(), self, 64, 0, 0);
      closed.set_value(result);
    };
    WriteDevice(registry_, spec_);
    const int opens_before = device_.open_count();
    ASSERT_EQ(port_.PortOpen(spec_.id().c_str(), &svc, 64, 0, 0), 0);
    device_.Send("x");
    std::future<long> result = closed.get_future();
    ASSERT_EQ(result.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    if (!reopen_inside) {
      EXPECT_EQ(device_.open_handles(), 0);
      ASSERT_EQ(port_.PortOpen(spec_.id().c_str(), &svc, 64, 0, 0), 0);
    }
    device_.Send("y");
    ASSERT_TRUE(svc.WaitForReceived(2));
    EXPECT_EQ(svc.Received(), "xy");  // once each: the old input thread ended
    EXPECT_EQ(device_.open_count(), opens_before + 2);
    EXPECT_EQ(device_.open_handles(), 1);
    EXPECT_EQ(port_.PortClose(&svc), 0);
    svc.on_data = nullptr;  // it refers to this round's locals
  }
}

TEST_F(PortIoTest, PortCloseFromOutputDataComplete) {
  RecordingSvc& svc = NewSvc();
  std::promise<long> closed;
  svc.on_complete = [this, &closed](RecordingSvc* self, long) {
    closed.set_value(port_.PortClose(self));
  };
  WriteDevice(registry_, spec_);
  ASSERT_EQ(port_.PortOpen(spec_.id().c_str(), &svc, 64, 0, 0), 0);
  ASSERT_EQ(port_.PortOutputData("bye", 3, 0, &svc, 0, 0, 1), 0);
  std::future<long> result = closed.get_future();
  ASSERT_EQ(result.wait_for(kDeadline), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  EXPECT_EQ(device_.open_handles(), 0);
  EXPECT_EQ(device_.TakeWritten(), "bye");
}

TEST_F(PortIoTest, UnplugThenReopen) {
  RecordingSvc& svc = NewSvc();
  device_.SetCts(true);
  Open({&svc}, 1);
  Settle(svc);
  device_.Unplug();
  // The lines are gone: reported off once.
  ASSERT_TRUE(svc.WaitForNotice(Notice::kPower));
  // A flow-controlled record times out with its single error.
  ASSERT_EQ(port_.PortOutputData("lost", 4, 111, &svc, 0, 1, 1), 0);
  ASSERT_TRUE(svc.WaitForNotice(Notice::kError));
  EXPECT_EQ(port_.PortClose(&svc), OPOSSVC_E_OUTPUT_PENDING);
  ASSERT_EQ(port_.ClearOutputBuffer(&svc), 0);
  ASSERT_EQ(port_.PortClose(&svc), 0);
  EXPECT_EQ(device_.open_handles(), 0);
  EXPECT_EQ(Of(svc, Notice::kError).size(), 1u);
  const std::vector<Notice> power = Of(svc, Notice::kPower);
  ASSERT_EQ(power.size(), 1u);
  EXPECT_EQ(power[0].b, 0);

  device_.Replug();
  RecordingSvc& again = NewSvc();
  ASSERT_EQ(port_.PortOpen(spec_.id().c_str(), &again, 64, 0, 0), 0);
  device_.Send("back");
  ASSERT_TRUE(again.WaitForReceived(4));
  EXPECT_EQ(again.Received(), "back");
  EXPECT_EQ(port_.ClearCommInputBuffer(), 0);
}

}  // namespace
}  // namespace opossvc::testing
