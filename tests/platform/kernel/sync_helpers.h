// Shared pieces of the synchronisation tests.
#ifndef OPOSSVC_TESTS_PLATFORM_KERNEL_SYNC_HELPERS_H_
#define OPOSSVC_TESTS_PLATFORM_KERNEL_SYNC_HELPERS_H_

#include <opossvc/win32/errors.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/sync.h>

#include "tests/support/last_error_expect.h"

namespace opossvc::test {

// Generous bound for "should happen soon" waits; never reached when the code
// works.
constexpr DWORD kLong = 10000;

// Wait results as DWORDs.
constexpr DWORD kSignalled = WAIT_OBJECT_0;
constexpr DWORD kTimeout = WAIT_TIMEOUT;
constexpr DWORD kAbandoned = WAIT_ABANDONED_0;

// Closes a handle at scope end.
struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h != nullptr) CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  operator HANDLE() const { return h; }
};

}  // namespace opossvc::test

#endif  // OPOSSVC_TESTS_PLATFORM_KERNEL_SYNC_HELPERS_H_
