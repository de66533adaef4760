// The errno map that every POSIX backend reports its failures through.
#include <gtest/gtest.h>

#include <cerrno>

#include <opossvc/win32/errors.h>

#include "platform/posix/files/errno_map.h"

namespace opossvc::detail {
namespace {

TEST(ErrnoMap, GivesTheWin32ErrorOfTheSameFailure) {
  constexpr DWORD kOtherwise = ERROR_OPEN_FAILED;
  const std::pair<int, DWORD> rows[] = {
      {0, ERROR_SUCCESS},
      {ENOENT, ERROR_FILE_NOT_FOUND},
      {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {EACCES, ERROR_ACCESS_DENIED},
      {EROFS, ERROR_ACCESS_DENIED},
      {EEXIST, ERROR_FILE_EXISTS},
      {EBUSY, ERROR_SHARING_VIOLATION},
      {ENOSPC, ERROR_DISK_FULL},
      {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
      {EBADF, ERROR_INVALID_HANDLE},
      {EIO, kOtherwise},  // no Win32 error of its own: the caller's
  };
  for (const auto& [error, expected] : rows) {
    EXPECT_EQ(Win32ErrorFromErrno(error, kOtherwise), expected) << "errno " << error;
  }
  EXPECT_EQ(Win32ErrorFromErrno(EIO), static_cast<DWORD>(ERROR_GEN_FAILURE));
}

}  // namespace
}  // namespace opossvc::detail
