#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>

#include <opossvc/win32/sync.h>
#include <opossvc/win32/time.h>

#include "platform/posix/kernel/time_hooks.h"

namespace {

class TickCountTest : public ::testing::Test {
 protected:
  void TearDown() override { opossvc::detail::ResetTickCountForTesting(); }
};

TEST_F(TickCountTest, WrapsAt32BitsWhileTheWideCountGoesOn) {
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
  ASSERT_LT(now, start) << "the count did not wrap";
  // Unsigned difference across the wrap is the small true interval.
  EXPECT_LT(static_cast<DWORD>(now - start), 5000u);
  // The wide count moved on with it, and its low half is the narrow count.
  const ULONGLONG wide = GetTickCount64();
  const DWORD narrow = GetTickCount();
  EXPECT_GE(wide, wide_before);
  EXPECT_LT(static_cast<DWORD>(narrow - static_cast<DWORD>(wide)), 1000u);
}

TEST(LocalTimeTest, FieldsMatchTheCalendarAndATestSourceReplacesTheClock) {
  const char* saved = std::getenv("TZ");
  const std::string saved_tz = saved != nullptr ? saved : "";
  setenv("TZ", "UTC", 1);
  tzset();
  SYSTEMTIME before{}, local{}, after{};
  GetSystemTime(&before);
  GetLocalTime(&local);
  GetSystemTime(&after);
  saved != nullptr ? setenv("TZ", saved_tz.c_str(), 1) : unsetenv("TZ");
  tzset();

  // Under UTC the local date is the system date, read just before or after.
  auto date = [](const SYSTEMTIME& t) {
    return std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wDayOfWeek);
  };
  EXPECT_TRUE(date(local) == date(before) || date(local) == date(after));
  EXPECT_GE(local.wYear, 2020);
  EXPECT_TRUE(local.wMonth >= 1 && local.wMonth <= 12 && local.wDay >= 1 && local.wDay <= 31);
  EXPECT_TRUE(local.wHour <= 23 && local.wMinute <= 59 && local.wSecond <= 59);
  EXPECT_LE(local.wMilliseconds, 999);
  // The day of the week from the days since 1970-01-01, a Thursday.
  tm parts{};
  parts.tm_year = local.wYear - 1900;
  parts.tm_mon = local.wMonth - 1;
  parts.tm_mday = local.wDay;
  EXPECT_EQ(local.wDayOfWeek, static_cast<WORD>((timegm(&parts) / 86400 + 4) % 7));

  opossvc::detail::SetLocalTimeSourceForTesting(
      [](SYSTEMTIME* now) { *now = SYSTEMTIME{2024, 2, 4, 29, 23, 59, 59, 500}; });
  SYSTEMTIME t{};
  GetLocalTime(&t);
  opossvc::detail::SetLocalTimeSourceForTesting(nullptr);
  EXPECT_EQ(std::make_tuple(t.wYear, t.wDay, t.wMilliseconds), std::make_tuple(2024, 29, 500));
  GetLocalTime(&t);
  EXPECT_GE(t.wYear, 2020);
}

}  // namespace
