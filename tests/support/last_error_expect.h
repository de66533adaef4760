// A check shared by the Win32 layer's tests.
#ifndef OPOSSVC_TESTS_SUPPORT_LAST_ERROR_EXPECT_H_
#define OPOSSVC_TESTS_SUPPORT_LAST_ERROR_EXPECT_H_

#include <opossvc/win32/errors.h>

// Expects `call` to fail (answer 0 or null) and leave `error` as the last
// error. The last error is cleared first, so a stale one cannot pass.
#define EXPECT_FAILS_WITH(call, error)                    \
  do {                                                    \
    SetLastError(0);                                      \
    EXPECT_FALSE(call);                                   \
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(error)); \
  } while (0)

#endif  // OPOSSVC_TESTS_SUPPORT_LAST_ERROR_EXPECT_H_
