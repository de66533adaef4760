// Write groups on the SQLite store: one transaction of the store that was
// current at Begin.
#include "platform/internal/registry_write_group.h"

#include <utility>

#include <opossvc/win32/errors.h>

#include "platform/posix/registry/registry_store.h"

namespace opossvc::detail {

RegistryWriteGroup::RegistryWriteGroup() = default;

RegistryWriteGroup::~RegistryWriteGroup() {
  if (state_) std::static_pointer_cast<RegistryStore>(state_)->EndGroup(false);
}

LONG RegistryWriteGroup::Begin() {
  if (state_) std::static_pointer_cast<RegistryStore>(std::exchange(state_, nullptr))->EndGroup(false);
  std::shared_ptr<RegistryStore> store = RegistryStore::Current();
  if (LONG error = store->BeginGroup()) return error;
  state_ = std::move(store);
  return ERROR_SUCCESS;
}

LONG RegistryWriteGroup::Commit() {
  if (!state_) return ERROR_SUCCESS;
  return std::static_pointer_cast<RegistryStore>(std::exchange(state_, nullptr))->EndGroup(true);
}

}  // namespace opossvc::detail
