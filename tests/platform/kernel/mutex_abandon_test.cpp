// Threads, named mutexes, and mutexes abandoned by a dead thread or process.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/threads.h>

#include "tests/platform/kernel/sync_helpers.h"
#include "tests/support/child_process.h"
#include "tests/support/mutex_backing.h"

namespace {

using namespace opossvc::test;  // NOLINT: the helpers and wait results
using opossvc::test_support::ChildChecks;
using opossvc::test_support::ChildProcess;
using opossvc::test_support::MutexBackingExists;
using opossvc::test_support::StartMutexHolder;

std::string UniqueName(const char* what) {
  return std::string("opossvc-test-") + what + "-" + std::to_string(GetCurrentProcessId());
}

DWORD WINAPI TakeAndReturn(LPVOID mutex) {
  return WaitForSingleObject(static_cast<HANDLE>(mutex), kLong) == WAIT_OBJECT_0 ? 7 : 99;
}

DWORD WINAPI WaitForEvent(LPVOID event) {
  return WaitForSingleObject(static_cast<HANDLE>(event), kLong) == WAIT_OBJECT_0 ? 3 : 99;
}

TEST(ThreadTest, RunsOnlyAfterResumeAndItsHandleSignalsWithTheExitCode) {
  Handle go(CreateEventA(nullptr, TRUE, TRUE, nullptr));  // set: only the suspension holds it
  Handle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  Handle mine(CreateMutexA(nullptr, TRUE, nullptr));  // no other thread can take it
  Handle thread(CreateThread(nullptr, 0, &WaitForEvent, go.h, CREATE_SUSPENDED, nullptr));
  ASSERT_NE(thread.h, nullptr);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, DWORD{STILL_ACTIVE});
  EXPECT_EQ(WaitForSingleObject(thread, 50), kTimeout);  // must not run meanwhile
  std::thread waiter([&] {
    HANDLE set[] = {never, mine, thread};
    EXPECT_EQ(WaitForMultipleObjects(3, set, FALSE, kLong), kSignalled + 2);
  });
  EXPECT_EQ(ResumeThread(thread), 1u);
  waiter.join();
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 3u);
  EXPECT_TRUE(ReleaseMutex(mine));
}

// A mutex whose owner thread ends without releasing it is abandoned: the next
// waiter gets WAIT_ABANDONED and owns it, once; then it is an ordinary mutex.
TEST(AbandonTest, OwnerThreadEnds) {
  const std::string name = UniqueName("thread-abandon");
  struct Case {
    const char* what;
    const char* name;
    bool std_thread;  // a std::thread owner, then a wait-all on {event, mutex}
  } cases[] = {{"unnamed", nullptr, false},
               {"named", name.c_str(), false},
               {"std::thread, wait-all", nullptr, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Handle mutex(CreateMutexA(nullptr, FALSE, c.name));
    ASSERT_NE(mutex.h, nullptr);
    Handle event(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    HANDLE set[] = {event, mutex};
    if (c.std_thread) {
      std::thread([&] { ASSERT_EQ(WaitForSingleObject(mutex, 0), kSignalled); }).join();
      const DWORD all = WaitForMultipleObjects(2, set, TRUE, kLong);  // only the range is documented
      EXPECT_TRUE(all == kAbandoned || all == kAbandoned + 1) << all;
    } else {
      Handle owner(CreateThread(nullptr, 0, &TakeAndReturn, mutex.h, 0, nullptr));
      ASSERT_EQ(WaitForSingleObject(owner, kLong), kSignalled);
      DWORD code = 0;
      GetExitCodeThread(owner, &code);
      ASSERT_EQ(code, 7u);
      // The thread handle is signalled only after the mutex was abandoned.
      EXPECT_EQ(WaitForSingleObject(mutex, 0), kAbandoned);
    }
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), kSignalled);
    EXPECT_TRUE(ReleaseMutex(mutex));
  }
}

TEST(NamedMutexTest, CreateOpenOwnershipAndNameErrors) {
  const std::string name = UniqueName("names");
  HANDLE first = CreateMutexA(nullptr, TRUE, name.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SUCCESS});
  HANDLE second = CreateMutexA(nullptr, TRUE, name.c_str());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  HANDLE opened = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  // One object behind three handles; the second create did not take it again.
  EXPECT_TRUE(ReleaseMutex(opened));
  EXPECT_FAILS_WITH(ReleaseMutex(second), ERROR_NOT_OWNER);

  // The last close takes the name with it, owned or not.
  ASSERT_EQ(WaitForSingleObject(first, 0), kSignalled);
  for (HANDLE h : {first, second, opened}) CloseHandle(h);
  EXPECT_FALSE(MutexBackingExists(name));

  EXPECT_FAILS_WITH(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()), ERROR_FILE_NOT_FOUND);
  EXPECT_FAILS_WITH(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, std::string(MAX_PATH + 1, 'x').c_str()),
                    ERROR_FILENAME_EXCED_RANGE);
}

// A process killed while owning the mutex: a process that still holds a
// handle hears WAIT_ABANDONED; when the killed one held the last handle, the
// mutex and its name went with it, whoever comes next.
TEST(NamedMutexTest, OwnerProcessKilled) {
  const std::string name = UniqueName("process-abandon");
  struct Case {
    const char* what;
    bool held;   // this process holds a handle while the owner dies
    bool mixed;  // waiting for it together with an event
    bool open;   // afterwards opening the name (else creating it)
  } cases[] = {{"held, single wait", true, false, false},
               {"held, mixed wait", true, true, false},
               {"last holder, then open", false, false, true},
               {"last holder, then create", false, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HANDLE mutex = c.held ? CreateMutexA(nullptr, FALSE, name.c_str()) : nullptr;
    Handle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::unique_ptr<ChildProcess> owner = StartMutexHolder(name);
    ASSERT_NE(owner, nullptr);
    if (c.held) {
      // The child's ownership holds across processes.
      EXPECT_EQ(WaitForSingleObject(mutex, 0), kTimeout);
      std::atomic<DWORD> result{0};
      std::thread waiter([&] {
        HANDLE set[] = {never, mutex};
        result = c.mixed ? WaitForMultipleObjects(2, set, FALSE, kLong)
                         : WaitForSingleObject(mutex, kLong);
        if (result == kAbandoned || result == kAbandoned + 1) ReleaseMutex(mutex);
      });
      owner.reset();  // killed
      waiter.join();
      EXPECT_EQ(result.load(), kAbandoned + (c.mixed ? 1 : 0));
    } else {
      owner.reset();  // killed
      if (c.open) {
        EXPECT_FAILS_WITH(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()), ERROR_FILE_NOT_FOUND);
        EXPECT_FALSE(MutexBackingExists(name));
      }
      mutex = CreateMutexA(nullptr, FALSE, name.c_str());
      ASSERT_NE(mutex, nullptr);
      EXPECT_EQ(GetLastError(), DWORD{ERROR_SUCCESS});
    }
    // Abandonment is reported once; the mutex is an ordinary one again.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), kSignalled);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
    EXPECT_FALSE(MutexBackingExists(name));
  }
}

// A name whose killed last holder nobody reopens still gives its memory
// back: the first named mutex of any later process sweeps it away.
TEST(NamedMutexTest, LaterProcessesSweepNamesOfKilledLastHolders) {
  const std::string name = UniqueName("swept");
  ASSERT_NE(StartMutexHolder(name), nullptr);  // and killed at once
  EXPECT_EQ(opossvc::test_support::RunInChild([&](ChildChecks& checks) {
              HANDLE other = CreateMutexA(nullptr, FALSE, (name + "-other").c_str());
              checks.Expect(!MutexBackingExists(name), "not swept");
              checks.Expect(other != nullptr && CloseHandle(other), "no other mutex");
            }),
            "");
}

}  // namespace
