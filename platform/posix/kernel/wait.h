// The wait machinery behind every waitable handle and every message queue.
//
// One process-wide lock, WaitLock, guards the signal state of every
// in-process waitable object, the waiter lists, and the message queues.
// A waiting thread registers a Waiter (its own condition variable) with each
// object it waits on; an object whose state changes wakes its waiters, which
// re-examine their whole wait set under the lock. Taking several objects at
// once (wait-all) is atomic because all their state sits under that lock.
//
// Objects whose state lives outside the process (named mutexes) are
// "polled": they cannot signal a waiter when another process releases them,
// so a wait set that holds one re-tries it at a short interval. Such an
// object is tried only with a non-blocking attempt while WaitLock is held.
#ifndef OPOSSVC_PLATFORM_POSIX_KERNEL_WAIT_H_
#define OPOSSVC_PLATFORM_POSIX_KERNEL_WAIT_H_

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/types.h>

#include "platform/internal/mutex.h"
#include "platform/posix/kernel/handle_table.h"

namespace opossvc::detail {

// The lock of the wait machinery, held with MutexLock; Wait* release it
// while blocked. Constant-initialized and trivially destructible, so it is
// usable from any static constructor or destructor.
extern Mutex g_wait_lock;

// A process-unique, never reused number for the calling thread.
uint64_t CurrentThreadSerial();

// One thread blocked in a wait; registered with each object it waits on.
struct Waiter {
  std::condition_variable cv;
};

enum class Grant { kNone, kSignaled, kAbandoned };

class Waitable : public KernelObject {
 public:
  // Whether Take would succeed for the calling thread (in-process objects),
  // or may succeed (polled objects, which always answer true).
  virtual bool Ready() OPOSSVC_REQUIRES(g_wait_lock) = 0;
  // Takes the object for the calling thread: resets an auto-reset event,
  // counts a semaphore down, gives a mutex its owner. In-process objects are
  // only taken when Ready; polled objects may answer kNone.
  virtual Grant Take() OPOSSVC_REQUIRES(g_wait_lock) = 0;
  // Gives back a polled object taken in a wait-all attempt that failed.
  virtual void Untake(Grant grant) OPOSSVC_REQUIRES(g_wait_lock) {}
  virtual bool IsPolled() const { return false; }
  // A way to wait for this object alone without the generic loop, or
  // nullopt to use the loop. Called without g_wait_lock.
  virtual std::optional<DWORD> WaitAlone(DWORD milliseconds) { return std::nullopt; }
  // A create or open of the object's name reached this live object, for a
  // handle about to be made (called under the named-object table's lock).
  // False when the object lost its name with its last handle, so that the
  // name now stands for a new object.
  virtual bool ReopenByName() { return true; }

  void AddWaiter(Waiter* waiter) OPOSSVC_REQUIRES(g_wait_lock);
  void RemoveWaiter(Waiter* waiter) OPOSSVC_REQUIRES(g_wait_lock);
  // Wakes every thread waiting on this object.
  void WakeWaiters() OPOSSVC_REQUIRES(g_wait_lock);

 private:
  std::vector<Waiter*> waiters_ OPOSSVC_GUARDED_BY(g_wait_lock);
};

// Waits until one (wait_all false) or all objects can be taken and takes
// them. Returns WAIT_OBJECT_0 + i, WAIT_ABANDONED_0 + i or WAIT_TIMEOUT; with
// wait-any, the lowest ready index wins. Objects must be non-null and, for
// wait_all, distinct.
DWORD WaitForObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool wait_all,
                     DWORD milliseconds) OPOSSVC_EXCLUDES(g_wait_lock);

// Resolves user handles to waitable objects; false (with the last error set
// to ERROR_INVALID_HANDLE) when one is unknown or not waitable.
bool ResolveWaitHandles(const HANDLE* handles, DWORD count,
                        std::vector<std::shared_ptr<Waitable>>* objects);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_KERNEL_WAIT_H_
