// The POSIX side of registry_read_snapshot.h: which thread is inside a read
// snapshot scope, and the stores whose snapshot its outermost scope ends.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_READ_SNAPSHOT_SCOPE_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_READ_SNAPSHOT_SCOPE_H_

#include <memory>

namespace opossvc::detail {

class RegistryStore;

// Whether the calling thread is inside a RegistryReadSnapshot.
bool InReadSnapshot();

// Makes the calling thread's outermost scope end the store's snapshot
// (RegistryStore::EndReadSnapshot) when it ends; once per store.
void JoinReadSnapshot(std::shared_ptr<RegistryStore> store);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_READ_SNAPSHOT_SCOPE_H_
