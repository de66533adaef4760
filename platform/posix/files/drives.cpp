// Drive types over the drive map of environment.h.
#include <opossvc/win32/drives.h>

#include <sys/stat.h>
#include <sys/statfs.h>

#include <string>

#include "platform/posix/files/environment.h"

namespace opossvc::detail {
namespace {

// File-system magic numbers (linux/magic.h), spelled out so that no kernel
// header is needed.
constexpr long kNfsMagic = 0x6969;
constexpr long kSmbMagic = 0x517B;
constexpr long kCifsMagic = 0xFF534D42;
constexpr long kSmb2Magic = 0xFE534D42;
constexpr long kFuseMagic = 0x65735546;
constexpr long kTmpfsMagic = 0x01021994;
constexpr long kRamfsMagic = 0x858458F6;
constexpr long kIso9660Magic = 0x9660;
constexpr long kUdfMagic = 0x15013346;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

UINT TypeOfFolder(const std::string& folder) {
  struct stat info {};
  if (folder.empty() || stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return DRIVE_NO_ROOT_DIR;
  }
  struct statfs fs {};
  if (statfs(folder.c_str(), &fs) != 0) return DRIVE_FIXED;
  switch (static_cast<long>(fs.f_type)) {
    case kNfsMagic:
    case kSmbMagic:
    case kCifsMagic:
    case kSmb2Magic:
    case kFuseMagic:
      return DRIVE_REMOTE;
    case kTmpfsMagic:
    case kRamfsMagic:
      return DRIVE_RAMDISK;
    case kIso9660Magic:
    case kUdfMagic:
      return DRIVE_CDROM;
    default:
      return DRIVE_FIXED;
  }
}

}  // namespace
}  // namespace opossvc::detail

UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName) {
  using opossvc::detail::IsSeparator;
  std::string root = lpRootPathName != nullptr ? lpRootPathName : "\\";
  if (root.size() == 1 && IsSeparator(root[0])) {
    return opossvc::detail::TypeOfFolder(opossvc::detail::DriveRoot('C'));
  }
  bool drive_form = (root.size() == 2 || (root.size() == 3 && IsSeparator(root[2]))) && root[1] == ':';
  if (!drive_form) return DRIVE_NO_ROOT_DIR;
  return opossvc::detail::TypeOfFolder(opossvc::detail::DriveRoot(root[0]));
}
