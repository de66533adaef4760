// How long a thread of the framework pauses before it tests again a
// condition that nothing signals: the delivery flags, which service objects
// write directly, and the open flag, whose clearing the library cannot see.
//
// m_dwIdleSleep names that pause. Taken literally, 0 would re-test without
// pausing and keep a core busy for as long as the object is open, so 0 gets
// kShortestPause instead: short enough that a flag change still takes effect
// before an application could tell. The re-tests happen only while a record
// waits for the flags (a timed wake-up costs 25 to 60 us of CPU on a small
// virtual machine, up to 0.6 % of a core at this rate).
//
// kLongestPause bounds every pause of the event thread, so that a cleared
// m_bOpened ends it within that time whatever m_dwIdleSleep says, INFINITE
// included; it is also the whole pause of an empty queue, where nothing but
// a close matters and the close that EventThread::Stop makes wakes it.
#ifndef OPOSSVC_SVCBASE_IDLE_PAUSE_H_
#define OPOSSVC_SVCBASE_IDLE_PAUSE_H_

#include <opossvc/win32/types.h>

namespace opossvc::detail {

inline constexpr DWORD kShortestPause = 10;  // ms
inline constexpr DWORD kLongestPause = 50;   // ms

// The pause that m_dwIdleSleep asks for, 0 read as kShortestPause.
constexpr DWORD IdlePause(DWORD idle_sleep) {
  return idle_sleep == 0 ? kShortestPause : idle_sleep;
}

}  // namespace opossvc::detail

#endif  // OPOSSVC_SVCBASE_IDLE_PAUSE_H_
