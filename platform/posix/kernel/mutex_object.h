// Mutex kernel objects: in-process (unnamed) and system-wide (named).
//
// Both count recursive ownership per thread, refuse release by a thread that
// does not own them, and report WAIT_ABANDONED to the next taker after their
// owner thread (or, for named mutexes, process) ended while owning them.
// A thread's owned mutexes sit in its ThreadState, which keeps them alive
// while owned even when every handle has been closed; a named mutex loses
// its name with the last handle all the same, as on Win32.
#ifndef OPOSSVC_PLATFORM_POSIX_KERNEL_MUTEX_OBJECT_H_
#define OPOSSVC_PLATFORM_POSIX_KERNEL_MUTEX_OBJECT_H_

#include <memory>
#include <string>

#include "platform/posix/kernel/named_objects.h"
#include "platform/posix/kernel/thread_state.h"
#include "platform/posix/kernel/wait.h"

namespace opossvc::detail {

class MutexObject : public Waitable, public ThreadExitObserver {
 public:
  // Releases one level of the calling thread's ownership; false with
  // ERROR_NOT_OWNER when the thread does not own the mutex.
  virtual bool Release() OPOSSVC_EXCLUDES(g_wait_lock) = 0;
};

// An unnamed mutex (or named within the process only, which no caller of
// this layer needs). Takes ownership at once when initially_owned.
std::shared_ptr<MutexObject> MakeLocalMutex(bool initially_owned);

// The system-wide mutex of `name`: opens it, or with `create` makes it when
// no process has it (*created tells which; a mutex made here is owned by the
// calling thread when initially_owned). The name stands for a mutex while
// some process has a handle to it; a process that ended holds none. The
// object counts one handle, the caller's to make; every further create or
// open that reaches it through the named-object table counts another, and
// each CloseHandle gives one back. Null with the last error set
// (ERROR_FILE_NOT_FOUND when opening a name that no live handle holds,
// ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY, ...).
std::shared_ptr<MutexObject> OpenSystemMutex(const ObjectName& name, bool create,
                                             bool initially_owned, bool* created);

// The POSIX shared-memory object that holds the lock of a named mutex.
std::string SystemMutexShmName(const ObjectName& name);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_KERNEL_MUTEX_OBJECT_H_
