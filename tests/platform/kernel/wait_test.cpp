// Events, semaphores, unnamed mutexes, critical sections and the wait
// functions over mixed sets of them.
#include <gtest/gtest.h>

#include <thread>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/threads.h>

#include "tests/platform/kernel/sync_helpers.h"

namespace {

using namespace opossvc::test;  // NOLINT: the helpers and wait results

HANDLE ManualEvent(bool set) { return CreateEventA(nullptr, TRUE, set, nullptr); }
HANDLE AutoEvent(bool set) { return CreateEventA(nullptr, FALSE, set, nullptr); }

TEST(WaitTest, WaitAnyTakesLowestSignalledIndexOnly) {
  Handle a(AutoEvent(false));
  Handle b(AutoEvent(true));
  Handle c(AutoEvent(true));
  HANDLE set[] = {a, b, c};
  EXPECT_EQ(WaitForMultipleObjects(3, set, FALSE, 0), kSignalled + 1);
  // Only b was taken; c is still signalled.
  EXPECT_EQ(WaitForMultipleObjects(3, set, FALSE, 0), kSignalled + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, set, FALSE, 0), kTimeout);
}

TEST(WaitTest, WaitAllTakesEverythingOrNothing) {
  Handle event(AutoEvent(true));
  Handle semaphore(CreateSemaphoreA(nullptr, 1, 5, nullptr));
  Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
  Handle missing(ManualEvent(false));
  HANDLE partial[] = {event, semaphore, mutex, missing};
  EXPECT_EQ(WaitForMultipleObjects(4, partial, TRUE, 20), kTimeout);
  // Nothing was taken by the failed attempt.
  LONG previous = -1;
  ASSERT_TRUE(ReleaseSemaphore(semaphore, 1, &previous));
  EXPECT_EQ(previous, 1);
  EXPECT_FAILS_WITH(ReleaseMutex(mutex), ERROR_NOT_OWNER);

  // The wait completes when another thread signals the last object (and the
  // auto-reset event is still set).
  std::thread setter([&] { SetEvent(missing); });
  EXPECT_EQ(WaitForMultipleObjects(4, partial, TRUE, kLong), kSignalled);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(event, 0), kTimeout);
  ASSERT_TRUE(ReleaseSemaphore(semaphore, 1, &previous));
  EXPECT_EQ(previous, 1);  // 2 before the wait took one
  EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST(WaitTest, BadArgumentsFail) {
  Handle event(ManualEvent(true));
  HANDLE twice[] = {event, event}, none = nullptr;
  HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
  for (HANDLE& h : many) h = event;
  const struct {
    DWORD count;
    const HANDLE* handles;
    DWORD error;
  } cases[] = {{0, many, ERROR_INVALID_PARAMETER},
               {MAXIMUM_WAIT_OBJECTS + 1, many, ERROR_INVALID_PARAMETER},
               {1, &none, ERROR_INVALID_HANDLE}};
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, FALSE, 0), WAIT_FAILED) << c.count;
    EXPECT_EQ(GetLastError(), c.error) << c.count;
  }
  // A duplicate is fine when any one object will do.
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), kSignalled);
  // The running thread's pseudo handle is waitable; the thread is not done.
  EXPECT_EQ(WaitForSingleObject(GetCurrentThread(), 0), kTimeout);
}

TEST(MutexTest, RecursiveOwnershipAndForeignRelease) {
  Handle mutex(CreateMutexA(nullptr, TRUE, nullptr));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), kSignalled);
  std::thread([&] {
    EXPECT_EQ(WaitForSingleObject(mutex, 0), kTimeout);
    EXPECT_FAILS_WITH(ReleaseMutex(mutex), ERROR_NOT_OWNER);
  }).join();
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));  // owned twice
  EXPECT_FAILS_WITH(ReleaseMutex(mutex), ERROR_NOT_OWNER);
  std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex, 0), kSignalled); }).join();
}

// Whether another thread can enter the section right now (leaving it again).
bool OtherThreadCanEnter(CRITICAL_SECTION* cs) OPOSSVC_NO_THREAD_SAFETY_ANALYSIS {
  bool entered = false;
  std::thread([&] {
    if ((entered = TryEnterCriticalSection(cs))) LeaveCriticalSection(cs);
  }).join();
  return entered;
}

// Re-enters on purpose, which the thread-safety analysis cannot follow.
void CheckRecursiveAndExclusive() OPOSSVC_NO_THREAD_SAFETY_ANALYSIS {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  ASSERT_TRUE(TryEnterCriticalSection(&cs)) << "the owner could not enter again";
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(OtherThreadCanEnter(&cs)) << "one leave released a twice-entered section";
  LeaveCriticalSection(&cs);
  EXPECT_TRUE(OtherThreadCanEnter(&cs));
  DeleteCriticalSection(&cs);
}

TEST(CriticalSectionTest, RecursiveAndExclusive) { CheckRecursiveAndExclusive(); }

}  // namespace
