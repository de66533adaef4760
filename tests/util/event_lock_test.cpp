// EnterEventCS/LeaveEventCS: serialisation, abort objects, wait order and
// owners that die holding the lock.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <opossvc/util.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/sync.h>

namespace {

using std::chrono::milliseconds;

std::string UniqueName(const char* what) {
  static std::atomic<int> counter{0};
  return std::string("opossvc-test-") + what + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

struct Event {
  explicit Event(bool set = false) : handle(CreateEventA(nullptr, TRUE, set, nullptr)) {}
  ~Event() { CloseHandle(handle); }
  HANDLE handle;
};

// EnterEventCS on another thread, with its abort event as both abort
// objects (so an abort gives 2); the destructor aborts a wait still going.
class Entrant {
 public:
  explicit Entrant(std::string name) : name_(std::move(name)) {
    thread_ = std::thread([this] {
      void* lock = reinterpret_cast<void*>(1);
      long result = EnterEventCS(name_.c_str(), lock, abort_.handle, abort_.handle);
      bool consistent = result == 0 ? LeaveEventCS(lock) != 0 : lock == nullptr;
      std::lock_guard<std::mutex> guard(mutex_);
      result_ = consistent ? result : 99;
      done_.notify_all();
    });
  }
  ~Entrant() {
    Abort();
    thread_.join();
  }
  void Abort() { SetEvent(abort_.handle); }

  // The result, or nothing if none came within the deadline.
  std::optional<long> Wait(milliseconds deadline = milliseconds(20000)) {
    std::unique_lock<std::mutex> guard(mutex_);
    done_.wait_for(guard, deadline, [this] { return result_.has_value(); });
    return result_;
  }

 private:
  std::string name_;
  Event abort_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::optional<long> result_;  // guarded by mutex_
  std::thread thread_;
};

// The short waits below only check that nothing happens.
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
    EXPECT_FALSE(aborted.Wait(milliseconds(50)).has_value());
    aborted.Abort();
    EXPECT_EQ(aborted.Wait(), 2);
  }
  Entrant other(name);
  EXPECT_NE(LeaveEventCS(inner), 0);
  EXPECT_FALSE(other.Wait(milliseconds(50)).has_value());  // still held once
  EXPECT_NE(LeaveEventCS(outer), 0);
  EXPECT_EQ(other.Wait(), 0);
}

TEST(EventLockTest, AbortObjectsComeBeforeTheLock) {
  struct Case {
    const char* name;
    bool first_set;
    bool second_set;
    long result;
  } cases[] = {
      {"nothing set", false, false, 0},
      {"first set", true, false, 1},
      {"second set", false, true, 2},
      {"both set", true, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Event first(c.first_set), second(c.second_set);
    void* lock = reinterpret_cast<void*>(1);
    EXPECT_EQ(EnterEventCS(UniqueName("order").c_str(), lock, first.handle, second.handle), c.result);
    EXPECT_EQ(lock != nullptr, c.result == 0);
    if (c.result == 0) {
      EXPECT_NE(LeaveEventCS(lock), 0);
    }
  }
}

TEST(EventLockTest, FailedWaitsAndForeignLeaves) {
  void* lock = reinterpret_cast<void*>(1);
  Event event;
  EXPECT_EQ(EnterEventCS(UniqueName("bad").c_str(), lock, event.handle, reinterpret_cast<void*>(0x5678)), 3);
  EXPECT_EQ(lock, nullptr);
  EXPECT_EQ(EnterEventCS(std::string(400, 'n').c_str(), lock, event.handle, event.handle), -1);
  EXPECT_EQ(lock, nullptr);

  ASSERT_EQ(EnterEventCS(UniqueName("foreign").c_str(), lock, event.handle, event.handle), 0);
  int foreign = -1;
  std::thread([&] { foreign = LeaveEventCS(lock); }).join();
  EXPECT_EQ(foreign, 0);
  EXPECT_NE(LeaveEventCS(lock), 0);  // the handle stayed open for its owner
}

// A child process takes the named mutex `name`, reports that over a pipe and
// is then killed, so that it dies holding it.
void KillChildHolding(const std::string& name) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    char ok = WaitForSingleObject(mutex, INFINITE) == WAIT_OBJECT_0 ? 1 : 0;
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char ok = 0;
  const ssize_t got = read(ready[0], &ok, 1);
  close(ready[0]);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_EQ(got, 1);
  ASSERT_EQ(ok, 1);
}

TEST(EventLockTest, LockAbandonedByADeadProcessIsReportedAndFreed) {
  std::string name = UniqueName("abandoned");
  HANDLE holder = CreateMutexA(nullptr, FALSE, name.c_str());  // keeps the lock in being
  KillChildHolding(name);
  Event event;
  void* lock = reinterpret_cast<void*>(1);
  EXPECT_EQ(EnterEventCS(name.c_str(), lock, event.handle, event.handle), -128);
  EXPECT_EQ(lock, nullptr);
  // Another thread can take the lock now: it was released, not left owned.
  Entrant other(name);
  EXPECT_EQ(other.Wait(), 0);
  CloseHandle(holder);
}

TEST(EventLockTest, LockOfADeadLastHolderIsFree) {
  std::string name = UniqueName("gone");
  KillChildHolding(name);
  Event event;
  void* lock = nullptr;
  ASSERT_EQ(EnterEventCS(name.c_str(), lock, event.handle, event.handle), 0);
  EXPECT_NE(LeaveEventCS(lock), 0);
}

TEST(EventLockTest, AbandonedAbortMutexIsReported) {
  std::string abort_name = UniqueName("abort-mutex");
  HANDLE abort = CreateMutexA(nullptr, FALSE, abort_name.c_str());
  KillChildHolding(abort_name);
  Event never;
  void* lock = reinterpret_cast<void*>(1);
  EXPECT_EQ(EnterEventCS(UniqueName("lock").c_str(), lock, abort, never.handle), -127);
  EXPECT_EQ(lock, nullptr);
  EXPECT_TRUE(ReleaseMutex(abort));  // the caller owns its abort mutex now
  CloseHandle(abort);
}

}  // namespace
