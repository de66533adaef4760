// The lock of the serial-port backends: a mutex that the thread-safety analysis knows, with a
// scoped holder that can wait on a condition variable.
#ifndef OPOSSVC_PLATFORM_INTERNAL_COMM_MUTEX_H_
#define OPOSSVC_PLATFORM_INTERNAL_COMM_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include <opossvc/thread_annotations.h>

namespace opossvc::detail {

class OPOSSVC_CAPABILITY("mutex") CommMutex {
 public:
  void Lock() OPOSSVC_ACQUIRE() { mutex_.lock(); }
  void Unlock() OPOSSVC_RELEASE() { mutex_.unlock(); }
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

class OPOSSVC_SCOPED_CAPABILITY CommLock {
 public:
  explicit CommLock(CommMutex& mutex) OPOSSVC_ACQUIRE(mutex) : lock_(mutex.native()) {}
  ~CommLock() OPOSSVC_RELEASE() {}
  CommLock(const CommLock&) = delete;
  CommLock& operator=(const CommLock&) = delete;

  // Releases the lock while waiting on `cv` until notified or until `deadline` (no limit when
  // empty); holds it again on return. Callers re-test their condition in a loop.
  void WaitUntil(std::condition_variable& cv,
                 const std::optional<std::chrono::steady_clock::time_point>& deadline) {
    if (deadline) {
      cv.wait_until(lock_, *deadline);
    } else {
      cv.wait(lock_);
    }
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_COMM_MUTEX_H_
