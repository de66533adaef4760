// The one map from an errno value to the Win32 error that the same failure
// gives on Windows. Callers whose context gives an errno another meaning (a
// serial device that is absent, a lock that is refused) test for it before
// calling, and say why there.
#ifndef OPOSSVC_PLATFORM_POSIX_FILES_ERRNO_MAP_H_
#define OPOSSVC_PLATFORM_POSIX_FILES_ERRNO_MAP_H_

#include <opossvc/win32/errors.h>
#include <opossvc/win32/types.h>

namespace opossvc::detail {

// ERROR_SUCCESS for 0; `otherwise` for an errno the map does not know.
DWORD Win32ErrorFromErrno(int error, DWORD otherwise = ERROR_GEN_FAILURE);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_FILES_ERRNO_MAP_H_
