// The driver's clients and the notifications in progress.
//
// Clients are kept in the order of their opens, one entry per open. The
// driver's threads notify each distinct client once, in the order of its
// first open, and bracket every notification with Enter/Leave, so that
// PortClose can wait until no other thread is inside a notification of the
// service object it removes.
//
// Thread-safe; the lock is a leaf: nothing is called while it is held.
#ifndef OPOSSVC_PORTDRV_CLIENT_LIST_H_
#define OPOSSVC_PORTDRV_CLIENT_LIST_H_

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class CSvcBase;

namespace opossvc::detail {

class ClientList {
 public:
  void Add(CSvcBase* svc);
  // Removes the first entry of `svc`; false when there is none.
  bool RemoveFirst(CSvcBase* svc);
  bool Contains(const CSvcBase* svc) const;
  // The distinct clients, in the order of their first open.
  std::vector<CSvcBase*> Distinct() const;

  // Marks the calling thread as inside a notification of `svc`. With
  // `clientsOnly`, false (and nothing marked) when `svc` is no longer a
  // client, so that a client removed meanwhile is not notified.
  bool Enter(CSvcBase* svc, bool clientsOnly);
  void Leave();
  // Returns once no thread other than the caller is inside a notification
  // of `svc`. A caller that is itself inside a notification of this driver
  // returns at once: two notifications waiting for each other would never
  // end.
  void WaitUntilIdle(const CSvcBase* svc);

 private:
  struct Notification {
    std::thread::id thread;
    const CSvcBase* svc;
  };

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<CSvcBase*> clients_;           // guarded by mutex_
  std::vector<Notification> notifications_;  // guarded by mutex_
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PORTDRV_CLIENT_LIST_H_
