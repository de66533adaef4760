#include "svcbase/interval.h"

#include <cstdint>

#include <opossvc/svcbase.h>

namespace opossvc::detail {
namespace {

constexpr DWORD kMillisecondsPerDay = 86400000;
constexpr DWORD kDayNumberOffset = 723179;  // makes 1 January 1980 day 1
constexpr DWORD kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

bool IsLeapYear(DWORD year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

DWORD MillisecondOfDay(const SYSTEMTIME& t) {
  return ((DWORD{t.wHour} * 60 + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
}

// Computed wide and signed, then taken modulo 2^32: only differences of day
// numbers are used.
DWORD DayNumber(const SYSTEMTIME& t) {
  int64_t year = t.wYear;
  int64_t month = t.wMonth;
  int64_t before_month = (month >= 1 && month <= 12) ? kDaysBeforeMonth[month - 1] : 0;
  int64_t prior = year - 1;
  int64_t day = 365 * year + prior / 4 - prior / 100 + prior / 400 + before_month + t.wDay -
                kDayNumberOffset;
  if (month > 2 && IsLeapYear(static_cast<DWORD>(year))) ++day;
  return static_cast<DWORD>(day);
}

}  // namespace

DWORD TickInterval(DWORD start, DWORD now) { return now - start; }

DWORD LocalTimeInterval(const SYSTEMTIME& start, const SYSTEMTIME& now) {
  return (MillisecondOfDay(now) - MillisecondOfDay(start)) +
         (DayNumber(now) - DayNumber(start)) * kMillisecondsPerDay;
}

}  // namespace opossvc::detail

unsigned long GetInterval(unsigned long tick) {
  return opossvc::detail::TickInterval(static_cast<DWORD>(tick), GetTickCount());
}

unsigned long GetInterval(const SYSTEMTIME& start) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return opossvc::detail::LocalTimeInterval(start, now);
}
