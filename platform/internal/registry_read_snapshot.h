// A scope in which the registry reads of one thread see the registry as it
// was at one moment, for callers inside the library that read several keys
// and values and must not mix two states of the registry: a device lookup
// follows a logical name to a device key and reads its entry.
//
// While the outermost object of a thread lives, the Reg* reads of that
// thread answer from one read snapshot of each store they reach, taken at
// the first read: no commit of another thread or process, whole or in part,
// shows in between, and their text is converted in the code page active
// at the first call. A write of the thread itself ends the snapshot; the
// reads after it see a new one that holds the write. Objects nest: an inner
// one joins the snapshot of the outer one. Meanwhile the other threads of
// the process that use the same store wait for the scope to end, so a scope
// covers a few registry calls and nothing that waits for another thread.
//
// Every platform provides it. The POSIX store holds one read transaction of
// its database for the scope; where the system's registry is used it does
// nothing, each call reading the registry as it is then.
#ifndef OPOSSVC_PLATFORM_INTERNAL_REGISTRY_READ_SNAPSHOT_H_
#define OPOSSVC_PLATFORM_INTERNAL_REGISTRY_READ_SNAPSHOT_H_

namespace opossvc::detail {

class RegistryReadSnapshot {
 public:
  RegistryReadSnapshot();
  ~RegistryReadSnapshot();
  RegistryReadSnapshot(const RegistryReadSnapshot&) = delete;
  RegistryReadSnapshot& operator=(const RegistryReadSnapshot&) = delete;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_REGISTRY_READ_SNAPSHOT_H_
