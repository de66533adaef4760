// EnterEventCS/LeaveEventCS: serialisation, abort objects, and holders that
// die holding the lock.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/util.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/sync.h>

#include "tests/support/child_process.h"
#include "tests/support/patience.h"

namespace {

using opossvc::test_support::ChildProcess;
using opossvc::test_support::Pipe;
using opossvc::test_support::StartMutexHolder;
using std::chrono::milliseconds;

std::string UniqueName(const char* what) {
  static std::atomic<int> counter{0};
  return std::string("opossvc-test-") + what + "-" + std::to_string(getpid()) + "-" +
         std::to_string(counter++);
}

struct Event {
  explicit Event(bool set = false) : handle(CreateEventA(nullptr, TRUE, set, nullptr)) {}
  ~Event() { CloseHandle(handle); }
  HANDLE handle;
};

// EnterEventCS on another thread, with its abort event as both abort
// objects (so an abort gives 2); 99 if the lock came back inconsistent.
// Destruction aborts a wait still going.
struct Entrant {
  explicit Entrant(const std::string& name)
      : result(std::async(std::launch::async, [this, name] {
          void* lock = reinterpret_cast<void*>(1);
          long r = EnterEventCS(name.c_str(), lock, abort.handle, abort.handle);
          return (r == 0 ? LeaveEventCS(lock) != 0 : lock == nullptr) ? r : 99L;
        })) {}
  ~Entrant() { SetEvent(abort.handle); }
  // Still waiting a moment later: only checks that nothing happens.
  bool Waiting() { return result.wait_for(milliseconds(50)) == std::future_status::timeout; }
  long Result() {
    return result.wait_for(milliseconds(20000)) == std::future_status::ready ? result.get() : -999;
  }

  Event abort;
  std::future<long> result;
};

TEST(EventLockTest, OthersWaitUntilEveryEntryIsLeftOrTheyAbort) {
  std::string name = UniqueName("held");
  Event never;
  void* outer = nullptr;
  void* inner = nullptr;
  ASSERT_EQ(EnterEventCS(name.c_str(), outer, never.handle, never.handle), 0);
  ASSERT_EQ(EnterEventCS(name.c_str(), inner, never.handle, never.handle), 0);
  EXPECT_NE(outer, inner);
  {
    Entrant aborted(name);
    EXPECT_TRUE(aborted.Waiting());
    SetEvent(aborted.abort.handle);
    EXPECT_EQ(aborted.Result(), 2);
  }
  Entrant other(name);
  EXPECT_NE(LeaveEventCS(inner), 0);
  EXPECT_TRUE(other.Waiting()) << "still held once";
  EXPECT_NE(LeaveEventCS(outer), 0);
  EXPECT_EQ(other.Result(), 0);
}

TEST(EventLockTest, AbortObjectsComeBeforeTheLockAndBadOnesFail) {
  const std::tuple<bool, bool, long> cases[] = {
      {false, false, 0}, {true, false, 1}, {true, true, 2}};
  for (const auto& [first_set, second_set, result] : cases) {
    Event first(first_set), second(second_set);
    void* lock = reinterpret_cast<void*>(1);
    EXPECT_EQ(EnterEventCS(UniqueName("order").c_str(), lock, first.handle, second.handle), result);
    EXPECT_EQ(lock != nullptr, result == 0);
    if (result == 0) {
      EXPECT_NE(LeaveEventCS(lock), 0);
    }
  }
  void* lock = reinterpret_cast<void*>(1);
  Event event;
  void* bogus = reinterpret_cast<void*>(0x5678);
  EXPECT_EQ(EnterEventCS(UniqueName("bad").c_str(), lock, event.handle, bogus), 3);
  EXPECT_EQ(lock, nullptr);
  EXPECT_EQ(EnterEventCS(std::string(400, 'n').c_str(), lock, event.handle, event.handle), -1);
  EXPECT_EQ(lock, nullptr);

  ASSERT_EQ(EnterEventCS(UniqueName("foreign").c_str(), lock, event.handle, event.handle), 0);
  int foreign = -1;
  std::thread([&] { foreign = LeaveEventCS(lock); }).join();
  EXPECT_EQ(foreign, 0);
  EXPECT_NE(LeaveEventCS(lock), 0) << "the handle stayed open for its owner";
}

// A lock, or an abort mutex, abandoned by a dead process is reported; the lock is freed, the
// abort mutex is the caller's.
TEST(EventLockTest, AbandonedLocksAndAbortMutexesAreReported) {
  std::string name = UniqueName("abandoned");
  HANDLE holder = CreateMutexA(nullptr, FALSE, name.c_str());  // keeps the lock in being
  ASSERT_NE(StartMutexHolder(name), nullptr);  // and killed at once
  Event event;
  void* lock = reinterpret_cast<void*>(1);
  EXPECT_EQ(EnterEventCS(name.c_str(), lock, event.handle, event.handle), -128);
  EXPECT_EQ(lock, nullptr);
  Entrant other(name);
  EXPECT_EQ(other.Result(), 0) << "released, not left owned";
  CloseHandle(holder);

  std::string abort_name = UniqueName("abort-mutex");
  HANDLE abort = CreateMutexA(nullptr, FALSE, abort_name.c_str());
  ASSERT_NE(StartMutexHolder(abort_name), nullptr);
  lock = reinterpret_cast<void*>(1);
  EXPECT_EQ(EnterEventCS(UniqueName("lock").c_str(), lock, abort, event.handle), -127);
  EXPECT_EQ(lock, nullptr);
  EXPECT_TRUE(ReleaseMutex(abort)) << "the caller owns its abort mutex now";
  CloseHandle(abort);
}

}  // namespace
