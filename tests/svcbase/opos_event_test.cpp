#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/svcbase/svcbase_test_support.h"

namespace {

using Rec = svcbase_test::TestServiceObject::Event;

// Drains the queue through GetFirstData with removal.
std::vector<Rec> Drain(COposEvent& q) {
  std::vector<Rec> out;
  Rec r{};
  while (q.GetFirstData(&r.type, &r.d1, &r.d2, &r.d3, TRUE)) out.push_back(r);
  return out;
}

void Queue(COposEvent& q, const std::vector<Rec>& recs) {
  for (const Rec& r : recs) {
    q.QueueEvent(static_cast<long>(r.type), static_cast<long>(r.d1), static_cast<long>(r.d2),
                 static_cast<long>(r.d3));
  }
}

TEST(OposEventTest, QueueOrderPutsInputDataErrorsAtTheHead) {
  struct Case {
    const char* name;
    std::vector<Rec> queued;
    std::vector<Rec> taken;
  };
  const Case cases[] = {
      {"fifo", {{1, 1, 0, 0}, {4, 2, 0, 0}, {5, 3, 0, 0}}, {{1, 1, 0, 0}, {4, 2, 0, 0}, {5, 3, 0, 0}}},
      {"locus 3 error jumps",
       {{1, 1, 0, 0}, {4, 2, 0, 0}, {3, 111, 0, 3}},
       {{3, 111, 0, 3}, {1, 1, 0, 0}, {4, 2, 0, 0}}},
      {"later locus 3 error goes before the earlier one",
       {{1, 1, 0, 0}, {3, 111, 1, 3}, {3, 111, 2, 3}},
       {{3, 111, 2, 3}, {3, 111, 1, 3}, {1, 1, 0, 0}}},
      {"other loci and other types with 3 stay at the tail",
       {{1, 1, 0, 0}, {3, 111, 0, 1}, {3, 111, 0, 2}, {1, 2, 0, 3}, {2, 0, 0, 3}},
       {{1, 1, 0, 0}, {3, 111, 0, 1}, {3, 111, 0, 2}, {1, 2, 0, 3}, {2, 0, 0, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    COposEvent q;
    Queue(q, c.queued);
    EXPECT_EQ(q.GetSize(), static_cast<long>(c.queued.size()));
    EXPECT_THAT(Drain(q), ::testing::ElementsAreArray(c.taken));
  }
}

TEST(OposEventTest, RemovalsKeepTheOrderOfTheRest) {
  const std::vector<Rec> base = {{1, 1, 0, 0}, {2, 2, 0, 0}, {4, 3, 0, 0}, {2, 4, 0, 0}, {1, 5, 0, 0}};
  struct Case {
    const char* name;
    void (*op)(COposEvent&);
    std::vector<Rec> left;
  };
  const Case cases[] = {
      {"RemoveAll(0) empties", [](COposEvent& q) { q.RemoveAll(0); }, {}},
      {"RemoveAll(2) drops every direct I/O",
       [](COposEvent& q) { q.RemoveAll(2); },
       {{1, 1, 0, 0}, {4, 3, 0, 0}, {1, 5, 0, 0}}},
      {"RemoveAll of an absent type", [](COposEvent& q) { q.RemoveAll(5); }, base},
      {"RemoveFirstID(2) drops the first only",
       [](COposEvent& q) { q.RemoveFirstID(2); },
       {{1, 1, 0, 0}, {4, 3, 0, 0}, {2, 4, 0, 0}, {1, 5, 0, 0}}},
      {"RemoveFirstID of an absent type", [](COposEvent& q) { q.RemoveFirstID(3); }, base},
      {"RemoveAtZero drops the head",
       [](COposEvent& q) { q.RemoveAtZero(); },
       {{2, 2, 0, 0}, {4, 3, 0, 0}, {2, 4, 0, 0}, {1, 5, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    COposEvent q;
    Queue(q, base);
    c.op(q);
    EXPECT_THAT(Drain(q), ::testing::ElementsAreArray(c.left));
  }
}

TEST(OposEventTest, DirectIOLookupsFindTheFirstAndLeaveItQueued) {
  COposEvent q;
  // An empty queue answers without writing the outputs.
  q.RemoveAtZero();
  q.RemoveFirstID(1);
  const ULONG_PTR kUntouched = 0xABCD;
  Rec untouched{kUntouched, kUntouched, kUntouched, kUntouched};
  Rec r = untouched;
  EXPECT_EQ(q.GetFirstData(&r.type, &r.d1, &r.d2, &r.d3, TRUE), 0);
  EXPECT_EQ(q.GetDirectIOData(&r.type, &r.d1, &r.d2, &r.d3), 0);
  EXPECT_EQ(q.GetDirectIOIndex(), -1);
  EXPECT_EQ(q.GetSize(), 0);
  EXPECT_EQ(r, untouched);

  Queue(q, {{1, 1, 0, 0}, {4, 2, 0, 0}});
  EXPECT_EQ(q.GetDirectIOIndex(), -1);
  Queue(q, {{2, 7, 8, 9}, {2, 10, 11, 12}});
  EXPECT_EQ(q.GetDirectIOIndex(), 2);
  ASSERT_EQ(q.GetDirectIOData(&r.type, &r.d1, &r.d2, &r.d3), 1);
  EXPECT_EQ(r, (Rec{2, 7, 8, 9}));
  EXPECT_EQ(q.GetSize(), 4);

  // Reading the head without removal leaves it at the head.
  ASSERT_EQ(q.GetFirstData(&r.type, &r.d1, &r.d2, &r.d3, FALSE), 1);
  EXPECT_EQ(r, (Rec{1, 1, 0, 0}));
  EXPECT_EQ(q.GetSize(), 4);
}

TEST(OposEventTest, DataValuesKeepFullPointerWidth) {
  // A direct-I/O record carries the address of a BSTR variable.
  BSTR variable = nullptr;
  long address = reinterpret_cast<long>(&variable);
  COposEvent q;
  static_assert(sizeof(ULONG_PTR) == sizeof(void*));
  q.QueueEvent(2, -1, 0x7FFFFFFF, address);
  Rec r{};
  ASSERT_EQ(q.GetFirstData(&r.type, &r.d1, &r.d2, &r.d3, TRUE), 1);
  EXPECT_EQ(reinterpret_cast<BSTR*>(r.d3), &variable);
  EXPECT_EQ(static_cast<long>(r.d1), -1);
  EXPECT_EQ(r.d2, 0x7FFFFFFFu);
}

}  // namespace
