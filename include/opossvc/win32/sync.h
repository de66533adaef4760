// Critical sections, events, mutexes, semaphores and the wait functions.
//
// Critical sections are recursive in-process locks, as on Win32.
//
// Events, mutexes and semaphores are kernel objects behind HANDLEs (closed
// with CloseHandle). Named events and semaphores are shared within the
// process. Named mutexes are shared across processes: every process that
// creates or opens the same name reaches one system-wide lock. A "Global\"
// name prefix selects a namespace of its own; "Local\" and no prefix share
// one. Names are case-sensitive, at most MAX_PATH characters; objects of
// different kinds cannot share a name within a process (ERROR_INVALID_HANDLE).
// The lock behind a named mutex lives in POSIX shared memory created with
// mode 0666 less the umask, so processes of the same user (or of any user the
// umask admits) share it.
//
// Mutex ownership is per thread and recursive: the owner may wait again and
// must release as often. When the owning thread or process ends without
// releasing, the next thread to obtain the mutex gets WAIT_ABANDONED (or
// WAIT_ABANDONED_0 + i) and owns it. A closed handle does not release a
// mutex that its thread owns.
//
// Waits block; nothing spins. A named mutex released in another process
// raises no signal here, so a bounded wait on one, or a wait set that holds
// one among other objects, re-tries it at least every 10 ms; an unbounded
// wait on a named mutex alone blocks in the system's lock.
#ifndef OPOSSVC_WIN32_SYNC_H_
#define OPOSSVC_WIN32_SYNC_H_

#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/export.h>
#include <opossvc/thread_annotations.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/types.h>

#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_ABANDONED_0 0x00000080L
#define WAIT_IO_COMPLETION 0x000000C0L
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

#define SYNCHRONIZE 0x00100000L
#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS 0x1F0003
#define MUTEX_MODIFY_STATE 0x0001
#define MUTEX_ALL_ACCESS 0x1F0001
#define SEMAPHORE_MODIFY_STATE 0x0002
#define SEMAPHORE_ALL_ACCESS 0x1F0003

// A recursive in-process lock. The Win32 fields are kept for source
// compatibility only and stay zero; the lock lives in Storage. It is a
// thread-safety capability, so data can be marked OPOSSVC_GUARDED_BY a
// critical section; clang's analysis does not model recursion, so code that
// re-enters one on purpose opts out with OPOSSVC_NO_THREAD_SAFETY_ANALYSIS.
typedef struct OPOSSVC_CAPABILITY("mutex") _RTL_CRITICAL_SECTION {
  void* DebugInfo;
  LONG LockCount;
  LONG RecursionCount;
  HANDLE OwningThread;
  HANDLE LockSemaphore;
  ULONG_PTR SpinCount;
  alignas(8) unsigned char Storage[64];  // the lock itself
} CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION, RTL_CRITICAL_SECTION;

OPOSSVC_API VOID WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
OPOSSVC_API BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                              DWORD dwSpinCount);
OPOSSVC_API VOID WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
    OPOSSVC_ACQUIRE(*lpCriticalSection);
OPOSSVC_API BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
    OPOSSVC_TRY_ACQUIRE(TRUE, *lpCriticalSection);
OPOSSVC_API VOID WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
    OPOSSVC_RELEASE(*lpCriticalSection);
OPOSSVC_API VOID WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// Events. An auto-reset event releases one waiter per SetEvent and resets.
OPOSSVC_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                       BOOL bInitialState, LPCSTR lpName);
OPOSSVC_API HANDLE WINAPI OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
OPOSSVC_API BOOL WINAPI SetEvent(HANDLE hEvent);
OPOSSVC_API BOOL WINAPI ResetEvent(HANDLE hEvent);

// Mutexes. CreateMutexA of a name that exists opens it (bInitialOwner is
// then ignored) and sets ERROR_ALREADY_EXISTS; otherwise the last error is
// ERROR_SUCCESS. ReleaseMutex by a thread that does not own the mutex fails
// with ERROR_NOT_OWNER.
OPOSSVC_API HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                                       LPCSTR lpName);
OPOSSVC_API HANDLE WINAPI OpenMutexA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
OPOSSVC_API BOOL WINAPI ReleaseMutex(HANDLE hMutex);

// Semaphores (in-process, named or not).
OPOSSVC_API HANDLE WINAPI CreateSemaphoreA(LPSECURITY_ATTRIBUTES lpSemaphoreAttributes,
                                           LONG lInitialCount, LONG lMaximumCount, LPCSTR lpName);
OPOSSVC_API BOOL WINAPI ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount,
                                         LPLONG lpPreviousCount);

// Waits on events, mutexes, semaphores and threads (the calling thread's
// pseudo handle is never signalled while it waits). WaitForMultipleObjects
// with bWaitAll FALSE obtains the signalled object of lowest index; with
// TRUE it obtains all of them at once or none. Results: WAIT_OBJECT_0 + i,
// WAIT_ABANDONED_0 + i, WAIT_TIMEOUT, or WAIT_FAILED with the last error
// (ERROR_INVALID_HANDLE for an unknown or unwaitable handle,
// ERROR_INVALID_PARAMETER for a count of 0 or above MAXIMUM_WAIT_OBJECTS, or a
// handle given twice with bWaitAll TRUE).
OPOSSVC_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
OPOSSVC_API DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles,
                                                BOOL bWaitAll, DWORD dwMilliseconds);

// Sleep(0) yields; Sleep(INFINITE) never returns.
OPOSSVC_API VOID WINAPI Sleep(DWORD dwMilliseconds);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_SYNC_H_
