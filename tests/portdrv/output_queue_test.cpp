// Ordering rules of the output queue: immediate records and demotion.
#include "portdrv/output_queue.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace opossvc::detail {
namespace {

CSvcBase* const kA = reinterpret_cast<CSvcBase*>(0x10);

OutputRecord Record(const std::string& name, LONG handshake = 1, CSvcBase* svc = kA) {
  OutputRecord r;
  r.svc = svc;
  r.handshake = handshake;
  r.bytes = name;
  return r;
}

std::string Order(const OutputQueue& q) {
  std::string order;
  for (size_t i = 0; i < q.size(); ++i) order += q.at(i).bytes;
  return order;
}

TEST(OutputQueue, ImmediateRecordsOrder) {
  struct Case {
    const char* queued;    // normal records, in order
    bool frontBusy;        // the front record is being written or held after a time-out
    const char* immediates;
    const char* expected;
  } cases[] = {
      {"ABC", true, "IJ", "AIJBC"},  // behind the held record, in their own order
      {"ABC", false, "IJ", "IJABC"},
      {"", false, "I", "I"},
      {"", true, "I", "I"},          // nothing to stay in front of
      {"A", true, "I", "AI"},
  };
  for (const Case& c : cases) {
    OutputQueue q;
    for (const char* p = c.queued; *p; ++p) q.Append(Record(std::string(1, *p)));
    for (const char* p = c.immediates; *p; ++p) {
      q.InsertImmediate(Record(std::string(1, *p)), c.frontBusy);
    }
    EXPECT_EQ(Order(q), c.expected) << c.queued << "+" << c.immediates;
  }
}

TEST(OutputQueue, DemotionStopsAtTheLastRecordWithoutHandshake) {
  struct Case {
    std::vector<LONG> handshakes;
    std::vector<LONG> expected;
  } cases[] = {
      {{1, 1, 0, 1}, {0, 0, 0, 1}},
      {{1, 1, 1}, {1, 1, 1}},  // none without: nothing changes
      {{0, 1, 1}, {0, 1, 1}},
      {{1, 0, 1, 0, 1}, {0, 0, 0, 0, 1}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    OutputQueue q;
    for (LONG h : c.handshakes) q.Append(Record("x", h));
    q.Demote();
    for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(q.at(i).handshake, c.expected[i]);
  }
}

}  // namespace
}  // namespace opossvc::detail
