// When ReadFile and WriteFile on a serial port stop waiting, by the handle's COMMTIMEOUTS.
//
// Read (n = bytes asked for):
//   interval MAXDWORD, both totals 0          return at once with what has arrived;
//   interval and multiplier MAXDWORD,         return as soon as one byte is there, or after the
//     0 < constant < MAXDWORD                 constant when none comes;
//   otherwise                                 return when n bytes are there, when the total
//                                             (multiplier * n + constant; none when both are 0)
//                                             has passed since the call, or when the interval
//                                             (none when 0) has passed since the last byte
//                                             arrived, counted once a first byte is there.
// Write: the total (multiplier * n + constant) since the call; none when both are 0.
// A time-out is no error: the call returns TRUE with the bytes it moved.
#ifndef OPOSSVC_PLATFORM_INTERNAL_COMM_TIMEOUTS_H_
#define OPOSSVC_PLATFORM_INTERNAL_COMM_TIMEOUTS_H_

#include <chrono>
#include <optional>

#include <opossvc/win32/comm.h>

namespace opossvc::detail {

using CommClock = std::chrono::steady_clock;

class ReadTimeouts {
 public:
  ReadTimeouts(const COMMTIMEOUTS& timeouts, DWORD size, CommClock::time_point start);

  bool returns_at_once() const { return at_once_; }
  bool returns_on_first_byte() const { return first_byte_; }

  // Whether the read is over with `got` bytes, the last of them arrived at `last_arrival`.
  bool Done(DWORD got, CommClock::time_point last_arrival, CommClock::time_point now) const;
  // Until when to wait for more bytes; empty when there is no limit.
  std::optional<CommClock::time_point> Deadline(DWORD got,
                                                CommClock::time_point last_arrival) const;

 private:
  DWORD size_;
  bool at_once_ = false;
  bool first_byte_ = false;
  std::optional<CommClock::time_point> total_deadline_;
  std::optional<CommClock::duration> interval_;
};

// The moment a write of `size` bytes begun now gives up; empty when it never does (the clock is
// read only when a time-out applies).
std::optional<CommClock::time_point> WriteDeadline(const COMMTIMEOUTS& timeouts, DWORD size);

// Milliseconds from `now` to `deadline` for poll(): -1 for no deadline, 0 when it has passed,
// rounded up so that a wait never ends before the deadline.
int PollTimeoutMs(const std::optional<CommClock::time_point>& deadline, CommClock::time_point now);
// The same from the clock, read only when there is a deadline.
int PollTimeoutMs(const std::optional<CommClock::time_point>& deadline);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_COMM_TIMEOUTS_H_
