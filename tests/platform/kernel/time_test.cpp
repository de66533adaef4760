#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

#include <opossvc/win32/sync.h>
#include <opossvc/win32/time.h>

#include "platform/posix/kernel/time_hooks.h"
#include "tests/support/scoped_env.h"

namespace {

TEST(TickCountTest, WrapsAt32BitsWhileTheWideCountGoesOn) {
  const ULONGLONG wide_before = GetTickCount64();
  opossvc::detail::SetTickCountForTesting(0xFFFFFFF0u);
  const DWORD start = GetTickCount();
  EXPECT_GE(start, 0xFFFFFFF0u);
  DWORD now = start;
  // Wait for the clock itself (not for a thread) to pass the wrap.
  for (int i = 0; i < 5000 && now >= start; ++i) {
    Sleep(1);
    now = GetTickCount();
  }
  const ULONGLONG wide = GetTickCount64();
  const DWORD narrow = GetTickCount();
  opossvc::detail::ResetTickCountForTesting();
  ASSERT_LT(now, start) << "the count did not wrap";
  // Unsigned difference across the wrap is the small true interval.
  EXPECT_LT(static_cast<DWORD>(now - start), 5000u);
  // The wide count moved on with it, and its low half is the narrow count.
  EXPECT_GE(wide, wide_before);
  EXPECT_LT(static_cast<DWORD>(narrow - static_cast<DWORD>(wide)), 1000u);
}

TEST(LocalTimeTest, FieldsMatchTheCalendar) {
  SYSTEMTIME before{}, local{}, after{};
  {
    opossvc::test_support::ScopedEnv tz("TZ", "UTC");
    tzset();
    GetSystemTime(&before);
    GetLocalTime(&local);
    GetSystemTime(&after);
  }
  tzset();
  // Under UTC the local date is the system date, read just before or after.
  auto date = [](const SYSTEMTIME& t) {
    return std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wDayOfWeek);
  };
  EXPECT_TRUE(date(local) == date(before) || date(local) == date(after));
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
