#include "platform/posix/files/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include <opossvc/win32/errors.h>

#include "platform/posix/files/environment.h"
#include "platform/posix/files/share_lock.h"

namespace opossvc::detail {
namespace {

// ENOENT means a missing file when the folder exists, else a missing path.
DWORD MissingFileError(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
  std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
  struct stat info {};
  bool folder_exists = stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  return folder_exists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

int OpenDescriptor(const std::string& path, int access, bool create) {
  int flags = access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (create ? O_CREAT : 0);
  int fd;
  do {
    fd = open(path.c_str(), flags, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

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

DWORD OpenFile(const std::string& windows_path, const FileOpenRequest& request, int* fd) {
  *fd = -1;
  std::string path = MapPath(windows_path);
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  bool create = request.creation != FileCreation::kOpenExisting;
  bool truncate = request.creation == FileCreation::kCreateAlways;
  // Share locks need a readable descriptor, so writers open for both and the
  // class keeps to the access it was asked for.
  bool readable = true;
  int descriptor = OpenDescriptor(path, request.write || truncate ? O_RDWR : O_RDONLY, create);
  if (descriptor < 0 && errno == EACCES && !request.read && request.write) {
    readable = false;
    descriptor = OpenDescriptor(path, O_WRONLY, create);
  }
  if (descriptor < 0) {
    int error = errno;
    return error == ENOENT ? MissingFileError(path) : ErrorFromErrno(error);
  }
  struct stat info {};
  if (fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(descriptor);
    return ERROR_ACCESS_DENIED;
  }
  int status = fcntl(descriptor, F_GETFL);
  if (status >= 0) fcntl(descriptor, F_SETFL, status & ~O_NONBLOCK);
  ShareRequest share;
  share.reads = request.read;
  share.writes = request.write;
  share.denies_read = !request.share_read;
  share.denies_write = !request.share_write;
  DWORD error = RegisterShare(descriptor, share, readable);
  if (error == ERROR_SUCCESS && truncate && ftruncate(descriptor, 0) != 0) {
    error = ErrorFromErrno(errno);
  }
  if (error != ERROR_SUCCESS) {
    close(descriptor);
    return error;
  }
  *fd = descriptor;
  return ERROR_SUCCESS;
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

DWORD WriteFileAll(int fd, const void* data, size_t size, size_t* done) {
  const char* next = static_cast<const char*>(data);
  *done = 0;
  while (*done < size) {
    ssize_t count = write(fd, next + *done, size - *done);
    if (count < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (count == 0) return ERROR_WRITE_FAULT;
    *done += static_cast<size_t>(count);
  }
  return ERROR_SUCCESS;
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

DWORD SetAppending(int fd, bool appending) {
  int status = fcntl(fd, F_GETFL);
  if (status < 0) return ErrorFromErrno(errno);
  int wanted = appending ? (status | O_APPEND) : (status & ~O_APPEND);
  if (wanted != status && fcntl(fd, F_SETFL, wanted) != 0) return ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

namespace {

struct CookieBridge {
  void* cookie;
  StreamFunctions functions;
};

ssize_t BridgeRead(void* bridge, char* buffer, size_t size) {
  auto* b = static_cast<CookieBridge*>(bridge);
  return b->functions.read(b->cookie, buffer, size);
}

ssize_t BridgeWrite(void* bridge, const char* data, size_t size) {
  auto* b = static_cast<CookieBridge*>(bridge);
  return b->functions.write(b->cookie, data, size);
}

int BridgeSeek(void* bridge, off64_t* offset, int whence) {
  auto* b = static_cast<CookieBridge*>(bridge);
  int64_t value = *offset;
  int result = b->functions.seek(b->cookie, &value, whence);
  *offset = value;
  return result;
}

int BridgeClose(void* bridge) {
  delete static_cast<CookieBridge*>(bridge);
  return 0;
}

}  // namespace

FILE* OpenCookieStream(void* cookie, const StreamFunctions& functions, const char* mode) {
  auto* bridge = new (std::nothrow) CookieBridge{cookie, functions};
  if (bridge == nullptr) return nullptr;
  cookie_io_functions_t io{BridgeRead, BridgeWrite, BridgeSeek, BridgeClose};
  FILE* stream = fopencookie(bridge, mode, io);
  if (stream == nullptr) {
    delete bridge;
    return nullptr;
  }
  setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

}  // namespace opossvc::detail
