// Ordering rules of the output queue: immediate records and demotion.
#include "portdrv/output_queue.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace opossvc::detail {
namespace {

TEST(OutputQueue, ImmediateRecordsGoAheadOfAllButABusyFront) {
  struct Case {
    const char* queued;  // normal records, in order
    bool frontBusy;      // the front record is being written or held after a time-out
    const char* expected;
  } cases[] = {
      {"ABC", true, "AIJBC"},  // behind the held record, in their own order
      {"ABC", false, "IJABC"},
      {"", true, "IJ"},  // nothing to stay in front of
  };
  for (const Case& c : cases) {
    OutputQueue q;
    for (const char* p = c.queued; *p; ++p) q.Append({.bytes = std::string(1, *p)});
    for (const char* p = "IJ"; *p; ++p) q.InsertImmediate({.bytes = std::string(1, *p)}, c.frontBusy);
    std::string order;
    for (size_t i = 0; i < q.size(); ++i) order += q.at(i).bytes;
    EXPECT_EQ(order, c.expected) << c.queued << " " << c.frontBusy;
  }
}

TEST(OutputQueue, DemotionStopsAtTheLastRecordWithoutHandshake) {
  struct Case {
    std::vector<LONG> handshakes, expected;
  } cases[] = {
      {{1, 0, 1, 0, 1}, {0, 0, 0, 0, 1}},
      {{1, 1, 1}, {1, 1, 1}},  // none without: nothing changes
  };
  for (const Case& c : cases) {
    OutputQueue q;
    for (LONG h : c.handshakes) q.Append({.handshake = h, .bytes = "x"});
    q.Demote();
    std::vector<LONG> after;
    for (size_t i = 0; i < q.size(); ++i) after.push_back(q.at(i).handshake);
    EXPECT_EQ(after, c.expected);
  }
}

}  // namespace
}  // namespace opossvc::detail
