#include "platform/posix/registry/registry_handles.h"

#include <pthread.h>

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/registry.h>

#include "platform/internal/mutex.h"

namespace opossvc::detail {
namespace {

constexpr uintptr_t kFirstHandle = 0x40000000u;
constexpr uintptr_t kRootBase = 0x80000000u;
constexpr uintptr_t kReservedEnd = 0x80000100u;  // predefined handles, used or not

// A root's number (0 to kRootCount - 1), also for a root handle value that
// was sign-extended from 32 bits as 64-bit Windows code may write it; -1
// for any other value.
int RootIndex(HKEY key) {
  auto value = reinterpret_cast<uintptr_t>(key);
  if constexpr (sizeof(uintptr_t) > 4) {
    if ((value >> 32) == 0xFFFFFFFFu) value &= 0xFFFFFFFFu;
  }
  if (value < kRootBase || value >= kRootBase + static_cast<uintptr_t>(kRootCount)) return -1;
  return static_cast<int>(value - kRootBase);
}

class KeyTable {
 public:
  static KeyTable& Get() {
    // Never destroyed: keys may be closed from static destructors.
    static KeyTable* table = new KeyTable;
    return *table;
  }

  LONG Insert(OpenKey key, HKEY* out) OPOSSVC_EXCLUDES(mu_) {
    MutexLock lock(mu_);
    uintptr_t value = next_;
    while (keys_.count(value) != 0 || (value >= kRootBase && value < kReservedEnd) ||
           value < kFirstHandle) {
      value = value + 4 < value ? kFirstHandle : value + 4;
    }
    next_ = value + 4;
    if (spare_.empty()) {
      keys_.emplace(value, std::move(key));
    } else {
      Node node = std::move(spare_.back());
      spare_.pop_back();
      node.key() = value;
      node.mapped() = std::move(key);
      keys_.insert(std::move(node));
    }
    *out = reinterpret_cast<HKEY>(value);
    return ERROR_SUCCESS;
  }

  bool Lookup(HKEY key, OpenKey* out) OPOSSVC_EXCLUDES(mu_) {
    MutexLock lock(mu_);
    auto it = keys_.find(reinterpret_cast<uintptr_t>(key));
    if (it == keys_.end()) return false;
    *out = it->second;
    return true;
  }

  bool Remove(HKEY key) OPOSSVC_EXCLUDES(mu_) {
    OpenKey removed;  // its store may go with it: let that happen unlocked
    MutexLock lock(mu_);
    auto it = keys_.find(reinterpret_cast<uintptr_t>(key));
    if (it == keys_.end()) return false;
    Node node = keys_.extract(it);
    removed = std::move(node.mapped());
    if (spare_.size() < kSpareNodes) spare_.push_back(std::move(node));
    return true;
  }

 private:
  using Node = std::unordered_map<uintptr_t, OpenKey>::node_type;
  // Nodes of closed handles kept for the next opens, so that a key opened
  // and closed again and again costs no allocation.
  static constexpr size_t kSpareNodes = 16;

  KeyTable() {
    spare_.reserve(kSpareNodes);
    pthread_atfork(&PrepareFork, &AfterFork, &AfterFork);
  }

  // A child must not inherit the table locked by another thread.
  static void PrepareFork() OPOSSVC_NO_THREAD_SAFETY_ANALYSIS { Get().mu_.Lock(); }
  static void AfterFork() OPOSSVC_NO_THREAD_SAFETY_ANALYSIS { Get().mu_.Unlock(); }

  Mutex mu_;
  uintptr_t next_ OPOSSVC_GUARDED_BY(mu_) = kFirstHandle;
  std::unordered_map<uintptr_t, OpenKey> keys_ OPOSSVC_GUARDED_BY(mu_);
  std::vector<Node> spare_ OPOSSVC_GUARDED_BY(mu_);  // each holds an empty OpenKey
};

}  // namespace

LONG ResolveKey(HKEY key, OpenKey* out) {
  if (int root = RootIndex(key); root >= 0) {
    out->store = RegistryStore::Current();
    out->id = kFirstRootId + root;
    out->access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  if (key == nullptr || !KeyTable::Get().Lookup(key, out)) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

LONG InsertKey(OpenKey key, HKEY* out) { return KeyTable::Get().Insert(std::move(key), out); }

LONG RemoveKey(HKEY key) {
  if (RootIndex(key) >= 0) return ERROR_SUCCESS;
  if (key == nullptr || !KeyTable::Get().Remove(key)) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

}  // namespace opossvc::detail
