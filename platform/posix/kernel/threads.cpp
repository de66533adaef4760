// Threads: CreateThread and its waitable thread objects.
#include <opossvc/win32/threads.h>

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <memory>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/sync.h>

#include "platform/posix/kernel/handle_table.h"
#include "platform/posix/kernel/thread_state.h"
#include "platform/posix/kernel/wait.h"

namespace opossvc::detail {
namespace {

#define OPOSSVC_CURRENT_THREAD_PSEUDO_HANDLE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)))
#define OPOSSVC_CURRENT_PROCESS_PSEUDO_HANDLE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

// A thread started by CreateThread, signalled when it has ended.
class ThreadObject final : public Waitable {
 public:
  ThreadObject(bool suspended) : suspend_count_(suspended ? 1 : 0) {}

  bool Ready() override OPOSSVC_REQUIRES(g_wait_lock) { return ended_; }
  Grant Take() override OPOSSVC_REQUIRES(g_wait_lock) { return Grant::kSignaled; }

  // Runs on the new thread: reports its id, then waits for ResumeThread if
  // it was created suspended.
  void Started(DWORD thread_id) OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    thread_id_ = thread_id;
    started_.notify_all();
    while (suspend_count_ > 0) lock.WaitUntil(started_, std::nullopt);
  }

  // Runs on the creating thread until the new thread has reported its id.
  DWORD AwaitId() OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    while (thread_id_ == 0) lock.WaitUntil(started_, std::nullopt);
    return thread_id_;
  }

  void Ended(DWORD exit_code) OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    ended_ = true;
    exit_code_ = exit_code;
    WakeWaiters();
  }

  DWORD Resume() OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    DWORD previous = suspend_count_;
    if (suspend_count_ > 0 && --suspend_count_ == 0) started_.notify_all();
    return previous;
  }

  DWORD ExitCode() OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    return ended_ ? exit_code_ : STILL_ACTIVE;
  }

  DWORD ThreadId() OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    return thread_id_;
  }

  int priority() OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    return priority_;
  }
  void set_priority(int priority) OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    priority_ = priority;
  }

 private:
  std::condition_variable started_;  // thread id known, or resumed
  DWORD thread_id_ OPOSSVC_GUARDED_BY(g_wait_lock) = 0;
  DWORD suspend_count_ OPOSSVC_GUARDED_BY(g_wait_lock);
  bool ended_ OPOSSVC_GUARDED_BY(g_wait_lock) = false;
  DWORD exit_code_ OPOSSVC_GUARDED_BY(g_wait_lock) = 0;
  int priority_ OPOSSVC_GUARDED_BY(g_wait_lock) = THREAD_PRIORITY_NORMAL;
};

struct StartRecord {
  std::shared_ptr<ThreadObject> thread;
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
};

void* ThreadEntry(void* arg) {
  std::unique_ptr<StartRecord> start(static_cast<StartRecord*>(arg));
  start->thread->Started(CurrentThreadState().thread_id);
  DWORD exit_code = start->routine(start->parameter);
  // The handle is signalled only once the thread's windows and mutexes are
  // let go, so a waiter may rely on both.
  RunThreadExitCleanup();
  start->thread->Ended(exit_code);
  return nullptr;
}

bool IsValidPriority(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
      return true;
    default:
      return false;
  }
}

std::shared_ptr<ThreadObject> LookupThread(HANDLE handle) {
  std::shared_ptr<ThreadObject> thread = LookupHandleAs<ThreadObject>(handle);
  if (!thread) SetLastError(ERROR_INVALID_HANDLE);
  return thread;
}

}  // namespace
}  // namespace opossvc::detail

using opossvc::detail::LookupThread;
using opossvc::detail::ThreadObject;

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (lpStartAddress == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<ThreadObject>((dwCreationFlags & CREATE_SUSPENDED) != 0);
  auto start = std::make_unique<opossvc::detail::StartRecord>(
      opossvc::detail::StartRecord{thread, lpStartAddress, lpParameter});

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (dwStackSize != 0) {
    const SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
    const SIZE_T minimum = static_cast<SIZE_T>(PTHREAD_STACK_MIN);
    SIZE_T size = dwStackSize < minimum ? minimum : dwStackSize;
    size = (size + page - 1) / page * page;
    pthread_attr_setstacksize(&attr, size);
  }
  pthread_t id;
  int rc = pthread_create(&id, &attr, &opossvc::detail::ThreadEntry, start.get());
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_GEN_FAILURE);
    return nullptr;
  }
  start.release();  // the thread owns it now
  DWORD thread_id = thread->AwaitId();
  if (lpThreadId != nullptr) *lpThreadId = thread_id;
  return opossvc::detail::InsertHandle(std::move(thread));
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
  if (hThread == OPOSSVC_CURRENT_THREAD_PSEUDO_HANDLE) return 0;
  std::shared_ptr<ThreadObject> thread = LookupThread(hThread);
  return thread ? thread->Resume() : static_cast<DWORD>(-1);
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  if (lpExitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (hThread == OPOSSVC_CURRENT_THREAD_PSEUDO_HANDLE) {
    *lpExitCode = STILL_ACTIVE;
    return TRUE;
  }
  std::shared_ptr<ThreadObject> thread = LookupThread(hThread);
  if (!thread) return FALSE;
  *lpExitCode = thread->ExitCode();
  return TRUE;
}

DWORD WINAPI GetThreadId(HANDLE Thread) {
  if (Thread == OPOSSVC_CURRENT_THREAD_PSEUDO_HANDLE) return GetCurrentThreadId();
  std::shared_ptr<ThreadObject> thread = LookupThread(Thread);
  return thread ? thread->ThreadId() : 0;
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
  if (!opossvc::detail::IsValidPriority(nPriority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (hThread == OPOSSVC_CURRENT_THREAD_PSEUDO_HANDLE) return TRUE;
  std::shared_ptr<ThreadObject> thread = LookupThread(hThread);
  if (!thread) return FALSE;
  thread->set_priority(nPriority);
  return TRUE;
}

int WINAPI GetThreadPriority(HANDLE hThread) {
  if (hThread == OPOSSVC_CURRENT_THREAD_PSEUDO_HANDLE) return THREAD_PRIORITY_NORMAL;
  std::shared_ptr<ThreadObject> thread = LookupThread(hThread);
  return thread ? thread->priority() : THREAD_PRIORITY_ERROR_RETURN;
}

DWORD WINAPI GetCurrentThreadId(void) { return opossvc::detail::CurrentThreadState().thread_id; }

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

HANDLE WINAPI GetCurrentThread(void) { return OPOSSVC_CURRENT_THREAD_PSEUDO_HANDLE; }

HANDLE WINAPI GetCurrentProcess(void) { return OPOSSVC_CURRENT_PROCESS_PSEUDO_HANDLE; }
