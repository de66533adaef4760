// The library's in-process locks, known to clang's thread-safety analysis:
//
//   Mutex        exclusive; a holder can wait on a std::condition_variable
//   MutexLock    holds a Mutex for a scope
//   SharedMutex  readers side by side, or one writer
//   WriterLock   holds a SharedMutex exclusively for a scope
//   ReaderLock   holds a SharedMutex shared for a scope
//
// Data names its lock with OPOSSVC_GUARDED_BY next to its declaration.
// Header-only and platform-neutral, for the library and the test kit alike.
#ifndef OPOSSVC_PLATFORM_INTERNAL_MUTEX_H_
#define OPOSSVC_PLATFORM_INTERNAL_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <shared_mutex>

#include <opossvc/thread_annotations.h>

namespace opossvc::detail {

class OPOSSVC_CAPABILITY("mutex") Mutex {
 public:
  // Constant-initialized where std::mutex is (a global Mutex is then usable
  // from any static constructor or destructor): the defaulted constructor is
  // constexpr whenever std::mutex's is.
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() OPOSSVC_ACQUIRE() { mutex_.lock(); }
  void Unlock() OPOSSVC_RELEASE() { mutex_.unlock(); }

  // Release the mutex while waiting on `cv` and hold it again on return:
  // until notified (or woken spuriously), or until `deadline` passes (no
  // limit when it is empty). Callers re-test their condition in a loop.
  // WaitUntil returns false when the deadline had passed.
  void Wait(std::condition_variable& cv) OPOSSVC_REQUIRES(this) {
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    cv.wait(lock);
    lock.release();
  }
  bool WaitUntil(std::condition_variable& cv, std::chrono::steady_clock::time_point deadline)
      OPOSSVC_REQUIRES(this) {
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    bool notified = cv.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return notified;
  }
  bool WaitUntil(std::condition_variable& cv,
                 const std::optional<std::chrono::steady_clock::time_point>& deadline)
      OPOSSVC_REQUIRES(this) {
    if (deadline) {
      return WaitUntil(cv, *deadline);
    }
    Wait(cv);
    return true;
  }

 private:
  std::mutex mutex_;
};

class OPOSSVC_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) OPOSSVC_ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() OPOSSVC_RELEASE() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // Mutex::WaitUntil on the held mutex (which the analysis cannot see
  // through a scoped lock's own members).
  bool WaitUntil(std::condition_variable& cv,
                 const std::optional<std::chrono::steady_clock::time_point>& deadline)
      OPOSSVC_NO_THREAD_SAFETY_ANALYSIS {
    return mutex_.WaitUntil(cv, deadline);
  }

 private:
  Mutex& mutex_;
};

class OPOSSVC_CAPABILITY("mutex") SharedMutex {
 public:
  void Lock() OPOSSVC_ACQUIRE() { mutex_.lock(); }
  void Unlock() OPOSSVC_RELEASE() { mutex_.unlock(); }
  void LockShared() OPOSSVC_THREAD_ANNOTATION(acquire_shared_capability()) {
    mutex_.lock_shared();
  }
  void UnlockShared() OPOSSVC_THREAD_ANNOTATION(release_shared_capability()) {
    mutex_.unlock_shared();
  }

 private:
  std::shared_mutex mutex_;
};

class OPOSSVC_SCOPED_CAPABILITY WriterLock {
 public:
  explicit WriterLock(SharedMutex& mutex) OPOSSVC_ACQUIRE(mutex) : mutex_(mutex) {
    mutex_.Lock();
  }
  ~WriterLock() OPOSSVC_RELEASE() { mutex_.Unlock(); }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

 private:
  SharedMutex& mutex_;
};

class OPOSSVC_SCOPED_CAPABILITY ReaderLock {
 public:
  explicit ReaderLock(SharedMutex& mutex)
      OPOSSVC_THREAD_ANNOTATION(acquire_shared_capability(mutex)) : mutex_(mutex) {
    mutex_.LockShared();
  }
  ~ReaderLock() OPOSSVC_RELEASE() { mutex_.UnlockShared(); }
  ReaderLock(const ReaderLock&) = delete;
  ReaderLock& operator=(const ReaderLock&) = delete;

 private:
  SharedMutex& mutex_;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_MUTEX_H_
