#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/svcbase/svcbase_test_support.h"

namespace {

using Rec = svcbase_test::TestServiceObject::Event;
using ::testing::ElementsAreArray;

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

// Input errors (type 3, locus 3 in the third value) go to the head, the
// latest first; everything else queues at the tail. Removals keep the order
// of the rest.
TEST(OposEventTest, InputDataErrorsGoToTheHeadAndRemovalsKeepTheOrder) {
  COposEvent errors;
  Queue(errors, {{1, 1, 0, 0}, {3, 111, 1, 3}, {3, 111, 0, 1}, {2, 0, 0, 3}, {3, 111, 2, 3}});
  EXPECT_EQ(errors.GetSize(), 5);
  EXPECT_THAT(Drain(errors),
              ElementsAreArray<Rec>(
                  {{3, 111, 2, 3}, {3, 111, 1, 3}, {1, 1, 0, 0}, {3, 111, 0, 1}, {2, 0, 0, 3}}));
  // Records of types 1 2 4 2 1, told apart by their first value 1..5.
  const std::tuple<const char*, void (*)(COposEvent&), std::vector<ULONG_PTR>> cases[] = {
      {"RemoveAll(0) empties", [](COposEvent& q) { q.RemoveAll(0); }, {}},
      {"RemoveAll(2)", [](COposEvent& q) { q.RemoveAll(2); }, {1, 3, 5}},
      {"RemoveFirstID(2)", [](COposEvent& q) { q.RemoveFirstID(2); }, {1, 3, 4, 5}},
      {"RemoveFirstID(3), absent", [](COposEvent& q) { q.RemoveFirstID(3); }, {1, 2, 3, 4, 5}},
      {"RemoveAtZero", [](COposEvent& q) { q.RemoveAtZero(); }, {2, 3, 4, 5}},
  };
  for (const auto& [name, op, kept] : cases) {
    SCOPED_TRACE(name);
    COposEvent q;
    Queue(q, {{1, 1, 0, 0}, {2, 2, 0, 0}, {4, 3, 0, 0}, {2, 4, 0, 0}, {1, 5, 0, 0}});
    op(q);
    std::vector<ULONG_PTR> left;
    for (const Rec& r : Drain(q)) left.push_back(r.d1);
    EXPECT_EQ(left, kept);
  }
}

}  // namespace
