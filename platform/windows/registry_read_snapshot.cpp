// RegistryReadSnapshot on Windows: the system's registry has no snapshots
// to hold, so each read sees the registry as it is then.
#include "platform/internal/registry_read_snapshot.h"

namespace opossvc::detail {

RegistryReadSnapshot::RegistryReadSnapshot() = default;
RegistryReadSnapshot::~RegistryReadSnapshot() = default;

}  // namespace opossvc::detail
