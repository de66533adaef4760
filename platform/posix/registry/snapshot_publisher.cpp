#include "platform/posix/registry/snapshot_publisher.h"

#include <signal.h>

#include <algorithm>
#include <new>

#include <opossvc/win32/errors.h>

#include "platform/posix/registry/registry_snapshot.h"

namespace opossvc::detail {
namespace {

// After a copy the thread rests this many times as long as the copy took,
// and at least kShortestRest: during a burst of writes copying takes at most
// a tenth of the time, and a large store is written out about once a second
// rather than after every write.
constexpr int kRestPerCopy = 9;
constexpr std::chrono::milliseconds kShortestRest{1000};

}  // namespace

SnapshotPublisher::~SnapshotPublisher() {
  PublishPending();
  bool running = false;
  pthread_t thread{};
  {
    MutexLock lock(mu_);
    stopping_ = true;
    running = running_;
    thread = thread_;
  }
  changed_.notify_all();
  if (running) pthread_join(thread, nullptr);
}

void SnapshotPublisher::Request() {
  {
    MutexLock lock(mu_);
    current_ = false;
    durable_ = false;
    // A request already there has woken the thread, or will be seen by it.
    if (requested_ && running_) return;
    requested_ = true;
    if (!at_once_) {
      if (!running_) {
        // The thread takes no signals: those are for the application's threads.
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        // Without a thread the request waits for the next one, or for Flush.
        running_ = pthread_create(&thread_, nullptr, &ThreadMain, this) == 0;
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
      }
      changed_.notify_all();
      return;
    }
  }
  PublishPending();
}

LONG SnapshotPublisher::Publish(bool durable, bool always) {
  bool sync_only = false;
  {
    MutexLock lock(mu_);
    while (publishing_) mu_.Wait(changed_);
    if (!always && !requested_) return ERROR_SUCCESS;
    // The copy in place may hold every commit already (the thread made it
    // meanwhile, or an earlier flush of a batch did); another process's
    // commit since makes it older than the store's files.
    if (durable && current_ && SnapshotCurrent(store_)) {
      if (durable_) return ERROR_SUCCESS;
      sync_only = true;
    }
    publishing_ = true;
    requested_ = false;  // this copy holds every commit so far
  }
  return sync_only ? Sync() : Copy(durable);
}

LONG SnapshotPublisher::Copy(bool durable) {
  const Clock::time_point start = Clock::now();
  LONG error = PublishSnapshot(store_, durable);
  const Clock::time_point end = Clock::now();
  {
    MutexLock lock(mu_);
    Published(error, durable);
    rested_ = end + std::max<Clock::duration>(kRestPerCopy * (end - start), kShortestRest);
  }
  changed_.notify_all();
  return error;
}

LONG SnapshotPublisher::Sync() {
  LONG error = SyncSnapshot(store_);
  {
    MutexLock lock(mu_);
    Published(error, true);
  }
  changed_.notify_all();
  return error;
}

void SnapshotPublisher::Published(LONG error, bool durable) {
  publishing_ = false;
  if (error != ERROR_SUCCESS) requested_ = true;  // tried again after the rest
  current_ = !requested_;
  durable_ = current_ && durable;
}

void* SnapshotPublisher::ThreadMain(void* self) {
  static_cast<SnapshotPublisher*>(self)->Run();
  return nullptr;
}

void SnapshotPublisher::Run() {
  for (;;) {
    {
      MutexLock lock(mu_);
      for (;;) {
        if (stopping_) return;
        if (!requested_ || publishing_) {
          mu_.Wait(changed_);
        } else if (Clock::now() < rested_) {
          mu_.WaitUntil(changed_, rested_);
        } else {
          break;
        }
      }
      publishing_ = true;
      requested_ = false;
    }
    // A failure leaves the snapshot as it was; the next commit tries again.
    Copy(false);
  }
}

void SnapshotPublisher::PrepareFork() {
  mu_.Lock();
  while (publishing_) mu_.Wait(changed_);
}

void SnapshotPublisher::AfterForkInParent() { mu_.Unlock(); }

void SnapshotPublisher::AfterForkInChild() {
  // Only the forking thread lives on: the parent's thread, its requests and
  // its waits on changed_ are not this process's. A child of a process with
  // threads should start none of its own.
  at_once_ = at_once_ || running_;
  running_ = false;
  requested_ = false;
  new (&changed_) std::condition_variable;
  mu_.Unlock();
}

}  // namespace opossvc::detail
