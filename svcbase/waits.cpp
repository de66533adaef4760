// Waits that keep the window thread's message queue serviced.
#include <algorithm>

#include <opossvc/svcbase.h>
#include <opossvc/win32/messages.h>

#include "svcbase/idle_pause.h"

namespace {

// Keyboard and non-client mouse input, and client-area mouse input.
constexpr UINT kKeyInputFirst = 0x00A0;
constexpr UINT kKeyInputLast = 0x0108;
constexpr UINT kMouseInputFirst = 0x0200;
constexpr UINT kMouseInputLast = 0x0209;

bool IsInputMessage(UINT message) {
  return (message >= kKeyInputFirst && message <= kKeyInputLast) ||
         (message >= kMouseInputFirst && message <= kMouseInputLast);
}

// Removes one waiting input message without dispatching it; false when none.
bool RemoveOneInputMessage() {
  MSG msg;
  return PeekMessageA(&msg, nullptr, kKeyInputFirst, kKeyInputLast, PM_REMOVE) ||
         PeekMessageA(&msg, nullptr, kMouseInputFirst, kMouseInputLast, PM_REMOVE);
}

}  // namespace

void CSvcBase::ProcessMessage(int bAllMessages, int bDiscardInput) {
  bool discarding = m_bRemoveKeyMessage || bDiscardInput;
  if (m_nPeekFirst != 0 || m_nPeekLast != 0) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, m_nPeekFirst, m_nPeekLast, PM_REMOVE)) {
      if (!(discarding && IsInputMessage(msg.message))) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      if (!bAllMessages) break;
    }
  }
  if (discarding) {
    while (RemoveOneInputMessage() && bAllMessages) {
    }
  }
}

namespace {

// Pumping is configured by a peek range, or by input discarding.
bool PumpingConfigured(const CSvcBase& so, int bDiscardInput) {
  return so.m_nPeekFirst != 0 || so.m_nPeekLast != 0 || so.m_bRemoveKeyMessage != 0 ||
         bDiscardInput != 0;
}

// The longest wait between two pumping passes: the smaller of the whole
// wait and m_dwIdleSleep. An m_dwIdleSleep of 0 would poll without pause;
// it waits the shortest pause instead, as the slice ends early anyway when
// a message arrives. A wait of 0 ms waits 1 ms per slice rather than
// polling until the tick count moves.
DWORD Slice(DWORD wait, DWORD idle_sleep) {
  return std::max<DWORD>(1, std::min(wait, opossvc::detail::IdlePause(idle_sleep)));
}

// Waits one slice for the objects (count 0 or 1) or for a message that has
// come since the last pass, sent or posted, whichever comes first. Returns
// the wait result, WAIT_TIMEOUT for a message.
DWORD WaitSlice(DWORD count, const HANDLE* objects, DWORD slice) {
  const DWORD result = MsgWaitForMultipleObjects(count, objects, FALSE, slice, QS_ALLINPUT);
  return result == WAIT_OBJECT_0 + count ? static_cast<DWORD>(WAIT_TIMEOUT) : result;
}

}  // namespace

void CSvcBase::SleepWPM(unsigned long ms, int bAllMessages, int bDiscardInput) {
  DWORD wait = static_cast<DWORD>(ms);
  if (!PumpingConfigured(*this, bDiscardInput)) {
    Sleep(wait);
    return;
  }
  DWORD start = GetTickCount();
  DWORD slice = Slice(wait, m_dwIdleSleep);
  do {
    ProcessMessage(bAllMessages, bDiscardInput);
    WaitSlice(0, nullptr, slice);
  } while (GetInterval(start) <= wait);
}

unsigned long CSvcBase::WaitForSingleObjectWPM(void* hObject, unsigned long dwTimeout,
                                               int bAllMessages, int bDiscardInput) {
  DWORD timeout = static_cast<DWORD>(dwTimeout);
  if (!PumpingConfigured(*this, bDiscardInput)) return WaitForSingleObject(hObject, timeout);
  DWORD start = GetTickCount();
  DWORD slice = Slice(timeout, m_dwIdleSleep);
  DWORD result;
  do {
    ProcessMessage(bAllMessages, bDiscardInput);
    result = WaitSlice(1, &hObject, slice);
    if (result != WAIT_TIMEOUT) return result;
  } while (GetInterval(start) <= timeout);  // INFINITE is never exceeded
  return result;
}
