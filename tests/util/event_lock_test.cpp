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

std::string UniqueName(const char* what) {
  static std::atomic<int> counter{0};
  return std::string("opossvc-test-") + what + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

// EnterEventCS on another thread; its result is awaited with a deadline, and
// an abort event ends the wait if the deadline passes.
class Entrant {
 public:
  explicit Entrant(std::string name) : name_(std::move(name)), abort_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this] {
      void* lock = nullptr;
      long result = EnterEventCS(name_.c_str(), lock, abort_, abort_);
      bool left = result != 0 || LeaveEventCS(lock);
      std::lock_guard<std::mutex> guard(mutex_);
      result_ = left ? result : 99;
      done_.notify_all();
    });
  }
  ~Entrant() {
    SetEvent(abort_);
    thread_.join();
    CloseHandle(abort_);
  }

  // The result, or nothing if none came within the deadline.
  std::optional<long> Wait(std::chrono::seconds deadline = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> guard(mutex_);
    done_.wait_for(guard, deadline, [this] { return result_.has_value(); });
    return result_;
  }

 private:
  std::string name_;
  HANDLE abort_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::optional<long> result_;
  std::thread thread_;
};

TEST(EventLockTest, SecondEntrantWaitsForTheFirstToLeave) {
  std::string name = UniqueName("lock");
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  void* lock = nullptr;
  ASSERT_EQ(EnterEventCS(name.c_str(), lock, never, never), 0);
  ASSERT_NE(lock, nullptr);
  std::atomic<bool> left{false};
  std::atomic<long> second_result{-99};
  std::atomic<bool> order_kept{false};
  std::thread second([&] {
    void* mine = nullptr;
    second_result = EnterEventCS(name.c_str(), mine, never, never);
    order_kept = left.load();
    if (second_result == 0) LeaveEventCS(mine);
  });
  left = true;
  EXPECT_NE(LeaveEventCS(lock), 0);
  second.join();
  EXPECT_EQ(second_result, 0);
  EXPECT_TRUE(order_kept);
  CloseHandle(never);
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
    HANDLE first = CreateEventA(nullptr, TRUE, c.first_set, nullptr);
    HANDLE second = CreateEventA(nullptr, TRUE, c.second_set, nullptr);
    void* lock = reinterpret_cast<void*>(1);
    EXPECT_EQ(EnterEventCS(UniqueName("order").c_str(), lock, first, second), c.result);
    if (c.result == 0) {
      EXPECT_NE(lock, nullptr);
      EXPECT_NE(LeaveEventCS(lock), 0);
    } else {
      EXPECT_EQ(lock, nullptr);
    }
    CloseHandle(first);
    CloseHandle(second);
  }
}

TEST(EventLockTest, AbortEndsAWaitForAHeldLock) {
  std::string name = UniqueName("abort");
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE abort = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  void* held = nullptr;
  ASSERT_EQ(EnterEventCS(name.c_str(), held, never, never), 0);
  std::atomic<long> result{-99};
  void* waiter_lock = reinterpret_cast<void*>(1);
  std::thread waiter([&] { result = EnterEventCS(name.c_str(), waiter_lock, abort, never); });
  SetEvent(abort);
  waiter.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(waiter_lock, nullptr);
  EXPECT_NE(LeaveEventCS(held), 0);
  CloseHandle(abort);
  CloseHandle(never);
}

TEST(EventLockTest, FailedWaitsAndForeignLeaves) {
  void* lock = reinterpret_cast<void*>(1);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(EnterEventCS(UniqueName("bad").c_str(), lock, event, reinterpret_cast<void*>(0x5678)), 3);
  EXPECT_EQ(lock, nullptr);
  EXPECT_EQ(EnterEventCS(std::string(400, 'n').c_str(), lock, event, event), -1);
  EXPECT_EQ(lock, nullptr);

  ASSERT_EQ(EnterEventCS(UniqueName("foreign").c_str(), lock, event, event), 0);
  int foreign = -1;
  std::thread([&] { foreign = LeaveEventCS(lock); }).join();
  EXPECT_EQ(foreign, 0);
  EXPECT_NE(LeaveEventCS(lock), 0);  // the handle stayed open for its owner
  CloseHandle(event);
}

TEST(EventLockTest, ReentryNeedsAsManyLeaves) {
  std::string name = UniqueName("again");
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  void* outer = nullptr;
  void* inner = nullptr;
  ASSERT_EQ(EnterEventCS(name.c_str(), outer, event, event), 0);
  ASSERT_EQ(EnterEventCS(name.c_str(), inner, event, event), 0);
  EXPECT_NE(outer, inner);
  EXPECT_NE(LeaveEventCS(inner), 0);
  {
    Entrant other(name);
    EXPECT_FALSE(other.Wait(std::chrono::seconds(0)).has_value());  // still held once
    EXPECT_NE(LeaveEventCS(outer), 0);
    EXPECT_EQ(other.Wait(), 0);
  }
  CloseHandle(event);
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
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  ASSERT_EQ(ok, 1);
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
}

TEST(EventLockTest, LockAbandonedByADeadProcessIsReportedAndFreed) {
  std::string name = UniqueName("abandoned");
  KillChildHolding(name);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  void* lock = reinterpret_cast<void*>(1);
  EXPECT_EQ(EnterEventCS(name.c_str(), lock, event, event), -128);
  EXPECT_EQ(lock, nullptr);
  // Another thread can take the lock now: it was released, not left owned.
  Entrant other(name);
  EXPECT_EQ(other.Wait(), 0);
  CloseHandle(event);
}

TEST(EventLockTest, AbandonedAbortMutexIsReported) {
  std::string abort_name = UniqueName("abort-mutex");
  KillChildHolding(abort_name);
  HANDLE abort = CreateMutexA(nullptr, FALSE, abort_name.c_str());
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  void* lock = reinterpret_cast<void*>(1);
  EXPECT_EQ(EnterEventCS(UniqueName("lock").c_str(), lock, abort, never), -127);
  EXPECT_EQ(lock, nullptr);
  EXPECT_TRUE(ReleaseMutex(abort));  // the caller owns its abort mutex now
  CloseHandle(abort);
  CloseHandle(never);
}

}  // namespace
