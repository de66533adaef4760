// A mutex that the thread-safety analysis knows, for the registry's locks.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_MUTEX_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <opossvc/thread_annotations.h>

namespace opossvc::detail {

class OPOSSVC_CAPABILITY("mutex") RegistryMutex {
 public:
  void Lock() OPOSSVC_ACQUIRE() { mutex_.lock(); }
  void Unlock() OPOSSVC_RELEASE() { mutex_.unlock(); }
  // Releases the mutex while waiting on `cv`; holds it again on return.
  // Callers test their condition in a loop.
  void Wait(std::condition_variable& cv) OPOSSVC_REQUIRES(this) {
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    cv.wait(lock);
    lock.release();
  }
  void WaitUntil(std::condition_variable& cv, std::chrono::steady_clock::time_point deadline)
      OPOSSVC_REQUIRES(this) {
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    cv.wait_until(lock, deadline);
    lock.release();
  }

 private:
  std::mutex mutex_;
};

class OPOSSVC_SCOPED_CAPABILITY RegistryLock {
 public:
  explicit RegistryLock(RegistryMutex& mutex) OPOSSVC_ACQUIRE(mutex) : mutex_(mutex) {
    mutex_.Lock();
  }
  ~RegistryLock() OPOSSVC_RELEASE() { mutex_.Unlock(); }
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;

 private:
  RegistryMutex& mutex_;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_MUTEX_H_
