// Writing and reading the delivery flags of a service object while its event
// thread runs.
//
// CSvcBase's delivery flags (m_bOpened, m_bDeviceEnabled, m_bFreezeEvents,
// m_bDeliverEvents, ...) and m_dwIdleSleep are plain 32-bit members that the
// event thread polls without a lock, with relaxed atomic loads. Code that
// changes them while an event thread runs writes them with SetFlag, so that
// every access is atomic and the program stays data-race free:
//
//   opossvc::SetFlag(m_bDeviceEnabled, 1);
//
// Relaxed order: a flag carries no data with it. Whatever the event handler
// reads besides the flag is published by the sent event message itself.
#ifndef OPOSSVC_FLAGS_H_
#define OPOSSVC_FLAGS_H_

#include <opossvc/export.h>
#include <opossvc/win32/types.h>

namespace opossvc {

// Stores value into flag atomically (relaxed).
OPOSSVC_API void SetFlag(LONG& flag, LONG value);
OPOSSVC_API void SetFlag(DWORD& flag, DWORD value);

// Loads flag atomically (relaxed).
OPOSSVC_API LONG GetFlag(const LONG& flag);
OPOSSVC_API DWORD GetFlag(const DWORD& flag);

}  // namespace opossvc

#endif  // OPOSSVC_FLAGS_H_
