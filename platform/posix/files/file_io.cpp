#include "platform/posix/files/file_io.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include <opossvc/win32/errors.h>

namespace opossvc::detail {

DWORD ErrorFromErrno(int error) {
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
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ESPIPE:
      return ERROR_SEEK_ON_DEVICE;
    case EIO:
    default:
      return ERROR_GEN_FAILURE;
  }
}

DWORD CloseFile(int fd) {
  // close() is not retried on EINTR: the descriptor is gone either way.
  return close(fd) == 0 || errno == EINTR ? ERROR_SUCCESS : ErrorFromErrno(errno);
}

DWORD ReadFileSome(int fd, void* buffer, size_t size, size_t* done) {
  *done = 0;
  for (;;) {
    ssize_t count = read(fd, buffer, size);
    if (count >= 0) {
      *done = static_cast<size_t>(count);
      return ERROR_SUCCESS;
    }
    if (errno != EINTR) return ErrorFromErrno(errno);
  }
}

namespace {

// Hands the data to `write_some(next, remaining, written_before)` until all
// of it is written; EINTR retries.
template <class WriteSome>
DWORD WriteLoop(const void* data, size_t size, size_t* done, WriteSome write_some) {
  const char* next = static_cast<const char*>(data);
  *done = 0;
  while (*done < size) {
    ssize_t count = write_some(next + *done, size - *done, *done);
    if (count < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (count == 0) return ERROR_WRITE_FAULT;
    *done += static_cast<size_t>(count);
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD WriteFileAll(int fd, const void* data, size_t size, size_t* done) {
  return WriteLoop(data, size, done,
                   [fd](const char* next, size_t count, size_t) { return write(fd, next, count); });
}

DWORD WriteFileAt(int fd, const void* data, size_t size, uint64_t offset, size_t* done) {
  if (offset > static_cast<uint64_t>(INT64_MAX) - size) return ERROR_INVALID_PARAMETER;
  DWORD error = WriteLoop(data, size, done, [fd, offset](const char* next, size_t count, size_t before) {
    return pwrite(fd, next, count, static_cast<off_t>(offset + before));
  });
  uint64_t ignored = 0;
  if (error == ERROR_SUCCESS) error = SeekFile(fd, static_cast<int64_t>(offset + *done), SEEK_SET, &ignored);
  return error;
}

DWORD AppendToFile(int fd, const void* data, size_t size, size_t* done) {
  // RWF_APPEND appends as O_APPEND does, for this one call; offset -1 moves
  // the file offset along.
  return WriteLoop(data, size, done, [fd](const char* next, size_t count, size_t) {
    iovec piece{const_cast<char*>(next), count};
    return pwritev2(fd, &piece, 1, -1, RWF_APPEND);
  });
}

DWORD SeekFile(int fd, int64_t offset, int whence, uint64_t* position) {
  off_t result = lseek(fd, static_cast<off_t>(offset), whence);
  if (result < 0) return errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno);
  *position = static_cast<uint64_t>(result);
  return ERROR_SUCCESS;
}

DWORD FileLength(int fd, uint64_t* length) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return ErrorFromErrno(errno);
  *length = static_cast<uint64_t>(info.st_size);
  return ERROR_SUCCESS;
}

DWORD TruncateFile(int fd, uint64_t length) {
  while (ftruncate(fd, static_cast<off_t>(length)) != 0) {
    if (errno != EINTR) return ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

DWORD SyncFile(int fd) {
  if (fsync(fd) == 0 || errno == EINVAL || errno == EROFS) return ERROR_SUCCESS;
  return ErrorFromErrno(errno);
}

}  // namespace opossvc::detail
