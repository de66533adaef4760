// Writers killed with SIGKILL at random points: the registry store and the
// trace file stay whole, and every step a writer acknowledged before the
// kill is there afterwards.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/trace.h>
#include <opossvc/win32/registry.h>

#include "tests/support/child_process.h"
#include "tests/support/patience.h"

namespace opossvc::testing {
namespace {

using test_support::ChildChecks;
using test_support::ChildProcess;
using test_support::Pipe;

constexpr char kBase[] = "SOFTWARE\\Crash";

// Step n of the writer: most steps make key k<n> with a subkey and give it the value "d" =
// Payload(n); every third deletes the tree made two steps before. The payload's length and bytes
// follow from n, so a torn value shows; one in sixteen is over 64 KiB, so that it spans many pages
// of the store.
bool IsDelete(uint32_t n) { return n % 3 == 2; }
std::string KeyName(uint32_t n) { return std::string(kBase) + "\\k" + std::to_string(n); }
std::string Payload(uint32_t n) {
  const size_t size = (n * 7919u) % 6000u + 1u + (n % 16 == 0 ? 64u << 10 : 0u);
  std::string data(size, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + (n + i) % 26);
  return data;
}

void RunStep(TempRegistry& registry, uint32_t n) {
  if (IsDelete(n)) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, KeyName(n - 2).c_str());
  } else if (registry.CreateKey(HKEY_LOCAL_MACHINE, KeyName(n) + "\\sub") != ERROR_SUCCESS ||
             registry.SetValue(HKEY_LOCAL_MACHINE, KeyName(n), "d", REG_BINARY, Payload(n)) !=
                 ERROR_SUCCESS) {
    _exit(4);
  }
}

// What each step left of its key: made, deleted, or (under way at a kill) either.
enum class Known { kMade, kDeleted, kBeingMade, kBeingDeleted };

void Note(std::map<uint32_t, Known>& keys, uint32_t n, bool acknowledged) {
  if (IsDelete(n)) {
    Known& made = keys[n - 2];
    if (acknowledged || made != Known::kBeingMade) {  // a tree made in part stays either way
      made = acknowledged ? Known::kDeleted : Known::kBeingDeleted;
    }
  } else {
    keys[n] = acknowledged ? Known::kMade : Known::kBeingMade;
  }
}

// Every key an acknowledged step made is there, whole; none that one deleted is; a value is never
// torn and a tree never deleted in part.
void CheckStore(const TempRegistry& registry, const std::map<uint32_t, Known>& keys) {
  for (const auto& [n, known] : keys) {
    SCOPED_TRACE(KeyName(n));
    const bool exists = registry.KeyExists(HKEY_LOCAL_MACHINE, KeyName(n));
    ASSERT_FALSE(exists && known == Known::kDeleted) << "deleted key back";
    ASSERT_TRUE(exists || known != Known::kMade) << "acknowledged key missing";
    if (!exists) continue;
    const auto value = registry.GetValue(HKEY_LOCAL_MACHINE, KeyName(n), "d");
    ASSERT_TRUE(!value || *value == Payload(n)) << "torn value";
    if (known != Known::kBeingMade) {
      ASSERT_TRUE(value.has_value()) << "value lost";
      ASSERT_TRUE(registry.KeyExists(HKEY_LOCAL_MACHINE, KeyName(n) + "\\sub"))
          << "tree deleted in part";
    }
  }
}

// The child is killed after a random number of acknowledged steps, at a
// random moment of the step that follows.
void WaitRandomMoment(std::mt19937& random) {
  const auto until =
      std::chrono::steady_clock::now() +
      std::chrono::microseconds(std::uniform_int_distribution<int>(0, 1500)(random));
  while (std::chrono::steady_clock::now() < until) {
  }
}

TEST(CrashSafety, RegistryKeepsEveryAcknowledgedWriteAcrossKills) {
  constexpr int kKills = 150;
  TempRegistry registry;
  ASSERT_EQ(registry.CreateKey(HKEY_LOCAL_MACHINE, kBase), ERROR_SUCCESS);
  std::mt19937 random(20261206);
  std::map<uint32_t, Known> keys;
  uint32_t next = 0;  // the first step not yet acknowledged
  for (int round = 0; round < kKills; ++round) {
    Pipe acks;  // a byte after each step
    ChildProcess child([&acks, &registry, first = next](ChildChecks&) {
      acks.Writer();
      for (uint32_t n = first;; ++n) {
        RunStep(registry, n);
        acks.Send();
      }
    });
    acks.Reader();
    for (int wanted = std::uniform_int_distribution<int>(0, 6)(random); wanted > 0; --wanted) {
      ASSERT_TRUE(acks.Receive(kPatience)) << "writer died by itself in round " << round;
      Note(keys, next++, true);
    }
    WaitRandomMoment(random);
    child.Kill();
    while (acks.Receive()) Note(keys, next++, true);
    Note(keys, next++, false);
    CheckStore(registry, keys);
    if (HasFatalFailure()) return;
  }
  // The store is still fully usable for writing.
  EXPECT_EQ(registry.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\After"), ERROR_SUCCESS);
}

// The value of record n, long enough that a record spans several blocks,
// and its line in the file.
std::string RecordValue(uint32_t n) { return std::to_string(n) + ":" + std::string(n % 900, 'x'); }
const std::string kPrefix = "Crash.Rec:\"";
std::string Record(uint32_t n) { return kPrefix + RecordValue(n) + "\""; }

// Appends records from args[1] on to the trace file args[0] until killed, with a byte on the pipe
// args[2] after each.
OPOSSVC_CHILD_ROLE(TraceWriter) {
  Pipe acks(args[2]);
  CStdioFile* trace = OpenTrace(args[0].c_str());
  if (trace == nullptr) _exit(6);
  for (auto n = static_cast<uint32_t>(std::stoul(args[1]));; ++n) {
    const std::string value = RecordValue(n);
    OnGetProp(trace, "Crash", "Rec", value.c_str(), 0);
    acks.Send();
  }
}

TEST(CrashSafety, TraceFileHasNoTornRecordsAcrossKills) {
  constexpr int kKills = 50;
  TempRegistry registry;
  const std::string path =
      ::testing::TempDir() + "opossvc-crash-" + std::to_string(getpid()) + ".log";
  std::remove(path.c_str());
  std::mt19937 random(1206);
  std::vector<uint32_t> acknowledged;
  std::set<uint32_t> in_flight;  // records under way at a kill
  uint32_t next = 0;
  for (int round = 0; round < kKills; ++round) {
    Pipe acks;  // a byte after each record
    ChildProcess child("TraceWriter", {path, std::to_string(next), acks.WriteEnd()});
    acks.Reader();
    for (int wanted = std::uniform_int_distribution<int>(1, 8)(random); wanted > 0; --wanted) {
      ASSERT_TRUE(acks.Receive(kPatience)) << "trace writer died by itself in round " << round
                                           << " (the file stayed locked?)";
      acknowledged.push_back(next++);
    }
    WaitRandomMoment(random);
    child.Kill();
    while (acks.Receive()) acknowledged.push_back(next++);
    in_flight.insert(next++);  // the record under way may be there or not
  }

  // Every line a whole record and the acknowledged ones all there, in
  // order. A kill can cut a record's write short; the next writer then starts
  // a new line. So a torn line is only ever the start of a record that was
  // under way at a kill.
  auto cut_by_a_kill = [&](const std::string& line) {
    for (uint32_t n : in_flight) {
      if (Record(n).rfind(line, 0) == 0) return true;
    }
    return false;
  };
  std::ifstream in(path, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::remove(path.c_str());
  std::vector<uint32_t> records;
  for (size_t start = 0; start < file.size();) {
    const size_t end = file.find("\r\n", start);
    const std::string line = file.substr(start, end == std::string::npos ? end : end - start);
    start = end == std::string::npos ? file.size() : end + 2;
    const char* number = line.c_str() + std::min(line.size(), kPrefix.size());
    const auto n = static_cast<uint32_t>(std::strtoul(number, nullptr, 10));
    if (line == Record(n)) {
      records.push_back(n);
    } else {
      ASSERT_TRUE(cut_by_a_kill(line)) << "torn line: " << line.substr(0, 60);
    }
  }
  size_t at = 0;
  for (uint32_t n : acknowledged) {
    while (at < records.size() && records[at] != n) ++at;
    ASSERT_LT(at, records.size()) << "acknowledged record " << n << " missing or out of order";
  }
}

}  // namespace
}  // namespace opossvc::testing
