// A registry facility of the library's own, beside the Win32 calls: a group
// of registry writes of the calling thread that reach the registry at once
// or not at all, for callers that write many values (an import) and want
// neither a commit per value nor half of a unit they define.
//
// Between Begin and Commit, every Reg* write of the calling thread on the
// store that OPOS_ROOT names at Begin joins one transaction of that store;
// each write still succeeds or fails whole, and the thread reads what it
// wrote. Other writers, in this process and in others, wait until the group
// ends, so a caller keeps groups short. A group that is neither committed
// nor begun anew when the object is destroyed is rolled back, and so is one
// whose process dies: the registry then holds what it held before Begin.
// Begin fails (and writes then go through one by one) when the store cannot
// be written or stays busy; Commit fails when the group was lost (the store
// was closed under it, as around fork() in another thread) or could not be
// written, and then nothing of it is in the registry.
//
// Every platform provides it. The POSIX store keeps one SQLite transaction
// open; where writes go straight to a registry that has no transactions,
// Begin and Commit succeed and do nothing, and each write stands alone.
#ifndef OPOSSVC_PLATFORM_INTERNAL_REGISTRY_WRITE_GROUP_H_
#define OPOSSVC_PLATFORM_INTERNAL_REGISTRY_WRITE_GROUP_H_

#include <memory>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

class RegistryWriteGroup {
 public:
  RegistryWriteGroup();
  ~RegistryWriteGroup();
  RegistryWriteGroup(const RegistryWriteGroup&) = delete;
  RegistryWriteGroup& operator=(const RegistryWriteGroup&) = delete;

  // ERROR_SUCCESS, or why no group was begun. A group already open is
  // rolled back first.
  LONG Begin();
  // ERROR_SUCCESS when what was written since Begin is in the registry
  // (also when no group is open), else the store's error.
  LONG Commit();
  bool open() const { return state_ != nullptr; }

 private:
  std::shared_ptr<void> state_;  // the platform's; null when no group is open
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_REGISTRY_WRITE_GROUP_H_
