#include "platform/posix/kernel/thread_state.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <utility>

namespace opossvc::detail {
namespace {

thread_local ThreadState* t_state = nullptr;

void DestroyThreadState(void* value) {
  auto* state = static_cast<ThreadState*>(value);
  t_state = state;
  RunThreadExitCleanup();
  t_state = nullptr;
  delete state;
}

// A forked child has only the forking thread, and that thread is not the
// parent's: it owns none of the parent's mutexes, has none of its windows,
// and has an id of its own.
void ForgetStateInChild() { t_state = nullptr; }

pthread_key_t StateKey() {
  // Created once, never deleted: threads may end at any time.
  static const pthread_key_t key = [] {
    pthread_key_t k;
    pthread_key_create(&k, &DestroyThreadState);
    pthread_atfork(nullptr, nullptr, &ForgetStateInChild);
    return k;
  }();
  return key;
}

uint64_t NextSerial() {
  static std::atomic<uint64_t> next{0};
  return next.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

ThreadState& CurrentThreadState() {
  if (t_state == nullptr) {
    auto* state = new ThreadState;
    state->serial = NextSerial();
    state->thread_id = static_cast<DWORD>(gettid());
    t_state = state;
    pthread_setspecific(StateKey(), state);
  }
  return *t_state;
}

void RunThreadExitCleanup() {
  if (t_state == nullptr) return;
  ThreadState& state = *t_state;
  // Observers may call back into the platform layer (a destroyed window's
  // pending sends, a released mutex waking waiters), so detach each before
  // running it.
  if (std::shared_ptr<ThreadExitObserver> queue = std::move(state.message_queue)) {
    queue->OnThreadExit();
  }
  while (!state.owned_mutexes.empty()) {
    std::shared_ptr<ThreadExitObserver> mutex = std::move(state.owned_mutexes.back());
    state.owned_mutexes.pop_back();
    mutex->OnThreadExit();
  }
}

void ForgetOwnedMutex(const ThreadExitObserver* mutex) {
  std::vector<std::shared_ptr<ThreadExitObserver>>& owned = CurrentThreadState().owned_mutexes;
  auto it =
      std::find_if(owned.begin(), owned.end(), [mutex](const auto& m) { return m.get() == mutex; });
  if (it != owned.end()) owned.erase(it);
}

}  // namespace opossvc::detail
