#include <opossvc/win32/errors.h>

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}  // namespace

void WINAPI SetLastError(DWORD dwErrCode) { last_error = dwErrCode; }

DWORD WINAPI GetLastError(void) { return last_error; }
