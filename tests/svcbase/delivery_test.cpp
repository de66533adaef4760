#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opossvc/svcbase.h>
#include <opossvc/testing/flags.h>

#include "tests/svcbase/svcbase_test_support.h"

namespace {

using opossvc::testing::SetFlag;
using svcbase_test::EventThread;
using svcbase_test::PumpFor;
using svcbase_test::PumpUntil;
using svcbase_test::ReadyForEvents;
using svcbase_test::TestServiceObject;
using Event = TestServiceObject::Event;

// The flags that decide delivery, as each case sets them before the event
// thread starts.
struct Flags {
  LONG device = 1, data_event = 1, freeze = 0, hold = 0, deliver = 1;
  LONG auto_disable = 0, auto_special = 0, dio_always = 0;
};

void Apply(TestServiceObject& so, const Flags& f) {
  so.m_bDeviceEnabled = f.device;
  so.m_bDataEventEnabled = f.data_event;
  so.m_bFreezeEvents = f.freeze;
  so.m_bHoldEvents = f.hold;
  so.m_bDeliverEvents = f.deliver;
  so.m_bAutoDisable = f.auto_disable;
  so.m_bAutoDisableSpecial = f.auto_special;
  so.m_bDirectIOAlways = f.dio_always;
}

// What happens to a record once the event thread has taken it.
enum class Outcome { kSent, kDropped, kWaits };

struct RuleCase {
  const char* name;
  long type;
  Flags flags;
  Outcome outcome;
};

Flags With(void (*edit)(Flags&)) {
  Flags f;
  edit(f);
  return f;
}

const RuleCase kRuleCases[] = {
    {"data, all enabled", 1, Flags{}, Outcome::kSent},
    {"data, device disabled", 1, With([](Flags& f) { f.device = 0; }), Outcome::kWaits},
    {"data, device disabled, auto-disable special", 1,
     With([](Flags& f) { f.device = 0, f.auto_disable = 1, f.auto_special = 1; }), Outcome::kSent},
    {"data, device disabled, auto-disable without special", 1,
     With([](Flags& f) { f.device = 0, f.auto_disable = 1; }), Outcome::kWaits},
    {"data, device disabled, special without auto-disable", 1,
     With([](Flags& f) { f.device = 0, f.auto_special = 1; }), Outcome::kWaits},
    {"data, data events disabled", 1, With([](Flags& f) { f.data_event = 0; }), Outcome::kWaits},
    {"data, auto-disable special still needs data events", 1,
     With([](Flags& f) { f.data_event = 0, f.auto_disable = 1, f.auto_special = 1; }),
     Outcome::kWaits},
    {"data, delivery off", 1, With([](Flags& f) { f.deliver = 0; }), Outcome::kWaits},
    {"data, frozen", 1, With([](Flags& f) { f.freeze = 1; }), Outcome::kWaits},
    {"data, held", 1, With([](Flags& f) { f.hold = 1; }), Outcome::kWaits},
    {"error, all enabled", 3, Flags{}, Outcome::kSent},
    {"error, device disabled despite auto-disable special", 3,
     With([](Flags& f) { f.device = 0, f.auto_disable = 1, f.auto_special = 1; }),
     Outcome::kWaits},
    {"error, data events disabled", 3, With([](Flags& f) { f.data_event = 0; }), Outcome::kWaits},
    {"error, delivery off", 3, With([](Flags& f) { f.deliver = 0; }), Outcome::kWaits},
    {"direct I/O, enables ignored", 2, With([](Flags& f) { f.device = 0, f.data_event = 0; }),
     Outcome::kSent},
    {"direct I/O, delivery off", 2, With([](Flags& f) { f.deliver = 0; }), Outcome::kDropped},
    {"direct I/O, delivery off, always", 2, With([](Flags& f) { f.deliver = 0, f.dio_always = 1; }),
     Outcome::kSent},
    {"direct I/O, frozen", 2, With([](Flags& f) { f.freeze = 1; }), Outcome::kWaits},
    // Nothing is taken while held, so the delivery flag is tested after.
    {"direct I/O, frozen with delivery off", 2, With([](Flags& f) { f.freeze = 1, f.deliver = 0; }),
     Outcome::kWaits},
    {"direct I/O, always, held with delivery off", 2,
     With([](Flags& f) { f.hold = 1, f.deliver = 0, f.dio_always = 1; }), Outcome::kWaits},
    {"output complete, device disabled", 4, With([](Flags& f) { f.device = 0, f.data_event = 0; }),
     Outcome::kSent},
    {"output complete, delivery off", 4, With([](Flags& f) { f.deliver = 0; }), Outcome::kDropped},
    {"output complete, held", 4, With([](Flags& f) { f.hold = 1; }), Outcome::kWaits},
    {"output complete, frozen with delivery off", 4,
     With([](Flags& f) { f.freeze = 1, f.deliver = 0; }), Outcome::kWaits},
    {"status update, all enabled", 5, Flags{}, Outcome::kSent},
    {"status update, delivery off", 5, With([](Flags& f) { f.deliver = 0; }), Outcome::kDropped},
    {"status update, frozen", 5, With([](Flags& f) { f.freeze = 1; }), Outcome::kWaits},
    {"unknown type", 9, Flags{}, Outcome::kDropped},
};

// Each case: queue the record, let the event thread take it (nothing is
// taken while held), check that it is sent at once, or is not sent while the
// flags stay; then open every gate, queue an output-complete sentinel, and
// check what arrived.
TEST(DeliveryTest, RulesOverFlagCombinations) {
  for (const RuleCase& c : kRuleCases) {
    SCOPED_TRACE(c.name);
    TestServiceObject so;
    so.answer = [](const Event&) { return 0; };
    ReadyForEvents(so);
    Apply(so, c.flags);
    // No third value: for direct I/O it would be a string variable's address.
    so.m_Event.QueueEvent(c.type, 10, 20, 0);
    const Event record{static_cast<ULONG_PTR>(c.type), 10, 20, 0};
    const Event sentinel{OPOS_EVENT_OUTPUTCOMPLETE, 99, 0, 0};

    EventThread thread(so);
    if (c.flags.freeze || c.flags.hold) {
      PumpFor(30);
      EXPECT_EQ(so.m_Event.GetSize(), 1) << "taken while held";
    } else {
      ASSERT_TRUE(PumpUntil([&] { return so.m_Event.GetSize() == 0; })) << "record never taken";
    }
    if (c.outcome == Outcome::kSent) {
      ASSERT_TRUE(PumpUntil([&] { return !so.events.empty(); }));
    } else {
      PumpFor(30);  // a few dozen polls of the event thread
      EXPECT_TRUE(so.events.empty()) << "sent although it should not be";
    }

    SetFlag(so.m_bFreezeEvents, 0);
    SetFlag(so.m_bHoldEvents, 0);
    SetFlag(so.m_bDeliverEvents, 1);
    SetFlag(so.m_bDeviceEnabled, 1);
    SetFlag(so.m_bDataEventEnabled, 1);
    so.m_Event.QueueEvent(OPOS_EVENT_OUTPUTCOMPLETE, 99, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !so.events.empty() && so.events.back() == sentinel; }));

    if (c.outcome == Outcome::kDropped) {
      EXPECT_THAT(so.events, ::testing::ElementsAre(sentinel));
    } else {
      EXPECT_THAT(so.events, ::testing::ElementsAre(record, sentinel));
    }
    EXPECT_EQ(thread.Stop(), 2u) << "dropped records count as taken";
  }
}

TEST(DeliveryTest, StatusUpdatesAreNotQueuedWhileDisabled) {
  TestServiceObject so;
  EXPECT_EQ(so.QueueEvent(OPOS_EVENT_STATUSUPDATE, 1, 0, 0), 0u);
  EXPECT_EQ(so.m_Event.GetSize(), 0);
  for (long type : {1L, 2L, 3L, 4L}) EXPECT_EQ(so.QueueEvent(type, 1, 0, 0), 0u);
  EXPECT_EQ(so.m_Event.GetSize(), 4);
  so.m_bDeviceEnabled = 1;
  so.QueueEvent(OPOS_EVENT_STATUSUPDATE, 1, 0, 0);
  EXPECT_EQ(so.m_Event.GetSize(), 5);
}

TEST(DeliveryTest, FrozenRecordsLeaveInQueueOrderOnceThawed) {
  TestServiceObject so;
  so.answer = [](const Event&) { return 0; };
  ReadyForEvents(so);
  so.m_bFreezeEvents = 1;
  for (long i = 1; i <= 3; ++i) so.QueueEvent(OPOS_EVENT_DATA, i, 0, 0);
  so.QueueEvent(OPOS_EVENT_ERROR, 111, 0, OPOS_EL_INPUT_DATA);

  EventThread thread(so);
  PumpFor(20);
  EXPECT_TRUE(so.events.empty());
  EXPECT_EQ(so.m_Event.GetSize(), 4) << "nothing is taken while frozen";
  SetFlag(so.m_bFreezeEvents, 0);
  ASSERT_TRUE(PumpUntil([&] { return so.events.size() == 4; }));
  EXPECT_THAT(so.events, ::testing::ElementsAre(Event{3, 111, 0, 3}, Event{1, 1, 0, 0},
                                                Event{1, 2, 0, 0}, Event{1, 3, 0, 0}));
  EXPECT_EQ(thread.Stop(), 4u);
}

TEST(DeliveryTest, AnswerOfOneRedeliversTheSameRecord) {
  TestServiceObject so;
  int answers_of_one = 2;
  so.answer = [&](const Event&) { return answers_of_one-- > 0 ? 1 : 0; };
  ReadyForEvents(so);
  so.QueueEvent(OPOS_EVENT_OUTPUTCOMPLETE, 7, 0, 0);
  so.QueueEvent(OPOS_EVENT_OUTPUTCOMPLETE, 8, 0, 0);

  EventThread thread(so);
  ASSERT_TRUE(PumpUntil([&] { return so.events.size() == 4; }));
  EXPECT_THAT(so.events, ::testing::ElementsAre(Event{4, 7, 0, 0}, Event{4, 7, 0, 0},
                                                Event{4, 7, 0, 0}, Event{4, 8, 0, 0}));
  EXPECT_EQ(thread.Stop(), 2u) << "a redelivered record is counted once";
}

TEST(DeliveryTest, RedeliveryWaitsForTheGatesAgain) {
  // The handler answers 1 and closes the gate: the repeat waits for it.
  TestServiceObject so;
  ReadyForEvents(so);
  so.answer = [&](const Event&) {
    if (so.events.size() > 1) return LRESULT{0};
    SetFlag(so.m_bHoldEvents, 1);
    return LRESULT{1};
  };
  so.QueueEvent(OPOS_EVENT_DATA, 5, 0, 0);

  EventThread thread(so);
  ASSERT_TRUE(PumpUntil([&] { return so.events.size() == 1; }));
  PumpFor(20);
  EXPECT_EQ(so.events.size(), 1u);
  SetFlag(so.m_bHoldEvents, 0);
  ASSERT_TRUE(PumpUntil([&] { return so.events.size() == 2; }));
  EXPECT_EQ(so.events[1], (Event{1, 5, 0, 0}));
  EXPECT_EQ(thread.Stop(), 1u);
}

TEST(DeliveryTest, DirectIOStringIsFreedAndClearedWhetherSentOrDropped) {
  for (LONG deliver : {1, 0}) {
    SCOPED_TRACE(deliver ? "sent" : "dropped");
    TestServiceObject so;
    ReadyForEvents(so);
    so.m_bDeliverEvents = deliver;
    BSTR seen = nullptr;
    BSTR variable = AllocSysString("payload");
    so.answer = [&](const Event& e) {
      if (e.d3 != 0) seen = *reinterpret_cast<BSTR*>(e.d3);
      return LRESULT{0};
    };
    so.QueueEvent(OPOS_EVENT_DIRECTIO, 1, 2, reinterpret_cast<long>(&variable));
    so.QueueEvent(OPOS_EVENT_DIRECTIO, 1, 2, 0);  // no string: nothing to free

    EventThread thread(so);
    ASSERT_TRUE(PumpUntil([&] { return so.m_Event.GetSize() == 0; }));
    EXPECT_EQ(thread.Stop(), 2u);
    // Once the record is done with, the string is gone (the leak checker
    // would report it otherwise) and the variable cannot free it twice.
    EXPECT_EQ(variable, nullptr);
    if (deliver) {
      EXPECT_NE(seen, nullptr) << "the handler sees the string";
    }
  }
}

TEST(DeliveryTest, ClosingEndsAWaitingLoopWithTheCount) {
  TestServiceObject so;
  ReadyForEvents(so);
  so.m_bDeviceEnabled = 0;
  so.QueueEvent(OPOS_EVENT_DATA, 1, 0, 0);  // waits: device disabled
  so.QueueEvent(OPOS_EVENT_DATA, 2, 0, 0);
  EventThread thread(so);
  ASSERT_TRUE(PumpUntil([&] { return so.m_Event.GetSize() == 1; }));
  EXPECT_EQ(thread.Stop(), 1u);
  EXPECT_TRUE(so.events.empty());
  EXPECT_EQ(so.m_Event.GetSize(), 1) << "records not taken stay queued";
}

TEST(DeliveryTest, NotOpenReturnsAtOnce) {
  TestServiceObject so;
  so.QueueEvent(OPOS_EVENT_DATA, 1, 0, 0);
  EXPECT_EQ(so.ProcessEvents(), 0u);
  EXPECT_EQ(so.m_Event.GetSize(), 1);
}

}  // namespace
