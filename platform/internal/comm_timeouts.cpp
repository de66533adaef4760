#include "platform/internal/comm_timeouts.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace opossvc::detail {
namespace {

// Longer than any test or device would wait, short enough that time_point arithmetic cannot
// overflow (a MAXDWORD multiplier times a large count is about 2^64 ms).
constexpr uint64_t kLongestWaitMs = uint64_t{1} << 40;

std::optional<CommClock::time_point> TotalDeadline(DWORD multiplier, DWORD constant, DWORD size,
                                                   CommClock::time_point start) {
  if (multiplier == 0 && constant == 0) return std::nullopt;
  uint64_t ms = uint64_t{multiplier} * size;
  ms = std::min(ms, kLongestWaitMs) + constant;
  return start + std::chrono::milliseconds(std::min(ms, kLongestWaitMs));
}

}  // namespace

ReadTimeouts::ReadTimeouts(const COMMTIMEOUTS& t, DWORD size, CommClock::time_point start)
    : size_(size) {
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
      t.ReadTotalTimeoutConstant == 0) {
    at_once_ = true;
    return;
  }
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
      t.ReadTotalTimeoutConstant != 0) {
    first_byte_ = true;
    if (t.ReadTotalTimeoutConstant != MAXDWORD) {
      total_deadline_ = start + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
    }
    return;
  }
  total_deadline_ =
      TotalDeadline(t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, size, start);
  if (t.ReadIntervalTimeout != 0) interval_ = std::chrono::milliseconds(t.ReadIntervalTimeout);
}

bool ReadTimeouts::Done(DWORD got, CommClock::time_point last_arrival,
                        CommClock::time_point now) const {
  if (got >= size_ || at_once_) return true;
  if (first_byte_ && got > 0) return true;
  std::optional<CommClock::time_point> deadline = Deadline(got, last_arrival);
  return deadline && now >= *deadline;
}

std::optional<CommClock::time_point> ReadTimeouts::Deadline(
    DWORD got, CommClock::time_point last_arrival) const {
  std::optional<CommClock::time_point> deadline = total_deadline_;
  if (interval_ && got > 0) {
    CommClock::time_point gap_end = last_arrival + *interval_;
    deadline = deadline ? std::min(*deadline, gap_end) : gap_end;
  }
  return deadline;
}

std::optional<CommClock::time_point> WriteDeadline(const COMMTIMEOUTS& t, DWORD size) {
  if (t.WriteTotalTimeoutMultiplier == 0 && t.WriteTotalTimeoutConstant == 0) return std::nullopt;
  return TotalDeadline(t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant, size,
                       CommClock::now());
}

int PollTimeoutMs(const std::optional<CommClock::time_point>& deadline, CommClock::time_point now) {
  if (!deadline) return -1;
  if (now >= *deadline) return 0;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
  return static_cast<int>(std::min<int64_t>(left, std::numeric_limits<int>::max()));
}

int PollTimeoutMs(const std::optional<CommClock::time_point>& deadline) {
  return deadline ? PollTimeoutMs(deadline, CommClock::now()) : -1;
}

}  // namespace opossvc::detail
