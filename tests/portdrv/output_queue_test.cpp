// Ordering rules of the output queue: immediate records and demotion.
#include "portdrv/output_queue.h"

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace opossvc::detail {
namespace {

TEST(OutputQueue, ImmediateRecordsAndDemotion) {
  // The normal records queued, whether the front one is busy (being written, or held after a
  // time-out), and the order once I and J are inserted.
  std::tuple<const char*, bool, const char*> cases[] = {
      {"ABC", true, "AIJBC"},  // behind the held record, in their own order
      {"ABC", false, "IJABC"},
      {"", true, "IJ"},  // nothing to stay in front of
  };
  for (const auto& [queued, frontBusy, expected] : cases) {
    OutputQueue q;
    for (const char* p = queued; *p; ++p) q.Append({.bytes = std::string(1, *p)});
    for (const char* p = "IJ"; *p; ++p) q.InsertImmediate({.bytes = std::string(1, *p)}, frontBusy);
    std::string order;
    for (size_t i = 0; i < q.size(); ++i) order += q.at(i).bytes;
    EXPECT_EQ(order, expected) << queued << " " << frontBusy;
  }
  // Demotion stops at the last record without handshake.
  const std::pair<std::vector<LONG>, std::vector<LONG>> demotions[] = {
      {{1, 0, 1, 0, 1}, {0, 0, 0, 0, 1}}, {{1, 1, 1}, {1, 1, 1}},  // none without: nothing changes
  };
  for (const auto& [handshakes, demoted] : demotions) {
    OutputQueue q;
    for (LONG h : handshakes) q.Append({.handshake = h, .bytes = "x"});
    q.Demote();
    std::vector<LONG> after;
    for (size_t i = 0; i < q.size(); ++i) after.push_back(q.at(i).handshake);
    EXPECT_EQ(after, demoted);
  }
}

}  // namespace
}  // namespace opossvc::detail
