// Threads and process identity.
//
// CreateThread returns a waitable handle that becomes signalled when the
// thread has ended; by then the thread's windows are destroyed and the
// mutexes it still owned are abandoned. Closing the handle does not stop the
// thread. Thread ids are the system's thread ids, unique among live threads.
//
// Priorities are accepted and remembered but not applied: ordinary users
// cannot raise scheduling priority on POSIX systems.
#ifndef OPOSSVC_WIN32_THREADS_H_
#define OPOSSVC_WIN32_THREADS_H_

#include <opossvc/export.h>
#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/win32/types.h>

typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

#define CREATE_SUSPENDED 0x00000004
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000
#define STILL_ACTIVE 259

#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

// dwStackSize 0 takes the system default; other sizes are rounded up to the
// system minimum. A thread created with CREATE_SUSPENDED starts running at
// its first ResumeThread.
OPOSSVC_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                       LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                       DWORD dwCreationFlags, LPDWORD lpThreadId);
// The previous suspend count (0 for a running thread), or (DWORD)-1.
OPOSSVC_API DWORD WINAPI ResumeThread(HANDLE hThread);
// STILL_ACTIVE while the thread runs, then its return value.
OPOSSVC_API BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
OPOSSVC_API DWORD WINAPI GetThreadId(HANDLE Thread);
OPOSSVC_API BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority);
OPOSSVC_API int WINAPI GetThreadPriority(HANDLE hThread);

OPOSSVC_API DWORD WINAPI GetCurrentThreadId(void);
OPOSSVC_API DWORD WINAPI GetCurrentProcessId(void);
// Pseudo-handles, valid only in the calling thread and process; accepted by
// the thread functions above, not by the wait functions.
OPOSSVC_API HANDLE WINAPI GetCurrentThread(void);
OPOSSVC_API HANDLE WINAPI GetCurrentProcess(void);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_THREADS_H_
