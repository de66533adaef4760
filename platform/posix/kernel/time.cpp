// Tick counts and calendar time.
#include <opossvc/win32/time.h>

#include <time.h>

#include <atomic>

#include "platform/posix/kernel/time_hooks.h"

namespace opossvc::detail {
namespace {

// Test hooks; both zero (no effect) unless a test sets them.
std::atomic<uint64_t> tick_bias{0};
std::atomic<LocalTimeSource> local_time_source{nullptr};

// Time since boot, suspended time included, as the tick count counts it.
uint64_t MonotonicMilliseconds() {
  timespec ts;
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void ToSystemTime(const timespec& ts, const tm& parts, SYSTEMTIME* out) {
  out->wYear = static_cast<WORD>(parts.tm_year + 1900);
  out->wMonth = static_cast<WORD>(parts.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
  out->wDay = static_cast<WORD>(parts.tm_mday);
  out->wHour = static_cast<WORD>(parts.tm_hour);
  out->wMinute = static_cast<WORD>(parts.tm_min);
  // A leap second (tm_sec 60) is folded into the minute's last second.
  out->wSecond = static_cast<WORD>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
  out->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

}  // namespace

void SetTickCountForTesting(DWORD value) {
  tick_bias.store(0);
  const uint64_t now = MonotonicMilliseconds();
  const DWORD low = static_cast<DWORD>(now);
  tick_bias.store(static_cast<DWORD>(value - low));
}

void ResetTickCountForTesting() { tick_bias.store(0); }

void SetLocalTimeSourceForTesting(LocalTimeSource source) { local_time_source.store(source); }

}  // namespace opossvc::detail

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(GetTickCount64()); }

ULONGLONG WINAPI GetTickCount64(void) {
  return opossvc::detail::MonotonicMilliseconds() +
         opossvc::detail::tick_bias.load(std::memory_order_relaxed);
}

VOID WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  if (opossvc::detail::LocalTimeSource source = opossvc::detail::local_time_source.load()) {
    source(lpSystemTime);
    return;
  }
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm parts;
  localtime_r(&ts.tv_sec, &parts);
  opossvc::detail::ToSystemTime(ts, parts, lpSystemTime);
}

VOID WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm parts;
  gmtime_r(&ts.tv_sec, &parts);
  opossvc::detail::ToSystemTime(ts, parts, lpSystemTime);
}
