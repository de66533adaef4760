#include "platform/posix/kernel/handle_table.h"

#include <mutex>
#include <unordered_map>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/handles.h>

namespace opossvc::detail {
namespace {

class HandleTable {
 public:
  static HandleTable& Get() {
    // Never destroyed: handles may be closed from static destructors.
    static HandleTable* table = new HandleTable;
    return *table;
  }

  HANDLE Insert(std::shared_ptr<KernelObject> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Multiples of 4 from 0x1000, as Win32 hands them out; never reused
    // within a process, so a stale handle cannot reach a newer object.
    next_ += 4;
    uintptr_t key = next_;
    objects_.emplace(key, std::move(object));
    return reinterpret_cast<HANDLE>(key);
  }

  std::shared_ptr<KernelObject> Lookup(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
    return it == objects_.end() ? nullptr : it->second;
  }

  std::shared_ptr<KernelObject> Remove(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == objects_.end()) return nullptr;
    std::shared_ptr<KernelObject> object = std::move(it->second);
    objects_.erase(it);
    return object;
  }

 private:
  std::mutex mutex_;
  uintptr_t next_ = 0x1000;                                        // guarded by mutex_
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects_;  // guarded by mutex_
};

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  if (!object) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return HandleTable::Get().Insert(std::move(object));
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  return HandleTable::Get().Lookup(handle);
}

bool RemoveHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> object = HandleTable::Get().Remove(handle);
  if (!object) return false;
  object->OnClose();
  return true;
}

}  // namespace opossvc::detail

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (!opossvc::detail::RemoveHandle(hObject)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
