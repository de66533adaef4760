#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/svcbase.h>

#include "svcbase/interval.h"

namespace {

using opossvc::detail::LocalTimeInterval;
using opossvc::detail::TickInterval;

SYSTEMTIME At(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms) {
  return SYSTEMTIME{y, mo, 0, d, h, mi, s, ms};
}

// Both intervals wrap at 2^32 ms; a malformed SYSTEMTIME gives some value,
// never a read outside the month table.
TEST(IntervalTest, IntervalsWrapAndSurviveCalendarEdgesAndBadFields) {
  EXPECT_EQ(TickInterval(0xFFFFFFF0u, 0x00000010u), 0x20u);  // taken just before the wrap
  EXPECT_EQ(TickInterval(500, 400), 0xFFFFFF9Cu);            // a start in the future wraps too
  const std::tuple<const char*, SYSTEMTIME, SYSTEMTIME, DWORD> cases[] = {
      {"midnight", At(2023, 7, 14, 23, 59, 59, 900), At(2023, 7, 15, 0, 0, 0, 100), 200},
      {"leap February end", At(2024, 2, 28, 23, 59, 59, 500), At(2024, 3, 1, 0, 0, 0, 250),
       86400750},
      {"century not leap", At(1900, 2, 28, 23, 59, 59, 500), At(1900, 3, 1, 0, 0, 0, 250), 750},
      {"400th year leap", At(2000, 2, 28, 23, 59, 59, 500), At(2000, 3, 1, 0, 0, 0, 250), 86400750},
      {"year end", At(2023, 12, 31, 23, 59, 59, 500), At(2024, 1, 1, 0, 0, 0, 250), 750},
      {"start later wraps", At(2024, 1, 1, 0, 0, 1, 0), At(2024, 1, 1, 0, 0, 0, 0),
       static_cast<DWORD>(-1000)},
      {"span beyond 2^32 ms wraps", At(2024, 1, 1, 0, 0, 0, 0), At(2024, 3, 1, 0, 0, 0, 0),
       static_cast<DWORD>(60ull * 86400000ull)},
  };
  for (const auto& [name, start, now, expected] : cases) {
    EXPECT_EQ(LocalTimeInterval(start, now), expected) << name;
  }
  SYSTEMTIME bad = At(0, 0, 0, 99, 99, 99, 9999);
  SYSTEMTIME worse = At(65535, 13, 99, 0, 0, 0, 0);
  (void)LocalTimeInterval(bad, worse);
  (void)LocalTimeInterval(worse, bad);
}

}  // namespace
