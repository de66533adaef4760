// The Win32 file calls: CreateFileA for disk files and serial ports, and the calls on the
// handles it returns; disk files keep their share modes across processes through share_lock.h.
// Also the appenders' open (internal/append_file.h), which differs only in how it is admitted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/files.h>
#include <opossvc/win32/sync.h>

#include "platform/internal/append_file.h"
#include "platform/internal/serial_port.h"
#include "platform/posix/comm/comm_handle.h"
#include "platform/posix/files/environment.h"
#include "platform/posix/files/errno_map.h"
#include "platform/posix/files/file_io.h"
#include "platform/posix/files/file_object.h"
#include "platform/posix/files/share_lock.h"
#include "platform/posix/kernel/handle_table.h"

namespace opossvc::detail {
namespace {

constexpr DWORD kReadAccess = static_cast<DWORD>(GENERIC_READ) | GENERIC_ALL;
constexpr DWORD kWriteAccess = static_cast<DWORD>(GENERIC_WRITE) | GENERIC_ALL;
// The OVERLAPPED offset that writes at the end of the file.
constexpr uint64_t kEndOfFile = ~uint64_t{0};
// OVERLAPPED::Internal after a failed write (STATUS_UNSUCCESSFUL).
constexpr ULONG_PTR kStatusUnsuccessful = 0xC0000001;

// One open disk file. The descriptor is closed when the last reference goes, so that a call in
// progress on another thread never sees it reused.
class DiskFile final : public FileObject, public FileAppender {
 public:
  DiskFile(int fd, bool readable, bool writable, std::string delete_at_close)
      : fd_(fd),
        readable_(readable),
        writable_(writable),
        delete_at_close_(std::move(delete_at_close)) {}
  ~DiskFile() override {
    CloseFile(fd_);
    if (!delete_at_close_.empty()) unlink(delete_at_close_.c_str());
  }

  DWORD Read(void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    if (!readable_) return ERROR_ACCESS_DENIED;
    size_t done = 0;
    DWORD error = ReadFileSome(fd_, buffer, size, &done);
    *read = static_cast<DWORD>(done);
    return error;
  }
  DWORD Write(const void* data, DWORD size, DWORD* written) override {
    *written = 0;
    if (!writable_) return ERROR_ACCESS_DENIED;
    size_t done = 0;
    DWORD error = WriteFileAll(fd_, data, size, &done);
    *written = static_cast<DWORD>(done);
    return error;
  }
  DWORD Flush() override { return writable_ ? SyncFile(fd_) : ERROR_ACCESS_DENIED; }
  // Appenders' descriptors are open with O_APPEND.
  DWORD Append(const void* data, size_t size) override {
    size_t done = 0;
    return WriteFileAll(fd_, data, size, &done);
  }
  // Writes at `offset`, or at the end of the file for kEndOfFile.
  DWORD WriteAt(const void* data, DWORD size, uint64_t offset, DWORD* written) {
    *written = 0;
    if (!writable_) return ERROR_ACCESS_DENIED;
    size_t done = 0;
    DWORD error = offset == kEndOfFile ? AppendToFile(fd_, data, size, &done)
                                       : WriteFileAt(fd_, data, size, offset, &done);
    *written = static_cast<DWORD>(done);
    return error;
  }

  int fd() const { return fd_; }
  bool readable() const { return readable_; }
  bool writable() const { return writable_; }

 private:
  const int fd_;
  const bool readable_;
  const bool writable_;
  const std::string delete_at_close_;
};

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// ENOENT means a missing file when the folder exists, else a missing path.
DWORD MissingError(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
  std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
  struct stat info {};
  bool folder_exists = stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  return folder_exists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD PathError(int error, const std::string& path) {
  return error == ENOENT ? MissingError(path) : Win32ErrorFromErrno(error);
}

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = open(path.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens `path` by the creation disposition; *existed tells whether the file was there.
int OpenByDisposition(const std::string& path, int access, DWORD disposition, mode_t mode,
                      bool* existed) {
  *existed = true;
  switch (disposition) {
    case CREATE_NEW:
      *existed = false;
      return OpenRetrying(path, access | O_CREAT | O_EXCL, mode);
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      // Create-or-open in two steps to learn which it was; retried while another process
      // creates and removes the file in between.
      for (int attempt = 0; attempt < 16; ++attempt) {
        int fd = OpenRetrying(path, access | O_CREAT | O_EXCL, mode);
        if (fd >= 0 || errno != EEXIST) {
          *existed = false;
          return fd;
        }
        fd = OpenRetrying(path, access, mode);
        if (fd >= 0 || errno != ENOENT) return fd;
      }
      errno = EBUSY;
      return -1;
    default:
      return OpenRetrying(path, access, mode);
  }
}

// How OpenDiskFile admits an open: by the Win32 share modes, or as the
// file's one appender (append_file.h).
enum class Admission { kShareModes, kAppender };

HANDLE OpenDiskFile(const std::string& windows_path, DWORD desired_access, DWORD share_mode,
                    DWORD disposition, DWORD flags_and_attributes,
                    Admission admission = Admission::kShareModes,
                    std::shared_ptr<DiskFile>* opened = nullptr) {
  const bool appender = admission == Admission::kAppender;
  const bool read = (desired_access & kReadAccess) != 0;
  const bool write = (desired_access & kWriteAccess) != 0;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && !write)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path = MapPath(windows_path);
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int options = O_CLOEXEC | O_NOCTTY;
  if (flags_and_attributes & FILE_FLAG_WRITE_THROUGH) options |= O_DSYNC;
  // An appender never follows a link at the end of the path, nor waits on a
  // FIFO there (regular files ignore O_NONBLOCK).
  if (appender) options |= O_APPEND | O_NOFOLLOW | O_NONBLOCK;
  const mode_t mode =
      (flags_and_attributes & FILE_ATTRIBUTE_READONLY) ? kNewReadOnlyFileMode : kNewFileMode;

  // Share locks need a readable descriptor, so writers open for both when they may.
  bool readable = true;
  bool existed = false;
  int fd =
      OpenByDisposition(path, (write ? O_RDWR : O_RDONLY) | options, disposition, mode, &existed);
  if (fd < 0 && errno == EACCES && write && !read) {
    readable = false;
    fd = OpenByDisposition(path, O_WRONLY | options, disposition, mode, &existed);
  }
  if (fd < 0) {
    SetLastError(appender && errno == ELOOP ? ERROR_ACCESS_DENIED : PathError(errno, path));
    return INVALID_HANDLE_VALUE;
  }
  auto fail = [fd](DWORD error) {
    CloseFile(fd);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  struct stat info {};
  if (fstat(fd, &info) != 0) return fail(Win32ErrorFromErrno(errno));
  if (S_ISDIR(info.st_mode) || (appender && !S_ISREG(info.st_mode))) {
    return fail(ERROR_ACCESS_DENIED);
  }

  ShareRequest share;
  share.reads = read;
  share.writes = write;
  share.denies_read = !(share_mode & FILE_SHARE_READ);
  share.denies_write = !(share_mode & FILE_SHARE_WRITE);
  if (DWORD error = appender ? RegisterAppender(fd, readable) : RegisterShare(fd, share, readable)) {
    return fail(error);
  }
  // Truncated only once the open is admitted, so a refused open leaves the file as it was.
  bool truncate = disposition == TRUNCATE_EXISTING || (disposition == CREATE_ALWAYS && existed);
  if (truncate) {
    if (DWORD error = TruncateFile(fd, 0)) return fail(error);
  }

  std::string delete_at_close =
      (flags_and_attributes & FILE_FLAG_DELETE_ON_CLOSE) ? path : std::string();
  // An appender reads where its descriptor can.
  auto file =
      std::make_shared<DiskFile>(fd, appender ? readable : read, write, std::move(delete_at_close));
  if (opened != nullptr) *opened = file;
  HANDLE handle = InsertHandle(std::move(file));
  if (!handle) return INVALID_HANDLE_VALUE;
  bool reports_existing = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  SetLastError(reports_existing && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

// The disk file behind `handle`, or null with the last error set.
std::shared_ptr<DiskFile> FindDiskFile(HANDLE handle) {
  std::shared_ptr<FileObject> object = LookupHandleAs<FileObject>(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto file = std::dynamic_pointer_cast<DiskFile>(object);
  if (!file) SetLastError(ERROR_INVALID_FUNCTION);  // a serial port has no size or position
  return file;
}

}  // namespace

AppendFile OpenAppendFile(LPCSTR path) {
  AppendFile result;
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return result;
  }
  // Opened for reading too where the file grants it (see OpenDiskFile).
  std::shared_ptr<DiskFile> file;
  result.handle = OpenDiskFile(path, GENERIC_WRITE, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               Admission::kAppender, &file);
  if (result.handle == INVALID_HANDLE_VALUE) return result;
  result.readable = file->readable();
  result.appender = std::move(file);
  return result;
}

}  // namespace opossvc::detail

using opossvc::detail::Fail;
using opossvc::detail::kStatusUnsuccessful;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  if (!lpFileName || (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (int port = opossvc::detail::ParseComName(lpFileName)) {
    HANDLE handle = opossvc::detail::OpenCommHandle(port, dwDesiredAccess, dwFlagsAndAttributes);
    if (!handle) return INVALID_HANDLE_VALUE;
    SetLastError(ERROR_SUCCESS);
    return handle;
  }
  return opossvc::detail::OpenDiskFile(lpFileName, dwDesiredAccess, dwShareMode,
                                       dwCreationDisposition, dwFlagsAndAttributes);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  auto file = opossvc::detail::LookupHandleAs<opossvc::detail::FileObject>(hFile);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  if (lpOverlapped || !lpNumberOfBytesRead) return Fail(ERROR_INVALID_PARAMETER);
  *lpNumberOfBytesRead = 0;
  if (!lpBuffer && nNumberOfBytesToRead > 0) return Fail(ERROR_NOACCESS);
  DWORD error = file->Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
  return error ? Fail(error) : TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  auto file = opossvc::detail::LookupHandleAs<opossvc::detail::FileObject>(hFile);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  if (!lpOverlapped) {
    if (!lpNumberOfBytesWritten) return Fail(ERROR_INVALID_PARAMETER);
    *lpNumberOfBytesWritten = 0;
    if (!lpBuffer && nNumberOfBytesToWrite > 0) return Fail(ERROR_NOACCESS);
    DWORD error = file->Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
    return error ? Fail(error) : TRUE;
  }
  auto disk = std::dynamic_pointer_cast<opossvc::detail::DiskFile>(file);
  if (!disk) return Fail(ERROR_INVALID_PARAMETER);
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  if (!lpBuffer && nNumberOfBytesToWrite > 0) return Fail(ERROR_NOACCESS);
  if (lpOverlapped->hEvent && !ResetEvent(lpOverlapped->hEvent)) return FALSE;
  const uint64_t offset = (static_cast<uint64_t>(lpOverlapped->OffsetHigh) << 32) | lpOverlapped->Offset;
  DWORD written = 0;
  DWORD error = disk->WriteAt(lpBuffer, nNumberOfBytesToWrite, offset, &written);
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = written;
  lpOverlapped->InternalHigh = written;
  lpOverlapped->Internal = error ? kStatusUnsuccessful : 0;
  if (lpOverlapped->hEvent) SetEvent(lpOverlapped->hEvent);
  return error ? Fail(error) : TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  auto file = opossvc::detail::LookupHandleAs<opossvc::detail::FileObject>(hFile);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  DWORD error = file->Flush();
  return error ? Fail(error) : TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  auto file = opossvc::detail::FindDiskFile(hFile);
  if (!file) return INVALID_FILE_SIZE;
  uint64_t length = 0;
  if (DWORD error = opossvc::detail::FileLength(file->fd(), &length)) {
    SetLastError(error);
    return INVALID_FILE_SIZE;
  }
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(length >> 32);
  // A size whose low half is INVALID_FILE_SIZE is told apart by the last error.
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(length);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
  auto file = opossvc::detail::FindDiskFile(hFile);
  if (!file) return INVALID_SET_FILE_POINTER;
  static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (dwMoveMethod > FILE_END) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t distance = opossvc::Long32(lDistanceToMove);
  if (lpDistanceToMoveHigh) {
    distance = static_cast<int64_t>(
        (static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
        static_cast<uint32_t>(lDistanceToMove));
  }
  // Without a high half the new position must fit in 32 bits; test before moving.
  uint64_t position = 0;
  if (!lpDistanceToMoveHigh) {
    uint64_t current = 0;
    uint64_t length = 0;
    if (DWORD error = opossvc::detail::SeekFile(file->fd(), 0, SEEK_CUR, &current)) {
      SetLastError(error);
      return INVALID_SET_FILE_POINTER;
    }
    opossvc::detail::FileLength(file->fd(), &length);
    int64_t base = dwMoveMethod == FILE_BEGIN     ? 0
                   : dwMoveMethod == FILE_CURRENT ? static_cast<int64_t>(current)
                                                  : static_cast<int64_t>(length);
    if (base + distance > static_cast<int64_t>(0xFFFFFFFEu)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_SET_FILE_POINTER;
    }
  }
  if (DWORD error =
          opossvc::detail::SeekFile(file->fd(), distance, kWhence[dwMoveMethod], &position)) {
    SetLastError(error);
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = opossvc::Long32(position >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(position);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  auto file = opossvc::detail::FindDiskFile(hFile);
  if (!file) return FALSE;
  if (!file->writable()) return Fail(ERROR_ACCESS_DENIED);
  uint64_t position = 0;
  if (DWORD error = opossvc::detail::SeekFile(file->fd(), 0, SEEK_CUR, &position)) {
    return Fail(error);
  }
  DWORD error = opossvc::detail::TruncateFile(file->fd(), position);
  return error ? Fail(error) : TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER);
  std::string path = opossvc::detail::MapPath(lpFileName);
  if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return Fail(opossvc::detail::PathError(errno, path));
  if (S_ISDIR(info.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (unlink(path.c_str()) != 0) return Fail(opossvc::detail::PathError(errno, path));
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  if (!lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  std::string path = opossvc::detail::MapPath(lpFileName);
  struct stat info {};
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (stat(path.c_str(), &info) != 0) {
    SetLastError(opossvc::detail::PathError(errno, path));
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD attributes = 0;
  if (S_ISDIR(info.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) attributes |= FILE_ATTRIBUTE_DEVICE;
  if (access(path.c_str(), W_OK) != 0 && errno != ENOENT) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER);
  std::string path = opossvc::detail::MapPath(lpPathName);
  if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  if (mkdir(path.c_str(), opossvc::detail::kNewFolderMode) != 0) {
    int error = errno;
    if (error == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    return Fail(error == ENOENT ? ERROR_PATH_NOT_FOUND
                                : opossvc::detail::Win32ErrorFromErrno(error));
  }
  return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER);
  std::string path = opossvc::detail::MapPath(lpPathName);
  if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  if (rmdir(path.c_str()) != 0) {
    int error = errno;
    if (error == ENOTEMPTY || error == EEXIST) return Fail(ERROR_DIR_NOT_EMPTY);
    if (error == ENOTDIR) return Fail(ERROR_DIRECTORY);
    return Fail(opossvc::detail::PathError(error, path));
  }
  return TRUE;
}
