// Writers killed with SIGKILL at random points: the registry store and the
// trace file stay whole, and every step a writer acknowledged before the
// kill is there afterwards.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
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

// Step n of the writer: most steps create key k<n> with a subkey and give it
// the value "d" = Payload(n); every third deletes the tree made two steps
// before. The payload's length and bytes follow from n, so a torn value shows.
bool IsDelete(uint32_t n) { return n % 3 == 2; }
std::string KeyName(uint32_t n) { return std::string(kBase) + "\\k" + std::to_string(n); }
std::string Payload(uint32_t n) {
  std::string data((n * 7919u) % 6000u + 1u, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + (n + i) % 26);
  return data;
}

void RunStep(uint32_t n) {
  if (IsDelete(n)) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, KeyName(n - 2).c_str());
    return;
  }
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (KeyName(n) + "\\sub").c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS ||
      RegCloseKey(key) != ERROR_SUCCESS ||
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyName(n).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    _exit(4);
  }
  const std::string data = Payload(n);
  if (RegSetValueExA(key, "d", 0, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()),
                     static_cast<DWORD>(data.size())) != ERROR_SUCCESS) {
    _exit(5);
  }
  RegCloseKey(key);
}

enum class Known { kPresent, kAbsent, kEither };

// What the store must hold for each key, after step n was acknowledged or
// was under way at a kill (and so may or may not have happened).
void Note(std::map<uint32_t, Known>& keys, uint32_t n, bool acknowledged) {
  if (IsDelete(n)) {
    keys[n - 2] = acknowledged ? Known::kAbsent : Known::kEither;
  } else {
    keys[n] = acknowledged ? Known::kPresent : Known::kEither;
  }
}

// Reads the whole tree below kBase through the registry calls, checking
// every value on the way; the names of the keys found.
std::set<uint32_t> ReadBack(std::vector<std::string>* problems) {
  std::set<uint32_t> found;
  HKEY base = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBase, 0, KEY_READ, &base) != ERROR_SUCCESS) {
    return found;
  }
  for (DWORD index = 0;; ++index) {
    char name[64];
    DWORD length = sizeof(name);
    const LONG result =
        RegEnumKeyExA(base, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) {
      problems->push_back("enumeration failed: " + std::to_string(result));
      break;
    }
    const uint32_t n = static_cast<uint32_t>(std::stoul(name + 1));
    found.insert(n);
    HKEY key = nullptr;
    if (RegOpenKeyExA(base, name, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      problems->push_back(std::string("cannot open ") + name);
      continue;
    }
    HKEY sub = nullptr;
    if (RegOpenKeyExA(key, "sub", 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      RegCloseKey(sub);
    } else {
      problems->push_back(std::string("tree deleted in part: ") + name);
    }
    DWORD type = 0, size = 0;
    const LONG sized = RegQueryValueExA(key, "d", nullptr, &type, nullptr, &size);
    if (sized == ERROR_SUCCESS) {
      std::string data(size, '\0');
      RegQueryValueExA(key, "d", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
      if (type != REG_BINARY || data != Payload(n)) {
        problems->push_back(std::string("torn value in ") + name);
      }
    } else if (sized != ERROR_FILE_NOT_FOUND) {
      problems->push_back(std::string("value unreadable in ") + name);
    }
    RegCloseKey(key);
  }
  RegCloseKey(base);
  return found;
}

// The store must hold every key an acknowledged step made and none that one
// deleted; keys no step made must not exist.
void CheckStore(const std::map<uint32_t, Known>& keys) {
  std::vector<std::string> problems;
  const std::set<uint32_t> found = ReadBack(&problems);
  for (const auto& [n, known] : keys) {
    if (known == Known::kPresent && found.count(n) == 0) {
      problems.push_back("acknowledged key k" + std::to_string(n) + " missing");
    }
    if (known == Known::kAbsent && found.count(n) != 0) {
      problems.push_back("deleted key k" + std::to_string(n) + " back");
    }
  }
  for (uint32_t n : found) {
    if (keys.count(n) == 0) {
      problems.push_back("unexpected key k" + std::to_string(n));
    }
  }
  ASSERT_TRUE(problems.empty()) << problems.front() << " (" << problems.size() << " problems)";
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
    ChildProcess child([&acks, first = next](ChildChecks&) {
      acks.Writer();
      for (uint32_t n = first;; ++n) {
        RunStep(n);
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
    CheckStore(keys);
    if (HasFatalFailure()) return;
  }
  // The store is still fully usable for writing.
  EXPECT_EQ(registry.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\After"), ERROR_SUCCESS);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The value of record n, long enough that a record spans several blocks,
// and its line in the file.
std::string RecordValue(uint32_t n) { return std::to_string(n) + ":" + std::string(n % 900, 'x'); }
const std::string kPrefix = "Crash.Rec:\"";
std::string Record(uint32_t n) { return kPrefix + RecordValue(n) + "\""; }

TEST(CrashSafety, TraceFileHasNoTornRecordsAcrossKills) {
  constexpr int kKills = 50;
  TempRegistry registry;
  const std::string path = registry.root() + "/crash.log";
  std::mt19937 random(1206);
  std::vector<uint32_t> acknowledged;
  std::set<uint32_t> in_flight;  // records under way at a kill
  uint32_t next = 0;
  for (int round = 0; round < kKills; ++round) {
    Pipe acks;  // a byte after each record
    ChildProcess child([&acks, &path, first = next](ChildChecks&) {
      acks.Writer();
      CStdioFile* trace = OpenTrace(path.c_str());
      if (trace == nullptr) _exit(6);
      for (uint32_t n = first;; ++n) {
        const std::string value = RecordValue(n);
        OnGetProp(trace, "Crash", "Rec", value.c_str(), 0);
        acks.Send();
      }
    });
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
  const std::string file = ReadFile(path);
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
