// The event thread's delivery loop and the queueing entry point.
#include <algorithm>

#include <opossvc/svcbase.h>

#include "platform/internal/yielding_wakeups.h"
#include "svcbase/delivery_flags.h"
#include "svcbase/direct_io_string.h"
#include "svcbase/idle_pause.h"

using opossvc::detail::FreeDirectIOString;
using opossvc::detail::IdlePause;
using opossvc::detail::kLongestPause;
using opossvc::detail::LoadFlag;

namespace {

// The handler result that asks for the same event to be sent again.
constexpr LRESULT kDeliverAgain = 1;
// The last handler result before any send.
constexpr LRESULT kNotSent = -2;

}  // namespace

UINT CSvcBase::QueueEvent(long lEventType, long lData1, long lData2, LONG_PTR lData3) {
  if (static_cast<DWORD>(lEventType) == OPOS_EVENT_STATUSUPDATE && !LoadFlag(m_bDeviceEnabled)) {
    return 0;
  }
  m_Event.QueueEvent(lEventType, lData1, lData2, lData3);
  return 0;
}

// One record at a time: take the head, wait until the delivery rules let it
// through (or the object closes), send it to the window, repeat the send
// while the handler answers 1. The record has left the queue before the wait,
// so producers are never blocked by a held event.
//
// Waits. An empty queue is waited on until QueueEvent signals a record or
// EventThread::Stop a close. The flags are plain members that nothing
// signals, so a wait for them re-tests them after each pause that
// m_dwIdleSleep asks for. Every pause is cut at kLongestPause to re-test
// m_bOpened, which a service object may also clear by itself.
UINT CSvcBase::ProcessEvents() {
  // Each predicate reads the flags afresh; they change under our feet.
  auto is_open = [this] { return LoadFlag(m_bOpened) != 0; };
  auto is_held = [this] { return LoadFlag(m_bFreezeEvents) != 0 || LoadFlag(m_bHoldEvents) != 0; };
  auto may_deliver = [this] { return LoadFlag(m_bDeliverEvents) != 0; };
  auto idle_sleep = [this] { return LoadFlag(m_dwIdleSleep); };
  auto sleep_while = [&](auto&& blocked) {
    while (blocked()) Sleep(std::min(IdlePause(idle_sleep()), kLongestPause));
  };
  // With nothing queued only a close can change what happens next: Stop
  // wakes the wait, and a cleared m_bOpened alone is seen within
  // kLongestPause, so that an open object without events costs no CPU.
  auto wait_for_record = [&] { m_Event.WaitForQueueing(kLongestPause); };
  // Between repeats of a record whose handler answered 1: m_dwIdleSleep as
  // it stands (0 yields, as the handler asked for the repeat), cut short
  // when the object closes.
  auto pause_before_repeat = [&] {
    const DWORD pause = idle_sleep();
    if (pause == 0) {
      Sleep(0);
      return;
    }
    const DWORD start = GetTickCount();
    for (;;) {
      const DWORD elapsed = GetInterval(start);
      if (!is_open() || (pause != INFINITE && elapsed >= pause)) return;
      Sleep(std::min(pause - elapsed, kLongestPause));
    }
  };
  // Data and error records: wait until the object is open, not held, and
  // delivery, data events and (unless auto-disable lets data through) the
  // device are enabled. "Open" is m_bOpened nonzero throughout, so a data
  // event is never sent while frozen, whatever nonzero value means open.
  auto wait_for_input_event = [&](bool device_enable_needed) {
    sleep_while([&] {
      return is_open() && (is_held() || !may_deliver() || !LoadFlag(m_bDataEventEnabled) ||
                           (device_enable_needed && !LoadFlag(m_bDeviceEnabled)));
    });
  };
  auto send = [this](DWORD type) -> LRESULT {
    return ::SendMessageA(m_hWnd, WM_OPOS_EVENT, static_cast<WPARAM>(type), 0);
  };

  // One delivery attempt; returns the handler result, or `last` when the
  // record was not sent.
  auto attempt = [&](DWORD type, LRESULT last) -> LRESULT {
    switch (type) {
      case OPOS_EVENT_DATA:
        wait_for_input_event(!(LoadFlag(m_bAutoDisableSpecial) && LoadFlag(m_bAutoDisable)));
        return is_open() && may_deliver() ? send(type) : last;
      case OPOS_EVENT_ERROR:
        wait_for_input_event(true);
        return is_open() && may_deliver() ? send(type) : last;
      case OPOS_EVENT_DIRECTIO:
        if (LoadFlag(m_bDirectIOAlways)) {
          sleep_while([&] { return is_open() && is_held(); });
          return is_open() ? send(type) : last;
        }
        sleep_while([&] { return is_open() && may_deliver() && is_held(); });
        return is_open() && may_deliver() ? send(type) : last;
      case OPOS_EVENT_OUTPUTCOMPLETE:
      case OPOS_EVENT_STATUSUPDATE:
        sleep_while([&] { return is_open() && is_held(); });
        return is_open() && may_deliver() ? send(type) : last;
      default:
        return last;  // unknown types are taken and dropped
    }
  };

  UINT count = 0;
  if (!is_open()) return 0;
  // Woken by QueueEvent, this thread waits for the queueing thread to block
  // before it sends, so that the window's thread is woken on this processor.
  opossvc::detail::YieldingWakeups yielding;
  for (;;) {
    sleep_while([&] { return is_open() && is_held(); });
    if (!is_open()) return count;

    ULONG_PTR type = 0;
    if (!m_Event.GetFirstData(&type, &m_dwEventData1, &m_dwEventData2, &m_dwEventData3, TRUE)) {
      wait_for_record();
    } else {
      ++count;
      DWORD event_type = static_cast<DWORD>(type);
      LRESULT last = attempt(event_type, kNotSent);
      while (last == kDeliverAgain && is_open()) {
        // Pause between repeats so that a handler that keeps answering 1
        // does not keep the window's thread busy without a break.
        pause_before_repeat();
        last = attempt(event_type, last);
      }
      if (event_type == OPOS_EVENT_DIRECTIO) FreeDirectIOString(m_dwEventData3);
    }
    if (!is_open()) return count;
  }
}
