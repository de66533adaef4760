// Hold a critical section for the lifetime of a scope.
#ifndef OPOSSVC_PORTDRV_CRITICAL_SECTION_LOCK_H_
#define OPOSSVC_PORTDRV_CRITICAL_SECTION_LOCK_H_

#include <atomic>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/sync.h>

namespace opossvc::detail {

class OPOSSVC_SCOPED_CAPABILITY CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION* cs) OPOSSVC_ACQUIRE(*cs) : cs_(cs) {
    EnterCriticalSection(cs_);
  }
  ~CriticalSectionLock() OPOSSVC_RELEASE() { LeaveCriticalSection(cs_); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION* cs_;
};

// As CriticalSectionLock, counting the caller in `waiters` while it waits,
// so that a thread that takes the lock over and over can let it in: that one
// sets `yielding`, sees `waiters` above 0 and waits for `entered`, which the
// last waiter in sets. (Both sides store before they load, so one of them
// sees the other: the wake-up is never lost.)
class OPOSSVC_SCOPED_CAPABILITY CountedCriticalSectionLock {
 public:
  CountedCriticalSectionLock(CRITICAL_SECTION* cs, std::atomic<LONG>* waiters,
                             const std::atomic<LONG>* yielding, HANDLE entered)
      OPOSSVC_ACQUIRE(*cs)
      : cs_(cs) {
    waiters->fetch_add(1);
    EnterCriticalSection(cs_);
    if (waiters->fetch_sub(1) == 1 && yielding->load() != 0) SetEvent(entered);
  }
  ~CountedCriticalSectionLock() OPOSSVC_RELEASE() { LeaveCriticalSection(cs_); }
  CountedCriticalSectionLock(const CountedCriticalSectionLock&) = delete;
  CountedCriticalSectionLock& operator=(const CountedCriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION* cs_;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PORTDRV_CRITICAL_SECTION_LOCK_H_
