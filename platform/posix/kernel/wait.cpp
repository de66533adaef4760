#include "platform/posix/kernel/wait.h"

#include <algorithm>
#include <chrono>

#include <pthread.h>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>

#include "platform/posix/kernel/thread_state.h"

namespace opossvc::detail {

constinit Mutex g_wait_lock;

namespace {

// A fork while another thread holds the lock would leave it held forever in
// the child.
void LockBeforeFork() OPOSSVC_NO_THREAD_SAFETY_ANALYSIS { g_wait_lock.Lock(); }
void UnlockAfterFork() OPOSSVC_NO_THREAD_SAFETY_ANALYSIS { g_wait_lock.Unlock(); }

[[maybe_unused]] const int kForkHandlers =
    pthread_atfork(&LockBeforeFork, &UnlockAfterFork, &UnlockAfterFork);

using Clock = std::chrono::steady_clock;

// The calling thread seen through its pseudo handle: it cannot end while it
// waits, so it is never signalled (a wait on it times out or lasts forever).
class RunningThread final : public Waitable {
 public:
  bool Ready() override OPOSSVC_REQUIRES(g_wait_lock) { return false; }
  Grant Take() override OPOSSVC_REQUIRES(g_wait_lock) { return Grant::kNone; }
};

// How often a wait set with a polled object re-tries it: from 1 ms, doubling
// up to 10 ms, so a short hand-over is noticed quickly and a long one costs
// little.
constexpr std::chrono::milliseconds kFirstPoll{1};
constexpr std::chrono::milliseconds kLongestPoll{10};

DWORD Result(DWORD index, Grant grant) {
  return (grant == Grant::kAbandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + index;
}

std::optional<DWORD> TryTakeAny(const std::vector<std::shared_ptr<Waitable>>& objects)
    OPOSSVC_REQUIRES(g_wait_lock) {
  for (DWORD i = 0; i < objects.size(); ++i) {
    Waitable& object = *objects[i];
    if (!object.Ready()) continue;
    Grant grant = object.Take();
    if (grant != Grant::kNone) return Result(i, grant);
  }
  return std::nullopt;
}

std::optional<DWORD> TryTakeAll(const std::vector<std::shared_ptr<Waitable>>& objects)
    OPOSSVC_REQUIRES(g_wait_lock) {
  for (const auto& object : objects) {
    if (!object->Ready()) return std::nullopt;
  }
  // Every in-process object is ready and stays so while the lock is held;
  // only the polled ones can still refuse, so take those first.
  std::vector<Grant> grants(objects.size(), Grant::kNone);
  for (size_t i = 0; i < objects.size(); ++i) {
    if (!objects[i]->IsPolled()) continue;
    grants[i] = objects[i]->Take();
    if (grants[i] == Grant::kNone) {
      for (size_t j = 0; j < i; ++j) {
        if (objects[j]->IsPolled()) objects[j]->Untake(grants[j]);
      }
      return std::nullopt;
    }
  }
  for (size_t i = 0; i < objects.size(); ++i) {
    if (!objects[i]->IsPolled()) grants[i] = objects[i]->Take();
  }
  auto abandoned = std::find(grants.begin(), grants.end(), Grant::kAbandoned);
  if (abandoned == grants.end()) return WAIT_OBJECT_0;
  return WAIT_ABANDONED_0 + static_cast<DWORD>(abandoned - grants.begin());
}

}  // namespace

uint64_t CurrentThreadSerial() { return CurrentThreadState().serial; }

void Waitable::AddWaiter(Waiter* waiter) { waiters_.push_back(waiter); }

void Waitable::RemoveWaiter(Waiter* waiter) {
  auto it = std::find(waiters_.begin(), waiters_.end(), waiter);
  if (it != waiters_.end()) waiters_.erase(it);
}

void Waitable::WakeWaiters() {
  for (Waiter* waiter : waiters_) waiter->cv.notify_one();
}

DWORD WaitForObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool wait_all,
                     DWORD milliseconds) {
  if (objects.size() == 1) {
    if (std::optional<DWORD> result = objects[0]->WaitAlone(milliseconds)) return *result;
  }
  const bool polled = std::any_of(objects.begin(), objects.end(),
                                  [](const auto& object) { return object->IsPolled(); });
  const bool forever = milliseconds == INFINITE;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::chrono::milliseconds poll = kFirstPoll;

  MutexLock lock(g_wait_lock);
  Waiter waiter;
  for (const auto& object : objects) object->AddWaiter(&waiter);
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    std::optional<DWORD> taken = wait_all ? TryTakeAll(objects) : TryTakeAny(objects);
    if (taken) {
      result = *taken;
      break;
    }
    const Clock::time_point now = Clock::now();
    if (!forever && now >= deadline) break;
    if (polled) {
      Clock::time_point wake = now + poll;
      if (!forever) wake = std::min(wake, deadline);
      lock.WaitUntil(waiter.cv, wake);
      poll = std::min(poll * 2, kLongestPoll);
    } else if (forever) {
      lock.WaitUntil(waiter.cv, std::nullopt);
    } else {
      lock.WaitUntil(waiter.cv, deadline);
    }
  }
  for (const auto& object : objects) object->RemoveWaiter(&waiter);
  return result;
}

bool ResolveWaitHandles(const HANDLE* handles, DWORD count,
                        std::vector<std::shared_ptr<Waitable>>* objects) {
  objects->clear();
  objects->reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    std::shared_ptr<Waitable> object = handles[i] == GetCurrentThread()
                                           ? std::make_shared<RunningThread>()
                                           : LookupHandleAs<Waitable>(handles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    objects->push_back(std::move(object));
  }
  return true;
}

}  // namespace opossvc::detail
