#include "platform/posix/kernel/named_objects.h"

#include <cstring>
#include <map>
#include <mutex>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/errors.h>

namespace opossvc::detail {
namespace {

constexpr char kGlobalPrefix[] = "Global\\";
constexpr char kLocalPrefix[] = "Local\\";

bool StartsWith(const char* s, const char* prefix) {
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

class NamedObjectTable {
 public:
  static NamedObjectTable& Get() {
    // Never destroyed: handles may be closed from static destructors.
    static NamedObjectTable* table = new NamedObjectTable;
    return *table;
  }

  std::shared_ptr<Waitable> FindOrMake(const ObjectName& name, KindTest is_kind,
                                       const std::function<std::shared_ptr<Waitable>()>& make,
                                       bool* existed) {
    std::lock_guard<std::mutex> lock(mutex_);
    *existed = false;
    auto it = objects_.find(name.key);
    if (it != objects_.end()) {
      if (std::shared_ptr<Waitable> object = it->second.lock()) {
        if (!is_kind(*object)) {
          SetLastError(ERROR_INVALID_HANDLE);
          return nullptr;
        }
        if (object->ReopenByName()) {
          *existed = true;
          return object;
        }
      }
    }
    if (!make) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    std::shared_ptr<Waitable> object = make();
    if (!object) return nullptr;
    SweepExpired();
    objects_[name.key] = object;
    return object;
  }

 private:
  // Needs mutex_ held.
  void SweepExpired() {
    for (auto it = objects_.begin(); it != objects_.end();) {
      it = it->second.expired() ? objects_.erase(it) : std::next(it);
    }
  }

  std::mutex mutex_;
  std::map<std::string, std::weak_ptr<Waitable>> objects_;  // guarded by mutex_
};

}  // namespace

bool ParseObjectName(LPCSTR name, ObjectName* parsed) {
  *parsed = ObjectName{};
  if (name == nullptr || *name == '\0') return true;
  if (std::strlen(name) > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  const char* base = name;
  if (StartsWith(name, kGlobalPrefix)) {
    parsed->global = true;
    base += sizeof(kGlobalPrefix) - 1;
  } else if (StartsWith(name, kLocalPrefix)) {
    base += sizeof(kLocalPrefix) - 1;
  }
  if (std::strchr(base, '\\') != nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  parsed->base = base;
  parsed->key = (parsed->global ? "G:" : "L:") + parsed->base;
  return true;
}

std::shared_ptr<Waitable> FindOrMakeNamed(const ObjectName& name, KindTest is_kind,
                                          const std::function<std::shared_ptr<Waitable>()>& make,
                                          bool* existed) {
  return NamedObjectTable::Get().FindOrMake(name, is_kind, make, existed);
}

}  // namespace opossvc::detail
