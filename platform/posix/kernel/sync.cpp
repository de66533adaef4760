// Critical sections, events, semaphores, mutexes and the wait functions.
#include <opossvc/win32/sync.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

#include <opossvc/win32/errors.h>

#include "platform/posix/kernel/handle_table.h"
#include "platform/posix/kernel/mutex_object.h"
#include "platform/posix/kernel/named_objects.h"
#include "platform/posix/kernel/thread_state.h"
#include "platform/posix/kernel/wait.h"

namespace opossvc::detail {
namespace {

// ---- Critical sections --------------------------------------------------

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::Storage));
static_assert(alignof(pthread_mutex_t) <= 8);

pthread_mutex_t* CsMutex(LPCRITICAL_SECTION cs) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(cs->Storage));
}

// ---- Events -------------------------------------------------------------

class Event final : public Waitable {
 public:
  Event(bool manual_reset, bool signaled) : manual_reset_(manual_reset), signaled_(signaled) {}

  bool Ready() override OPOSSVC_REQUIRES(g_wait_lock) { return signaled_; }
  Grant Take() override OPOSSVC_REQUIRES(g_wait_lock) {
    if (!manual_reset_) signaled_ = false;
    return Grant::kSignaled;
  }

  void Set() OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    signaled_ = true;
    WakeWaiters();
  }
  void Reset() OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    signaled_ = false;
  }

 private:
  const bool manual_reset_;
  bool signaled_ OPOSSVC_GUARDED_BY(g_wait_lock);
};

// ---- Semaphores ---------------------------------------------------------

class Semaphore final : public Waitable {
 public:
  Semaphore(LONG count, LONG maximum) : count_(count), maximum_(maximum) {}

  bool Ready() override OPOSSVC_REQUIRES(g_wait_lock) { return count_ > 0; }
  Grant Take() override OPOSSVC_REQUIRES(g_wait_lock) {
    --count_;
    return Grant::kSignaled;
  }

  bool Release(LONG n, LONG* previous) OPOSSVC_EXCLUDES(g_wait_lock) {
    MutexLock lock(g_wait_lock);
    if (n > maximum_ - count_) {
      SetLastError(ERROR_TOO_MANY_POSTS);
      return false;
    }
    if (previous != nullptr) *previous = count_;
    count_ += n;
    WakeWaiters();
    return true;
  }

 private:
  LONG count_ OPOSSVC_GUARDED_BY(g_wait_lock);
  const LONG maximum_;
};

// ---- In-process mutexes -------------------------------------------------

class LocalMutex final : public MutexObject, public std::enable_shared_from_this<LocalMutex> {
 public:
  bool Ready() override OPOSSVC_REQUIRES(g_wait_lock) {
    return owner_ == 0 || owner_ == CurrentThreadSerial();
  }

  Grant Take() override OPOSSVC_REQUIRES(g_wait_lock) {
    const uint64_t self = CurrentThreadSerial();
    if (owner_ == self) {
      ++depth_;
      return Grant::kSignaled;
    }
    owner_ = self;
    depth_ = 1;
    CurrentThreadState().owned_mutexes.push_back(shared_from_this());
    bool abandoned = abandoned_;
    abandoned_ = false;
    return abandoned ? Grant::kAbandoned : Grant::kSignaled;
  }

  bool Release() override {
    {
      MutexLock lock(g_wait_lock);
      if (owner_ != CurrentThreadSerial()) {
        SetLastError(ERROR_NOT_OWNER);
        return false;
      }
      if (--depth_ > 0) return true;
      owner_ = 0;
      WakeWaiters();
    }
    ForgetOwnedMutex(this);
    return true;
  }

  void OnThreadExit() override {
    MutexLock lock(g_wait_lock);
    if (owner_ != CurrentThreadSerial()) return;
    owner_ = 0;
    depth_ = 0;
    abandoned_ = true;
    WakeWaiters();
  }

 private:
  uint64_t owner_ OPOSSVC_GUARDED_BY(g_wait_lock) = 0;  // thread serial, 0: free
  DWORD depth_ OPOSSVC_GUARDED_BY(g_wait_lock) = 0;
  bool abandoned_ OPOSSVC_GUARDED_BY(g_wait_lock) = false;
};

// ---- Helpers ------------------------------------------------------------

HANDLE Insert(std::shared_ptr<Waitable> object, bool existed) {
  HANDLE handle = InsertHandle(std::move(object));
  if (handle != nullptr) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

// Creates (make non-empty) or opens the named object of the given kind.
template <class T>
HANDLE CreateOrOpenNamed(LPCSTR name, const std::function<std::shared_ptr<Waitable>()>& make) {
  ObjectName parsed;
  if (!ParseObjectName(name, &parsed)) return nullptr;
  if (parsed.key.empty()) {
    if (!make) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    return Insert(make(), false);
  }
  bool existed = false;
  std::shared_ptr<Waitable> object = FindOrMakeNamed(parsed, &IsKind<T>, make, &existed);
  if (!object) return nullptr;
  return Insert(std::move(object), existed);
}

}  // namespace

std::shared_ptr<MutexObject> MakeLocalMutex(bool initially_owned) {
  auto mutex = std::make_shared<LocalMutex>();
  if (initially_owned) {
    MutexLock lock(g_wait_lock);
    mutex->Take();
  }
  return mutex;
}

}  // namespace opossvc::detail

using opossvc::detail::Event;
using opossvc::detail::LookupHandleAs;
using opossvc::detail::Semaphore;

// ---- Critical sections ----------------------------------------------------

VOID WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  *lpCriticalSection = CRITICAL_SECTION{};
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (lpCriticalSection->Storage) pthread_mutex_t, &attr);
  pthread_mutexattr_destroy(&attr);
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                  DWORD dwSpinCount) {
  InitializeCriticalSection(lpCriticalSection);
  return TRUE;
}

VOID WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
    OPOSSVC_NO_THREAD_SAFETY_ANALYSIS {
  pthread_mutex_lock(opossvc::detail::CsMutex(lpCriticalSection));
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
    OPOSSVC_NO_THREAD_SAFETY_ANALYSIS {
  return pthread_mutex_trylock(opossvc::detail::CsMutex(lpCriticalSection)) == 0;
}

VOID WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
    OPOSSVC_NO_THREAD_SAFETY_ANALYSIS {
  pthread_mutex_unlock(opossvc::detail::CsMutex(lpCriticalSection));
}

VOID WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutex_destroy(opossvc::detail::CsMutex(lpCriticalSection));
}

// ---- Events -----------------------------------------------------------------

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                           BOOL bInitialState, LPCSTR lpName) {
  return opossvc::detail::CreateOrOpenNamed<Event>(lpName, [&] {
    return std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE);
  });
}

HANDLE WINAPI OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  return opossvc::detail::CreateOrOpenNamed<Event>(lpName, nullptr);
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  std::shared_ptr<Event> event = LookupHandleAs<Event>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Set();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  std::shared_ptr<Event> event = LookupHandleAs<Event>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Reset();
  return TRUE;
}

// ---- Mutexes ----------------------------------------------------------------

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCSTR lpName) {
  using namespace opossvc::detail;
  ObjectName name;
  if (!ParseObjectName(lpName, &name)) return nullptr;
  if (name.key.empty()) return Insert(MakeLocalMutex(bInitialOwner != FALSE), false);
  bool created = false;
  bool existed = false;
  // Only the creator of the mutex takes it at creation, as on Win32.
  std::shared_ptr<Waitable> object = FindOrMakeNamed(
      name, &IsKind<MutexObject>,
      [&]() -> std::shared_ptr<Waitable> {
        return OpenSystemMutex(name, true, bInitialOwner != FALSE, &created);
      },
      &existed);
  if (!object) return nullptr;
  return Insert(std::move(object), !created);
}

HANDLE WINAPI OpenMutexA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  using namespace opossvc::detail;
  ObjectName name;
  if (!ParseObjectName(lpName, &name)) return nullptr;
  if (name.key.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool created = false;
  bool existed = false;
  std::shared_ptr<Waitable> object = FindOrMakeNamed(
      name, &IsKind<MutexObject>,
      [&]() -> std::shared_ptr<Waitable> { return OpenSystemMutex(name, false, false, &created); },
      &existed);
  if (!object) return nullptr;
  return Insert(std::move(object), false);
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  std::shared_ptr<opossvc::detail::MutexObject> mutex =
      LookupHandleAs<opossvc::detail::MutexObject>(hMutex);
  if (!mutex) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return mutex->Release() ? TRUE : FALSE;
}

// ---- Semaphores -------------------------------------------------------------

HANDLE WINAPI CreateSemaphoreA(LPSECURITY_ATTRIBUTES lpSemaphoreAttributes, LONG lInitialCount,
                               LONG lMaximumCount, LPCSTR lpName) {
  lInitialCount = opossvc::Long32(lInitialCount);
  lMaximumCount = opossvc::Long32(lMaximumCount);
  if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return opossvc::detail::CreateOrOpenNamed<Semaphore>(
      lpName, [&] { return std::make_shared<Semaphore>(lInitialCount, lMaximumCount); });
}

BOOL WINAPI ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount) {
  std::shared_ptr<Semaphore> semaphore = LookupHandleAs<Semaphore>(hSemaphore);
  if (!semaphore) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  lReleaseCount = opossvc::Long32(lReleaseCount);
  if (lReleaseCount <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return semaphore->Release(lReleaseCount, lpPreviousCount) ? TRUE : FALSE;
}

// ---- Waits ------------------------------------------------------------------

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds) {
  using namespace opossvc::detail;
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Waitable>> objects;
  if (!ResolveWaitHandles(lpHandles, nCount, &objects)) return WAIT_FAILED;
  if (bWaitAll) {
    for (size_t i = 0; i < objects.size(); ++i) {
      for (size_t j = 0; j < i; ++j) {
        if (objects[i] == objects[j]) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
      }
    }
  }
  return WaitForObjects(objects, bWaitAll != FALSE, dwMilliseconds);
}

VOID WINAPI Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  if (dwMilliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
