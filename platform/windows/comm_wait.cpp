// WaitCommInput over the Win32 calls alone. The only call that tells how
// many bytes wait, ClearCommError, also clears the line errors that the
// caller's own ClearCommError must see; so this wait does not look at the
// queue: it ends when the time is up or the port's event mask changes, and
// the caller reads what has come meanwhile.
#include "platform/internal/comm_wait.h"

#include <windows.h>

namespace opossvc::detail {
namespace {

constexpr DWORD kMaskInterval = 5;  // ms between looks at the event mask

}  // namespace

BOOL WaitCommInput(HANDLE port, DWORD* events, DWORD timeout_ms) {
  if (events == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *events = 0;
  DWORD mask = 0;
  if (!GetCommMask(port, &mask)) return FALSE;
  if (mask == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    const ULONGLONG elapsed = GetTickCount64() - start;
    if (timeout_ms != INFINITE && elapsed >= timeout_ms) return TRUE;
    const DWORD left =
        timeout_ms == INFINITE ? kMaskInterval : static_cast<DWORD>(timeout_ms - elapsed);
    Sleep(left < kMaskInterval ? left : kMaskInterval);
    DWORD now_mask = 0;
    if (!GetCommMask(port, &now_mask)) return FALSE;
    if (now_mask != mask) return TRUE;
  }
}

}  // namespace opossvc::detail
