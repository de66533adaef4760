// Elapsed-time arithmetic behind the two GetInterval forms, on given
// readings so that wraps and calendar edges can be checked without waiting
// for them.
#ifndef OPOSSVC_SVCBASE_INTERVAL_H_
#define OPOSSVC_SVCBASE_INTERVAL_H_

#include <opossvc/win32/time.h>
#include <opossvc/win32/types.h>

namespace opossvc::detail {

// now - start in unsigned 32-bit arithmetic: one wrap of the tick counter
// between the readings is harmless.
DWORD TickInterval(DWORD start, DWORD now);

// Milliseconds from start to now by millisecond of the day and day number
// (1 January 1980 is day 1); wraps like the tick form when start is later
// than now or the span exceeds 2^32 ms. Fields out of their calendar range
// give a meaningless but defined result.
DWORD LocalTimeInterval(const SYSTEMTIME& start, const SYSTEMTIME& now);

}  // namespace opossvc::detail

#endif  // OPOSSVC_SVCBASE_INTERVAL_H_
