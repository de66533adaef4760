// The descriptor side of the Win32 file calls on POSIX: the raw calls on an
// open file's descriptor. Every call answers a Win32 error code
// (ERROR_SUCCESS on success) and never throws.
#ifndef OPOSSVC_PLATFORM_POSIX_FILES_FILE_IO_H_
#define OPOSSVC_PLATFORM_POSIX_FILES_FILE_IO_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

// Modes of the files and folders that the file calls make (CreateFileA,
// CreateDirectoryA): readable by all, writable by their owner alone,
// less what the umask takes. A read-only file loses its owner's write too.
inline constexpr mode_t kNewFileMode = 0644;
inline constexpr mode_t kNewReadOnlyFileMode = 0444;
inline constexpr mode_t kNewFolderMode = 0755;

DWORD CloseFile(int fd);

// Reads up to `size` bytes; *done 0 at the end of the file.
DWORD ReadFileSome(int fd, void* buffer, size_t size, size_t* done);
// Each writer below writes everything, normally in one system call, so
// several writers' records never interleave. *done is what was written, also
// on failure.
// At the file offset, which moves past the data.
DWORD WriteFileAll(int fd, const void* data, size_t size, size_t* done);
// At `offset`; the file offset moves past the data.
DWORD WriteFileAt(int fd, const void* data, size_t size, uint64_t offset, size_t* done);
// At the end of the file as it is at that moment, also when another process
// has made it longer meanwhile; the file offset moves past the data.
DWORD AppendToFile(int fd, const void* data, size_t size, size_t* done);
// lseek; the new position in *position.
DWORD SeekFile(int fd, int64_t offset, int whence, uint64_t* position);
DWORD FileLength(int fd, uint64_t* length);
DWORD TruncateFile(int fd, uint64_t length);
DWORD SyncFile(int fd);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_FILES_FILE_IO_H_
