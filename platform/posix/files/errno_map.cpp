#include "platform/posix/files/errno_map.h"

#include <cerrno>

namespace opossvc::detail {

DWORD Win32ErrorFromErrno(int error, DWORD otherwise) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EFBIG:
      return ERROR_HANDLE_DISK_FULL;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ETXTBSY:
    case EBUSY:
      return ERROR_SHARING_VIOLATION;
    case ENOMEM:
    case ENOLCK:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ESPIPE:
      return ERROR_SEEK_ON_DEVICE;
    case ENOTTY:
      return ERROR_INVALID_FUNCTION;
    default:
      return otherwise;
  }
}

}  // namespace opossvc::detail
