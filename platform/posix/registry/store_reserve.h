// Disk space set aside beside the registry store, so that deleting works
// when the disk is full.
//
// Every write to the store, a delete too, first appends to its log (WAL),
// which needs free space; on a full disk nothing could be deleted to make
// room. So the store keeps a file of its own, "<store>-reserve", of
// kReserveBytes allocated blocks (0600, for nobody else needs it). A delete
// that fails with ERROR_DISK_FULL gives the reserve back to the file system
// and runs again; the reserve is made whole again where the disk has room.
// A reserve is never followed through a symbolic link, and only a regular
// file of this user's with no other name is grown or emptied, so that a
// link planted in the store's folder cannot make the store extend or empty
// another file.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_STORE_RESERVE_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_STORE_RESERVE_H_

#include <cstdint>
#include <string>

namespace opossvc::detail {

// Enough for a delete's log pages well beyond a device's keys and values.
inline constexpr int64_t kReserveBytes = 1 << 20;

// Grows the reserve at `path` to kReserveBytes of allocated space where the
// disk has room; quietly leaves it as it is where not.
void FillReserve(const std::string& path);

// Empties the reserve at `path`; true when it held space to give back.
bool ReleaseReserve(const std::string& path);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_STORE_RESERVE_H_
