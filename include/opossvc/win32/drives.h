// Drive types. On POSIX a drive letter is a folder of the drive map (see the
// paths section of the design: C: is $OPOS_ROOT/drive_c, Z: is /, and
// $OPOS_DRIVE_X maps X:). GetDriveTypeA answers from that map: an unmapped
// letter, or a mapped folder that does not exist, has no root directory; an
// existing folder is a fixed drive unless its file system says otherwise
// (network file systems are remote, tmpfs and ramfs RAM disks, ISO 9660 and
// UDF CD-ROMs).
#ifndef OPOSSVC_WIN32_DRIVES_H_
#define OPOSSVC_WIN32_DRIVES_H_

#include <opossvc/export.h>
#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/win32/types.h>

#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

// lpRootPathName is a drive root: "X:\" (or "X:/", or "X:"), or "\" for the
// root of the current drive, which is C: as for paths without a drive; null
// asks for the current drive too. Anything that is not a root, a path below
// a root included, gives DRIVE_NO_ROOT_DIR.
OPOSSVC_API UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_DRIVES_H_
