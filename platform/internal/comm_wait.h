// A serial-port call of the library's own, beside the Win32 ones: a wait for
// input with a time limit, for a thread that polls the port between waits.
//
// Win32's WaitCommEvent has no time limit on a port opened for synchronous
// I/O, and while it waits there it holds up the other threads' calls on the
// handle. This call waits as WaitCommEvent(port, events, nullptr) would,
// following the port's event mask (SetCommMask), and also ends when
// `timeout_ms` has passed (INFINITE: no limit):
//   - TRUE with *events = EV_RXCHAR as soon as the mask has EV_RXCHAR and
//     bytes wait in the receive queue. This is a level, not an edge: bytes
//     that were there before the call count, so a caller that reads what it
//     finds between waits never misses any. Other events of the mask are
//     accepted and not reported;
//   - TRUE with *events = 0 when the time is up, or when SetCommMask changed
//     the mask meanwhile (as it ends a pending WaitCommEvent);
//   - FALSE with ERROR_INVALID_PARAMETER at once when the mask is 0 or
//     another wait on the port is in progress (as WaitCommEvent), so that
//     SetCommMask(port, 0) ends the waits of a port that is being closed
//     whether they have begun yet or not; FALSE with the error of the port
//     when it fails (ERROR_DEVICE_NOT_CONNECTED once the device is gone) or
//     is closed during the wait.
// Every platform provides it. The termios backend waits in poll() on the tty
// and a wake-up descriptor; where only the Win32 calls exist, it tests the
// receive queue (ClearCommError) at a short interval until the time is up or
// the mask changes. The comm seam (serial_port.h) offers the same wait on
// every port, a virtual one included.
#ifndef OPOSSVC_PLATFORM_INTERNAL_COMM_WAIT_H_
#define OPOSSVC_PLATFORM_INTERNAL_COMM_WAIT_H_

#include <opossvc/win32/types.h>

namespace opossvc::detail {

BOOL WaitCommInput(HANDLE port, DWORD* events, DWORD timeout_ms);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_COMM_WAIT_H_
