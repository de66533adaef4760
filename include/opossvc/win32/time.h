// Tick counts and calendar time.
//
// GetTickCount is milliseconds of a monotonic clock (time since boot,
// suspended time included); it
// never goes back and wraps to 0 after 2^32 ms, about 49.7 days.
// GetTickCount64 is the same count without the wrap: GetTickCount() is always
// its low 32 bits. GetLocalTime uses the TZ setting of the process.
#ifndef OPOSSVC_WIN32_TIME_H_
#define OPOSSVC_WIN32_TIME_H_

#include <opossvc/export.h>
#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/win32/types.h>

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;      // 1..12
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;        // 1..31
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

OPOSSVC_API DWORD WINAPI GetTickCount(void);
OPOSSVC_API ULONGLONG WINAPI GetTickCount64(void);
OPOSSVC_API VOID WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
OPOSSVC_API VOID WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_TIME_H_
