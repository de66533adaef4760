// How CreateFileA reaches a serial port: a COM name opens the real device through the termios
// backend (comm_termios.cpp), under the rules of the Win32 calls (platform/internal/comm_port.h).
#ifndef OPOSSVC_PLATFORM_POSIX_COMM_COMM_HANDLE_H_
#define OPOSSVC_PLATFORM_POSIX_COMM_COMM_HANDLE_H_

#include <memory>

#include <opossvc/win32/comm.h>

#include "platform/internal/comm_port.h"

namespace opossvc::detail {

// Opens the real device of port `number` (SERIALCOMM map, else /dev/ttyS<n-1>).
DWORD OpenTermiosCommPort(int number, std::unique_ptr<CommPort>* port);

// CreateFileA for a COM name: the handle, or null with the last error set.
HANDLE OpenCommHandle(int number, DWORD desired_access, DWORD flags_and_attributes);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_COMM_COMM_HANDLE_H_
