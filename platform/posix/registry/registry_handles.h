// The process's table of open registry keys.
//
// An HKEY is an opaque number, never an address: multiples of 4 from
// 0x40000000, never reused within a process and never one of the predefined
// roots (0x80000000 to 0x800000FF), so a stale, forged or foreign handle is
// answered with ERROR_INVALID_HANDLE instead of a crash or another key.
// Several handles may name one key; each holds the store it was opened on,
// so a handle keeps working on that store when OPOS_ROOT changes later.
// The predefined roots are not in the table: they name the root keys of
// whichever store OPOS_ROOT names at the time of the call.
//
// Thread-safe: one mutex guards the table and is held only to look up,
// insert or remove; the store is used without it.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_HANDLES_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_HANDLES_H_

#include <memory>

#include <opossvc/win32/types.h>

#include "platform/posix/registry/registry_store.h"

namespace opossvc::detail {

struct OpenKey {
  std::shared_ptr<RegistryStore> store;
  KeyId id = 0;
  REGSAM access = 0;  // what the handle was granted (KEY_* rights)
};

// The key behind `key`: a predefined root (all rights) or an open handle.
// ERROR_INVALID_HANDLE for anything else.
LONG ResolveKey(HKEY key, OpenKey* out);

// Enters an open key and returns its new handle in *out.
LONG InsertKey(OpenKey key, HKEY* out);

// Closes a handle. Closing a predefined root does nothing and succeeds.
LONG RemoveKey(HKEY key);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_HANDLES_H_
