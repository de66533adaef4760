// Publishes a store's snapshot (registry_snapshot.h) after its commits, on a
// thread of its own, so that a write never waits for a copy of the whole
// store. Commits that come while a copy is made share the next one, and
// during a burst of writes the thread rests between copies nine times as
// long as the last copy took and at least a second, so that copying takes
// at most a tenth of the time: a reader sees the store as one commit left
// it, a moment behind the writer (about a second during a burst, more for a
// store that takes long to copy). Flush publishes at once and waits for it.
//
// The thread starts with the first request. Around fork() the forking
// thread waits for a publication under way, so that no copy is half made
// and no publication lock is held in the child. A child forked while the
// thread ran starts no thread (a process forked from one with threads should
// not): it publishes each commit at once, itself; any other child starts a
// thread of its own when it asks. What was asked and not yet published is published
// at exit (see StoreCache) and when the publisher is destroyed; a process
// that ends without exit() leaves the snapshot behind its last commits until
// the next commit or the next open by a writer (SnapshotCurrent).
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_SNAPSHOT_PUBLISHER_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_SNAPSHOT_PUBLISHER_H_

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <string>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/types.h>

#include "platform/internal/mutex.h"

namespace opossvc::detail {

class SnapshotPublisher {
 public:
  explicit SnapshotPublisher(std::string store) : store_(std::move(store)) {}
  // Publishes what was asked, then ends the thread.
  ~SnapshotPublisher();
  SnapshotPublisher(const SnapshotPublisher&) = delete;
  SnapshotPublisher& operator=(const SnapshotPublisher&) = delete;

  // After a commit: a publication that starts after this call follows.
  void Request() OPOSSVC_EXCLUDES(mu_);
  // Publishes on the calling thread, after the publication under way.
  LONG PublishNow(bool durable) OPOSSVC_EXCLUDES(mu_) { return Publish(durable, true); }
  // The same, when something was asked and is not yet published.
  LONG PublishPending() OPOSSVC_EXCLUDES(mu_) { return Publish(false, false); }

  void PrepareFork() OPOSSVC_ACQUIRE(mu_);
  void AfterForkInParent() OPOSSVC_RELEASE(mu_);
  void AfterForkInChild() OPOSSVC_RELEASE(mu_);

 private:
  using Clock = std::chrono::steady_clock;

  static void* ThreadMain(void* self);
  void Run() OPOSSVC_EXCLUDES(mu_);
  LONG Publish(bool durable, bool always) OPOSSVC_EXCLUDES(mu_);
  // Makes the copy; the caller has set publishing_.
  LONG Copy(bool durable) OPOSSVC_EXCLUDES(mu_);
  // Makes the current copy durable; the caller has set publishing_.
  LONG Sync() OPOSSVC_EXCLUDES(mu_);
  // After a copy or sync: publishing_ is over.
  void Published(LONG error, bool durable) OPOSSVC_REQUIRES(mu_);

  const std::string store_;
  Mutex mu_;
  std::condition_variable changed_;                   // any of the fields below changed
  bool requested_ OPOSSVC_GUARDED_BY(mu_) = false;    // a commit since the last copy began
  bool publishing_ OPOSSVC_GUARDED_BY(mu_) = false;   // a copy is being made, by any thread
  // The last copy holds every commit asked for (no request came since it
  // began), and durable_: it is on disk too. A flush then needs no copy.
  bool current_ OPOSSVC_GUARDED_BY(mu_) = false;
  bool durable_ OPOSSVC_GUARDED_BY(mu_) = false;
  Clock::time_point rested_ OPOSSVC_GUARDED_BY(mu_);  // when the thread may copy again
  bool stopping_ OPOSSVC_GUARDED_BY(mu_) = false;
  bool running_ OPOSSVC_GUARDED_BY(mu_) = false;  // thread_ is this process's
  // In a child forked while the thread ran: each request is published at
  // once, on the requesting thread.
  bool at_once_ OPOSSVC_GUARDED_BY(mu_) = false;
  pthread_t thread_ OPOSSVC_GUARDED_BY(mu_){};
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_SNAPSHOT_PUBLISHER_H_
