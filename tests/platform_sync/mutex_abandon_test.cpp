// Threads, named mutexes, and mutexes abandoned by a dead thread or process.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>

#include "platform/posix/mutex_object.h"
#include "platform/posix/named_objects.h"

namespace {

constexpr DWORD kLong = 10000;

std::string UniqueName(const char* what) {
  return std::string("opossvc-test-") + what + "-" + std::to_string(getpid());
}

// Removes the shared-memory backing of a named mutex that a killed process
// left behind.
void RemoveBacking(const std::string& name) {
  opossvc::detail::ObjectName parsed;
  ASSERT_TRUE(opossvc::detail::ParseObjectName(name.c_str(), &parsed));
  shm_unlink(opossvc::detail::SystemMutexShmName(parsed).c_str());
}

DWORD WINAPI TakeAndReturn(LPVOID mutex) {
  return WaitForSingleObject(static_cast<HANDLE>(mutex), kLong) == WAIT_OBJECT_0 ? 7 : 99;
}

DWORD WINAPI WaitForEvent(LPVOID event) {
  return WaitForSingleObject(static_cast<HANDLE>(event), kLong) == WAIT_OBJECT_0 ? 3 : 99;
}

TEST(ThreadTest, HandleSignalledWithExitCodeAfterTheThreadEnds) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &WaitForEvent, go, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(GetThreadId(thread), id);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(thread, kLong), static_cast<DWORD>(WAIT_OBJECT_0));
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 3u);
  // A thread object stays signalled: waiting does not consume it.
  EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(thread);
  CloseHandle(go);
}

TEST(ThreadTest, SuspendedThreadRunsOnlyAfterResume) {
  std::atomic<bool> ran{false};
  auto body = [](LPVOID flag) -> DWORD {
    static_cast<std::atomic<bool>*>(flag)->store(true);
    return 0;
  };
  HANDLE thread = CreateThread(nullptr, 0, body, &ran, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, kLong), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(ran.load());
  EXPECT_EQ(ResumeThread(thread), 0u);
  CloseHandle(thread);
}

TEST(ThreadTest, WaitAnyOverThreadEventAndMutex) {
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);  // we own it: others cannot take it
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, &WaitForEvent, go, 0, nullptr);
  std::thread waiter([&] {
    HANDLE set[] = {never, mutex, thread};
    EXPECT_EQ(WaitForMultipleObjects(3, set, FALSE, kLong), static_cast<DWORD>(WAIT_OBJECT_0 + 2));
  });
  SetEvent(go);
  waiter.join();
  ReleaseMutex(mutex);
  for (HANDLE h : {never, mutex, go, thread}) CloseHandle(h);
}

// A mutex whose owner thread ends without releasing it is abandoned: the
// next waiter gets WAIT_ABANDONED and owns it.
TEST(AbandonTest, OwnerThreadEnds) {
  const std::string name = UniqueName("thread-abandon");
  struct Case {
    const char* what;
    const char* name;
  } cases[] = {{"unnamed", nullptr}, {"named", name.c_str()}};
  for (const Case& c : cases) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, c.name);
    ASSERT_NE(mutex, nullptr) << c.what;
    HANDLE owner = CreateThread(nullptr, 0, &TakeAndReturn, mutex, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(owner, kLong), static_cast<DWORD>(WAIT_OBJECT_0)) << c.what;
    DWORD code = 0;
    GetExitCodeThread(owner, &code);
    ASSERT_EQ(code, 7u) << c.what;
    // The thread handle is signalled only once the mutex is free again.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_ABANDONED)) << c.what;
    EXPECT_TRUE(ReleaseMutex(mutex)) << c.what;
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << c.what;
    EXPECT_TRUE(ReleaseMutex(mutex)) << c.what;
    CloseHandle(owner);
    CloseHandle(mutex);
  }
}

TEST(AbandonTest, OwnerStdThreadEndsInsideAWaitAll) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  std::thread([&] {
    ASSERT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  }).join();
  HANDLE set[] = {event, mutex};
  EXPECT_EQ(WaitForMultipleObjects(2, set, TRUE, kLong), static_cast<DWORD>(WAIT_ABANDONED_0 + 1));
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(event);
  CloseHandle(mutex);
}

TEST(NamedMutexTest, CreateOpenAndNameErrors) {
  const std::string name = UniqueName("names");
  HANDLE first = CreateMutexA(nullptr, TRUE, name.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE second = CreateMutexA(nullptr, TRUE, name.c_str());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  HANDLE opened = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  // One object behind three handles; the second create did not take it again.
  EXPECT_TRUE(ReleaseMutex(opened));
  EXPECT_FALSE(ReleaseMutex(second));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));

  const std::string too_long(MAX_PATH + 1, 'x');
  const std::string event_name = UniqueName("event-not-mutex");
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, event_name.c_str());
  struct Case {
    const char* what;
    const char* name;
    DWORD error;
  } cases[] = {
      {"nobody created it", "opossvc-test-never-created", ERROR_FILE_NOT_FOUND},
      {"too long", too_long.c_str(), ERROR_FILENAME_EXCED_RANGE},
      {"backslash", "opossvc\\test", ERROR_PATH_NOT_FOUND},
      {"an event's name", event_name.c_str(), ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, c.name), nullptr) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  for (HANDLE h : {first, second, opened, event}) CloseHandle(h);
  // The last close let the name go.
  EXPECT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(NamedMutexTest, ClosingTheHandleDoesNotReleaseOwnership) {
  const std::string name = UniqueName("close-owned");
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
  CloseHandle(mutex);
  std::thread([&] {
    HANDLE again = CreateMutexA(nullptr, FALSE, name.c_str());
    EXPECT_EQ(WaitForSingleObject(again, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(again);
  }).join();
  HANDLE again = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(ReleaseMutex(again));
  CloseHandle(again);
}

// Forks a child that takes the named mutex and then waits to be killed.
pid_t ForkOwner(const std::string& name) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    char ok = (mutex != nullptr && WaitForSingleObject(mutex, 5000) == WAIT_OBJECT_0) ? 1 : 0;
    if (write(ready[1], &ok, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char ok = 0;
  ssize_t n = read(ready[0], &ok, 1);
  close(ready[0]);
  if (n != 1 || ok != 1) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
  }
  return child;
}

TEST(NamedMutexTest, OwnerProcessKilledAbandonsTheMutex) {
  const std::string name = UniqueName("process-abandon");
  struct Case {
    const char* what;
    bool mixed;  // wait together with an event, not alone
  } cases[] = {{"single wait", false}, {"mixed wait", true}};
  for (const Case& c : cases) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr) << c.what;
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    pid_t child = ForkOwner(name);
    ASSERT_GT(child, 0) << c.what;
    // The child's ownership holds across processes.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << c.what;
    std::atomic<DWORD> result{0};
    std::thread waiter([&] {
      HANDLE set[] = {never, mutex};
      result = c.mixed ? WaitForMultipleObjects(2, set, FALSE, kLong)
                       : WaitForSingleObject(mutex, kLong);
      if (result == WAIT_ABANDONED_0 || result == WAIT_ABANDONED_0 + 1) ReleaseMutex(mutex);
    });
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    waiter.join();
    EXPECT_EQ(result.load(), static_cast<DWORD>(WAIT_ABANDONED_0 + (c.mixed ? 1 : 0))) << c.what;
    // Abandonment is reported once; the mutex is an ordinary one again.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << c.what;
    EXPECT_TRUE(ReleaseMutex(mutex)) << c.what;
    CloseHandle(never);
    CloseHandle(mutex);
    RemoveBacking(name);  // the killed child's count keeps it otherwise
  }
}

}  // namespace
