// Test hooks of the clock functions.
//
// Tests of code that measures intervals need the tick count near its 32-bit
// wrap and the local time at chosen calendar moments; these hooks provide
// both without touching the system clock. They affect the whole process.
#ifndef OPOSSVC_PLATFORM_POSIX_KERNEL_TIME_HOOKS_H_
#define OPOSSVC_PLATFORM_POSIX_KERNEL_TIME_HOOKS_H_

#include <opossvc/win32/time.h>
#include <opossvc/win32/types.h>

namespace opossvc::detail {

// From now on GetTickCount() reads `value` and counts on from there;
// GetTickCount64() moves by the same amount (forward, less than 2^32 ms), so
// both stay monotonic between calls of this hook.
void SetTickCountForTesting(DWORD value);
// Undoes SetTickCountForTesting.
void ResetTickCountForTesting();

// GetLocalTime() answers from `source` instead of the system clock; null
// restores the system clock.
using LocalTimeSource = void (*)(SYSTEMTIME* now);
void SetLocalTimeSourceForTesting(LocalTimeSource source);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_KERNEL_TIME_HOOKS_H_
