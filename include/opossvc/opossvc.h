// Everything a service object needs: the Win32 subset, the framework
// classes, the OPOS codes and the library's own classes.
//
//   #include <opossvc/opossvc.h>
//
// The test kit (opossvc/testing/...) is not included; tests and tools that
// use it include its headers themselves.
#ifndef OPOSSVC_OPOSSVC_H_
#define OPOSSVC_OPOSSVC_H_

// The Win32 subset.
#include <opossvc/win32/types.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/codepage.h>
#include <opossvc/win32/comm.h>
#include <opossvc/win32/drives.h>
#include <opossvc/win32/files.h>
#include <opossvc/win32/gdi.h>
#include <opossvc/win32/messages.h>
#include <opossvc/win32/oleauto.h>
#include <opossvc/win32/registry.h>
#include <opossvc/win32/security.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>
#include <opossvc/win32/time.h>

// Framework classes.
#include <opossvc/afx/object.h>
#include <opossvc/afx/msgmap.h>
#include <opossvc/afx/cstring.h>
#include <opossvc/afx/collections.h>
#include <opossvc/afx/exceptions.h>
#include <opossvc/afx/gdi.h>
#include <opossvc/afx/dispatch_driver.h>
#include <opossvc/afx/stdiofile.h>
#include <opossvc/afx/winthread.h>
#include <opossvc/afx/wnd.h>

// The library.
#include <opossvc/opos.h>
#include <opossvc/flags.h>
#include <opossvc/svcbase.h>
#include <opossvc/event_thread.h>
#include <opossvc/registry.h>
#include <opossvc/portdrv.h>
#include <opossvc/trace.h>
#include <opossvc/util.h>
#include <opossvc/reg_import.h>
#include <opossvc/drawing.h>

#endif  // OPOSSVC_OPOSSVC_H_
