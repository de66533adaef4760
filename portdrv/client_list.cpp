// The client list and its notification bracket.
#include "portdrv/client_list.h"

#include <algorithm>

namespace opossvc::detail {

void ClientList::Add(CSvcBase* svc) {
  std::lock_guard<std::mutex> lock(mutex_);
  clients_.push_back(svc);
}

bool ClientList::RemoveFirst(CSvcBase* svc) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find(clients_.begin(), clients_.end(), svc);
  if (it == clients_.end()) return false;
  clients_.erase(it);
  return true;
}

bool ClientList::Contains(const CSvcBase* svc) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::find(clients_.begin(), clients_.end(), svc) != clients_.end();
}

std::vector<CSvcBase*> ClientList::Distinct() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<CSvcBase*> distinct;
  distinct.reserve(clients_.size());
  for (CSvcBase* svc : clients_) {
    if (std::find(distinct.begin(), distinct.end(), svc) == distinct.end()) {
      distinct.push_back(svc);
    }
  }
  return distinct;
}

bool ClientList::Enter(CSvcBase* svc, bool clientsOnly) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (clientsOnly && std::find(clients_.begin(), clients_.end(), svc) == clients_.end()) {
    return false;
  }
  notifications_.push_back({std::this_thread::get_id(), svc});
  return true;
}

void ClientList::Leave() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    auto it = std::find_if(notifications_.begin(), notifications_.end(),
                           [self](const Notification& n) { return n.thread == self; });
    if (it != notifications_.end()) notifications_.erase(it);
  }
  idle_.notify_all();
}

void ClientList::WaitUntilIdle(const CSvcBase* svc) {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(mutex_);
  const bool inside = std::any_of(notifications_.begin(), notifications_.end(),
                                  [self](const Notification& n) { return n.thread == self; });
  if (inside) return;
  idle_.wait(lock, [this, svc] {
    return std::none_of(notifications_.begin(), notifications_.end(),
                        [svc](const Notification& n) { return n.svc == svc; });
  });
}

}  // namespace opossvc::detail
