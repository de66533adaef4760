#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opossvc/testing/flags.h>
#include <opossvc/testing/message_pump.h>

#include "tests/svcbase/svcbase_test_support.h"

namespace {

using opossvc::testing::SetFlag;
using opossvc::testing::MessagePump;
using svcbase_test::ReadyForEvents;
using svcbase_test::TestServiceObject;
using Event = TestServiceObject::Event;
using ::testing::ElementsAre;

// The flags that decide delivery, as each case sets them before the event
// thread starts.
struct Flags {
  LONG device = 1, data_event = 1, freeze = 0, hold = 0, deliver = 1;
  LONG auto_disable = 0, auto_special = 0, dio_always = 0;
};

// What happens to a record once the event thread has taken it.
enum class Outcome { kSent, kDropped, kWaits };

struct RuleCase {
  const char* name;
  long type;
  Flags flags;
  Outcome outcome;
};

// Nothing is taken while frozen or held (whatever the type), so a held
// record with delivery off waits rather than being dropped.
const RuleCase kRuleCases[] = {
    {"data, all enabled", 1, {}, Outcome::kSent},
    {"data, device disabled", 1, {.device = 0}, Outcome::kWaits},
    {"data, device disabled, auto-disable special", 1,
     {.device = 0, .auto_disable = 1, .auto_special = 1}, Outcome::kSent},
    {"data, auto-disable without special", 1, {.device = 0, .auto_disable = 1}, Outcome::kWaits},
    {"data, special without auto-disable", 1, {.device = 0, .auto_special = 1}, Outcome::kWaits},
    {"data, auto-disable special still needs data events", 1,
     {.data_event = 0, .auto_disable = 1, .auto_special = 1}, Outcome::kWaits},
    {"data, delivery off", 1, {.deliver = 0}, Outcome::kWaits},
    {"data, held", 1, {.hold = 1}, Outcome::kWaits},
    {"error, device disabled despite auto-disable special", 3,
     {.device = 0, .auto_disable = 1, .auto_special = 1}, Outcome::kWaits},
    {"direct I/O, enables ignored", 2, {.device = 0, .data_event = 0}, Outcome::kSent},
    {"direct I/O, delivery off", 2, {.deliver = 0}, Outcome::kDropped},
    {"direct I/O, delivery off, always", 2, {.deliver = 0, .dio_always = 1}, Outcome::kSent},
    {"direct I/O, frozen with delivery off", 2, {.freeze = 1, .deliver = 0}, Outcome::kWaits},
    {"output complete, device disabled", 4, {.device = 0, .data_event = 0}, Outcome::kSent},
    {"output complete, delivery off", 4, {.deliver = 0}, Outcome::kDropped},
    {"unknown type", 9, {}, Outcome::kDropped},
};

// Each case queues the record and a marker of an unknown type, which is
// dropped whatever the flags. The event thread takes the marker only once it
// has decided the record's fate, so every check below holds however slowly
// that thread runs. Then every gate opens (holds last, so that a record taken
// then sees the rest open) and an output-complete sentinel must follow.
TEST(DeliveryTest, RulesOverFlagCombinations) {
  constexpr long kMarker = 9;
  const Event sentinel{OPOS_EVENT_OUTPUTCOMPLETE, 99, 0, 0};
  for (const RuleCase& c : kRuleCases) {
    SCOPED_TRACE(c.name);
    TestServiceObject so;
    ReadyForEvents(so);
    const Flags& f = c.flags;
    so.m_bDeviceEnabled = f.device;
    so.m_bDataEventEnabled = f.data_event;
    so.m_bFreezeEvents = f.freeze;
    so.m_bHoldEvents = f.hold;
    so.m_bDeliverEvents = f.deliver;
    so.m_bAutoDisable = f.auto_disable;
    so.m_bAutoDisableSpecial = f.auto_special;
    so.m_bDirectIOAlways = f.dio_always;
    // No third value: for direct I/O it would be a string variable's address.
    so.m_Event.QueueEvent(c.type, 10, 20, 0);
    so.m_Event.QueueEvent(kMarker, 0, 0, 0);
    const Event record{static_cast<ULONG_PTR>(c.type), 10, 20, 0};

    opossvc::EventThread thread;

    ASSERT_TRUE(thread.Start(so));
    if (f.freeze || f.hold) {
      MessagePump::PumpUntil([] { return false; }, 30);
      EXPECT_EQ(so.m_Event.GetSize(), 2) << "taken while held";
    } else {
      // A waiting record keeps the marker queued.
      const long left = c.outcome == Outcome::kWaits ? 1 : 0;
      ASSERT_TRUE(MessagePump::PumpUntil([&] { return so.m_Event.GetSize() == left; }))
          << "record not taken, or not kept waiting";
      // A few dozen polls of the event thread.
      if (left) MessagePump::PumpUntil([] { return false; }, 30);
    }
    std::vector<Event> at_once;
    if (c.outcome == Outcome::kSent) at_once.push_back(record);
    EXPECT_EQ(so.events, at_once);

    SetFlag(so.m_bDeliverEvents, 1);
    SetFlag(so.m_bDeviceEnabled, 1);
    SetFlag(so.m_bDataEventEnabled, 1);
    SetFlag(so.m_bHoldEvents, 0);
    SetFlag(so.m_bFreezeEvents, 0);
    so.m_Event.QueueEvent(OPOS_EVENT_OUTPUTCOMPLETE, 99, 0, 0);
    ASSERT_TRUE(
        MessagePump::PumpUntil([&] { return !so.events.empty() && so.events.back() == sentinel; }));
    if (c.outcome == Outcome::kDropped) {
      EXPECT_THAT(so.events, ElementsAre(sentinel));
    } else {
      EXPECT_THAT(so.events, ElementsAre(record, sentinel));
    }
    EXPECT_EQ(thread.Stop(), 3u) << "dropped records count as taken";
  }
}

TEST(DeliveryTest, AnswerOfOneRedeliversTheSameRecordOnceTheGatesAreOpen) {
  // The first answer of 1 also holds events: the repeat waits for the release.
  TestServiceObject so;
  ReadyForEvents(so);
  so.answer = [&](const Event&) {
    if (so.events.size() == 1) SetFlag(so.m_bHoldEvents, 1);
    return LRESULT{so.events.size() <= 2 ? 1 : 0};
  };
  so.QueueEvent(OPOS_EVENT_DATA, 7, 0, 0);
  so.QueueEvent(OPOS_EVENT_DATA, 8, 0, 0);

  opossvc::EventThread thread;

  ASSERT_TRUE(thread.Start(so));
  ASSERT_TRUE(MessagePump::PumpUntil([&] { return so.events.size() == 1; }));
  MessagePump::PumpUntil([] { return false; }, 20);
  EXPECT_EQ(so.events.size(), 1u) << "repeated while held";
  SetFlag(so.m_bHoldEvents, 0);
  ASSERT_TRUE(MessagePump::PumpUntil([&] { return so.events.size() == 4; }));
  EXPECT_THAT(so.events, ElementsAre(Event{1, 7, 0, 0}, Event{1, 7, 0, 0}, Event{1, 7, 0, 0},
                                     Event{1, 8, 0, 0}));
  EXPECT_EQ(thread.Stop(), 2u) << "a redelivered record is counted once";
}

// Once a direct-I/O record is done with, whether sent, dropped or its handler
// raised (as when the control object fails the event method the handler
// calls), its string is freed (the leak checker tells) and the variable
// cleared, so that nothing can free it twice; delivery goes on after a raise.
TEST(DeliveryTest, DirectIOStringIsFreedAndClearedWhateverBecomesOfTheRecord) {
  enum Fate { kSent, kDropped, kRaised };
  for (Fate fate : {kSent, kDropped, kRaised}) {
    SCOPED_TRACE(fate);
    TestServiceObject so;
    ReadyForEvents(so);
    so.m_bDeliverEvents = fate != kDropped;
    BSTR seen = nullptr;
    BSTR variable = AllocSysString("payload");
    so.answer = [&](const Event& e) -> LRESULT {
      if (e.d3 == 0) return 0;
      seen = *reinterpret_cast<BSTR*>(e.d3);
      if (fate == kRaised) AfxThrowOleDispatchException(0, "cover open");
      return 0;
    };
    so.QueueEvent(OPOS_EVENT_DIRECTIO, 1, 2, reinterpret_cast<LONG_PTR>(&variable));
    so.QueueEvent(OPOS_EVENT_DIRECTIO, 1, 2, 0);  // no string: nothing to free
    opossvc::EventThread thread;
    ASSERT_TRUE(thread.Start(so));
    ASSERT_TRUE(MessagePump::PumpUntil([&] { return so.m_Event.GetSize() == 0; }));
    EXPECT_EQ(thread.Stop(), 2u);
    EXPECT_EQ(variable, nullptr);
    EXPECT_EQ(seen != nullptr, fate != kDropped) << "the handler sees the string";
    EXPECT_EQ(so.events.size(), fate == kDropped ? 0u : 2u);
  }
}

// An IdleSleep of INFINITE asks for no polling: a queued record is still
// taken at once, a flag change still takes effect, and closing ends every
// wait, the pause before a repeat included.
TEST(DeliveryTest, InfiniteIdleSleepStillDeliversAndEndsOnClosing) {
  const struct {
    const char* name;
    LONG device;     // 0: the record waits for the device, then it is enabled
    LRESULT answer;  // 1: the record waits for a repeat when closed
  } cases[] = {{"waiting for a record", 1, 0},
               {"waiting for the device", 0, 0},
               {"pausing before a repeat", 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestServiceObject so;
    ReadyForEvents(so);
    so.m_dwIdleSleep = INFINITE;
    so.m_bDeviceEnabled = c.device;
    so.answer = [&](const Event&) { return c.answer; };
    so.QueueEvent(OPOS_EVENT_DATA, 1, 0, 0);
    opossvc::EventThread thread;
    ASSERT_TRUE(thread.Start(so));
    ASSERT_TRUE(MessagePump::PumpUntil([&] { return so.m_Event.GetSize() == 0; }));
    if (!c.device) {
      SetFlag(so.m_bDeviceEnabled, 1);
    } else {
      // Taken and sent; the thread now waits on the empty queue.
      ASSERT_TRUE(MessagePump::PumpUntil([&] { return so.events.size() == 1; }));
    }
    so.QueueEvent(OPOS_EVENT_DATA, 2, 0, 0);
    const size_t sent = c.answer ? 1 : 2;
    const long left = c.answer ? 1 : 0;
    ASSERT_TRUE(MessagePump::PumpUntil(
        [&] { return so.events.size() == sent && so.m_Event.GetSize() == left; }));
    EXPECT_EQ(thread.Stop(), sent);
  }
}

// Status updates are not queued while disabled. ProcessEvents returns at
// once while not open, and clearing m_bOpened (here from the handler, on this
// thread) makes it return the records taken and leave the rest queued.
TEST(DeliveryTest, StatusUpdatesWaitForTheDeviceAndClosingEndsProcessing) {
  TestServiceObject disabled;
  for (long type : {5L, 1L, 2L, 3L, 4L}) EXPECT_EQ(disabled.QueueEvent(type, 1, 0, 0), 0u);
  EXPECT_EQ(disabled.ProcessEvents(), 0u) << "not open: returns at once";
  EXPECT_EQ(disabled.m_Event.GetSize(), 4);
  disabled.m_bDeviceEnabled = 1;
  disabled.QueueEvent(OPOS_EVENT_STATUSUPDATE, 1, 0, 0);
  EXPECT_EQ(disabled.m_Event.GetSize(), 5);

  TestServiceObject so;
  ReadyForEvents(so);
  so.answer = [&](const Event&) {
    so.m_bOpened = 0;
    return LRESULT{1};  // not repeated once closed
  };
  so.QueueEvent(OPOS_EVENT_DATA, 1, 0, 0);
  so.QueueEvent(OPOS_EVENT_DATA, 2, 0, 0);
  EXPECT_EQ(so.ProcessEvents(), 1u);
  EXPECT_EQ(so.events.size(), 1u);
  EXPECT_EQ(so.m_Event.GetSize(), 1);
}

// Closing from an event handler cannot wait for the event thread, which
// waits for that handler: the stop ends delivery at once and completes at
// the next Start. Stop drops what is left queued, freeing the string of a
// direct-I/O record as its delivery would have.
TEST(EventThreadTest, StopFromAHandlerCompletesAtTheNextStart) {
  TestServiceObject so;
  ReadyForEvents(so);
  opossvc::EventThread thread;
  so.answer = [&](const Event& e) {
    if (e.d1 == 1) {
      EXPECT_EQ(thread.Stop(), 0u);
    }
    return LRESULT{0};
  };
  BSTR variable = AllocSysString("payload");
  so.QueueEvent(OPOS_EVENT_DATA, 1, 0, 0);
  so.QueueEvent(OPOS_EVENT_DIRECTIO, 2, 0, reinterpret_cast<LONG_PTR>(&variable));
  ASSERT_TRUE(thread.Start(so));
  EXPECT_FALSE(thread.Start(so)) << "one open at a time";
  EXPECT_EQ(GetLastError(), DWORD{ERROR_BUSY});
  ASSERT_TRUE(MessagePump::PumpUntil([&] { return !so.events.empty(); }));
  EXPECT_EQ(so.m_Event.GetSize(), 0);
  EXPECT_EQ(variable, nullptr);
  ASSERT_TRUE(thread.Start(so));
  so.QueueEvent(OPOS_EVENT_DATA, 3, 0, 0);
  ASSERT_TRUE(MessagePump::PumpUntil([&] { return so.events.size() == 2; }));
  EXPECT_EQ(thread.Stop(), 1u);
  EXPECT_THAT(so.events, ElementsAre(Event{1, 1, 0, 0}, Event{1, 3, 0, 0}));
}

}  // namespace
