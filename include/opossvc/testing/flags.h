// Writing and reading the delivery flags of a service object from tests.
//
// CSvcBase's delivery flags (m_bOpened, m_bFreezeEvents, m_bDeliverEvents,
// ...) are plain 32-bit members that the event thread polls without a lock.
// The library reads them with relaxed atomic loads; code that changes them
// while an event thread runs should write them with SetFlag, so that the
// accesses stay data-race free under ThreadSanitizer:
//
//   opossvc::testing::SetFlag(so.m_bFreezeEvents, 0);
//
// Relaxed order: a flag carries no data with it. Whatever the handler reads
// besides the flag is published by the sent event message itself.
#ifndef OPOSSVC_TESTING_FLAGS_H_
#define OPOSSVC_TESTING_FLAGS_H_

#include <opossvc/win32/types.h>

namespace opossvc::testing {

// Stores value into flag atomically (relaxed).
void SetFlag(LONG& flag, LONG value);
void SetFlag(DWORD& flag, DWORD value);

// Loads flag atomically (relaxed).
LONG GetFlag(const LONG& flag);
DWORD GetFlag(const DWORD& flag);

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTING_FLAGS_H_
