// The operating-system side of CFile/CStdioFile on POSIX: opening a file with
// Windows access, share and creation rules, and the raw calls on its
// descriptor. Every call answers a Win32 error code (ERROR_SUCCESS on
// success) and never throws.
#ifndef OPOSSVC_PLATFORM_POSIX_FILES_FILE_IO_H_
#define OPOSSVC_PLATFORM_POSIX_FILES_FILE_IO_H_

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

// Modes of the files and folders that the file calls make (CreateFileA,
// CreateDirectoryA, CFile): readable by all, writable by their owner alone,
// less what the umask takes. A read-only file loses its owner's write too.
inline constexpr mode_t kNewFileMode = 0644;
inline constexpr mode_t kNewReadOnlyFileMode = 0444;
inline constexpr mode_t kNewFolderMode = 0755;

enum class FileCreation { kOpenExisting, kOpenAlways, kCreateAlways };

struct FileOpenRequest {
  bool read = false;
  bool write = false;
  bool share_read = false;   // other opens may read
  bool share_write = false;  // other opens may write
  FileCreation creation = FileCreation::kOpenExisting;
};

// Opens a Windows path (mapped through MapPath). A conflicting open
// elsewhere gives ERROR_SHARING_VIOLATION and leaves the file untouched (a
// file to be truncated is truncated only once the open is admitted);
// folders give ERROR_ACCESS_DENIED. On success *fd is the descriptor (close
// it with CloseFile).
DWORD OpenFile(const std::string& windows_path, const FileOpenRequest& request, int* fd);
DWORD CloseFile(int fd);

// Reads up to `size` bytes; *done 0 at the end of the file.
DWORD ReadFileSome(int fd, void* buffer, size_t size, size_t* done);
// Writes everything, normally in one write(2): several writers' records
// never interleave. *done is what was written, also on failure.
DWORD WriteFileAll(int fd, const void* data, size_t size, size_t* done);
// lseek; the new position in *position.
DWORD SeekFile(int fd, int64_t offset, int whence, uint64_t* position);
DWORD FileLength(int fd, uint64_t* length);
DWORD TruncateFile(int fd, uint64_t length);
DWORD SyncFile(int fd);
// Appending: every write goes to the end of the file as it is then, even
// when another process has made it longer meanwhile.
DWORD SetAppending(int fd, bool appending);

// A C stream with no buffer of its own whose reads, writes and seeks are
// the given functions of `cookie` (fopencookie). Closing it calls none of
// them and leaves the cookie's file open. Null when streams cannot be made.
struct StreamFunctions {
  ssize_t (*read)(void* cookie, char* buffer, size_t size);
  ssize_t (*write)(void* cookie, const char* data, size_t size);
  int (*seek)(void* cookie, int64_t* offset, int whence);
};
FILE* OpenCookieStream(void* cookie, const StreamFunctions& functions, const char* mode);

// The Win32 error for an errno value of a file call.
DWORD ErrorFromErrno(int error);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_FILES_FILE_IO_H_
