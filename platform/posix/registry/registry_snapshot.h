// Snapshots of the store, for the users who may not open the store itself.
//
// A snapshot is a copy of the store as one commit left it, written beside the
// store under a private name and renamed into place whole, so that a reader
// opens the copy before a write or the copy after it, never a part of one.
// Nothing changes a snapshot once it is in place, so readers open it
// immutable and take no locks; and a lock that anyone holds on it concerns
// no writer, since the next snapshot replaces it by name.
//
// Publications are ordered across processes by an exclusive lock on the
// private file registry.db-publish, taken before the copy is read: a
// snapshot that replaces another is never the older of the two.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_SNAPSHOT_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_SNAPSHOT_H_

#include <string>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

// Copies what the store at `store` holds committed now into its snapshot;
// with `durable`, the snapshot and its name are on disk on return. The cost
// is a copy of the whole store. ERROR_SUCCESS also when there is nothing to
// publish: no store, a store replaced by another while it was copied, or a
// folder that this process may not write (no snapshot is kept there, and
// readers read the store itself as far as its modes let them).
LONG PublishSnapshot(const std::string& store, bool durable);

// Makes the snapshot in place and its name durable, as a durable
// PublishSnapshot would have made them; ERROR_SUCCESS when there is none.
LONG SyncSnapshot(const std::string& store);

// Whether the snapshot may hold the store's last commit: it exists and is
// no older than the store file and its log. A writer that ends between a
// commit and its publication leaves the snapshot older than the log.
bool SnapshotCurrent(const std::string& store);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_SNAPSHOT_H_
