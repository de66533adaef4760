#include "platform/posix/files/file_io.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include <opossvc/win32/errors.h>

#include "platform/posix/files/errno_map.h"

namespace opossvc::detail {

DWORD CloseFile(int fd) {
  // close() is not retried on EINTR: the descriptor is gone either way.
  return close(fd) == 0 || errno == EINTR ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
}

DWORD ReadFileSome(int fd, void* buffer, size_t size, size_t* done) {
  *done = 0;
  for (;;) {
    ssize_t count = read(fd, buffer, size);
    if (count >= 0) {
      *done = static_cast<size_t>(count);
      return ERROR_SUCCESS;
    }
    if (errno != EINTR) return Win32ErrorFromErrno(errno);
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
      return Win32ErrorFromErrno(errno);
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
  // lseek refuses a position before the start with EINVAL.
  if (result < 0) return errno == EINVAL ? ERROR_NEGATIVE_SEEK : Win32ErrorFromErrno(errno);
  *position = static_cast<uint64_t>(result);
  return ERROR_SUCCESS;
}

DWORD FileLength(int fd, uint64_t* length) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return Win32ErrorFromErrno(errno);
  *length = static_cast<uint64_t>(info.st_size);
  return ERROR_SUCCESS;
}

DWORD TruncateFile(int fd, uint64_t length) {
  while (ftruncate(fd, static_cast<off_t>(length)) != 0) {
    if (errno != EINTR) return Win32ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

DWORD SyncFile(int fd) {
  if (fsync(fd) == 0 || errno == EINVAL || errno == EROFS) return ERROR_SUCCESS;
  return Win32ErrorFromErrno(errno);
}

}  // namespace opossvc::detail
