#include <gtest/gtest.h>

#include <ctime>

#include <opossvc/win32/sync.h>
#include <opossvc/win32/time.h>

#include "platform/posix/kernel/time_hooks.h"

namespace {

TEST(TickCountTest, WrapsAt32Bits) {
  opossvc::detail::SetTickCountForTesting(0xFFFFFFF0u);
  const DWORD start = GetTickCount();
  EXPECT_GE(start, 0xFFFFFFF0u);
  DWORD now = start;
  // Wait for the clock itself (not for a thread) to pass the wrap.
  for (int i = 0; i < 5000 && now >= start; ++i) {
    Sleep(1);
    now = GetTickCount();
  }
  opossvc::detail::ResetTickCountForTesting();
  ASSERT_LT(now, start) << "the count did not wrap";
  // Unsigned difference across the wrap is the small true interval.
  EXPECT_LT(static_cast<DWORD>(now - start), 5000u);
}

TEST(LocalTimeTest, FieldsMatchTheCalendar) {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  EXPECT_GE(local.wYear, 2020);
  EXPECT_TRUE(local.wHour <= 23 && local.wMinute <= 59 && local.wMilliseconds <= 999);
  // The day of the week from the days since 1970-01-01, a Thursday.
  tm parts{};
  parts.tm_year = local.wYear - 1900;
  parts.tm_mon = local.wMonth - 1;
  parts.tm_mday = local.wDay;
  EXPECT_EQ(local.wDayOfWeek, static_cast<WORD>((timegm(&parts) / 86400 + 4) % 7));
}

}  // namespace
