// RegistryWriteGroup on Windows: the system's registry has no transactions
// that Reg* writes join, so a group is empty and each write stands alone.
#include "platform/internal/registry_write_group.h"

namespace opossvc::detail {

RegistryWriteGroup::RegistryWriteGroup() = default;
RegistryWriteGroup::~RegistryWriteGroup() = default;

LONG RegistryWriteGroup::Begin() { return ERROR_SUCCESS; }

LONG RegistryWriteGroup::Commit() { return ERROR_SUCCESS; }

}  // namespace opossvc::detail
