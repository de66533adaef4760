// Kernel-object handles: every HANDLE the subset hands out (events, mutexes,
// threads, files, serial ports) is closed with CloseHandle.
#ifndef OPOSSVC_WIN32_HANDLES_H_
#define OPOSSVC_WIN32_HANDLES_H_

#include <opossvc/export.h>
#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/win32/types.h>

OPOSSVC_API BOOL WINAPI CloseHandle(HANDLE hObject);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_HANDLES_H_
