// Per-thread state of the platform layer, and its end with the thread.
//
// Each thread that touches the platform layer gets one ThreadState, made on
// first use. When the thread ends, its message queue is torn down (its
// windows destroyed, senders released) and the mutexes it still owns are
// abandoned. Threads from CreateThread do this before their handle becomes
// signalled; any other thread does it in its last moments (a pthread key
// destructor, which runs after every C++ thread_local destructor).
//
// A ThreadState is touched only by its own thread.
#ifndef OPOSSVC_PLATFORM_POSIX_KERNEL_THREAD_STATE_H_
#define OPOSSVC_PLATFORM_POSIX_KERNEL_THREAD_STATE_H_

#include <cstdint>
#include <memory>
#include <vector>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

// Something the thread holds that must be let go when it ends.
class ThreadExitObserver {
 public:
  virtual ~ThreadExitObserver() = default;
  // Runs on the ending thread, with no lock held.
  virtual void OnThreadExit() = 0;
};

struct ThreadState {
  uint64_t serial = 0;  // process-unique, never reused
  DWORD thread_id = 0;  // the system's id, as GetCurrentThreadId
  // The thread's message queue, made by the first message call.
  std::shared_ptr<ThreadExitObserver> message_queue;
  // Mutexes the thread owns at least once, in order of first ownership.
  std::vector<std::shared_ptr<ThreadExitObserver>> owned_mutexes;
};

ThreadState& CurrentThreadState();

// Tears down the calling thread's queue and abandons its mutexes. Safe to
// call more than once; later platform calls on the thread start afresh.
void RunThreadExitCleanup();

// Drops a mutex from the calling thread's owned list (on its last release).
void ForgetOwnedMutex(const ThreadExitObserver* mutex);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_KERNEL_THREAD_STATE_H_
