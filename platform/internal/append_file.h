// Opening a file that a process appends records to, such as the API trace,
// where nobody who may only read the file can keep the process from it.
#ifndef OPOSSVC_PLATFORM_INTERNAL_APPEND_FILE_H_
#define OPOSSVC_PLATFORM_INTERNAL_APPEND_FILE_H_

#include <cstddef>
#include <memory>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

// Writes to an appender's file without a handle lookup per write. Append
// hands all the bytes to the end of the file as it is at that moment, also
// when others have written there meanwhile, normally in one write, so that
// records of several writers never interleave: ERROR_SUCCESS or the Win32
// error. It keeps the file open while it lives, after CloseHandle too.
class FileAppender {
 public:
  virtual ~FileAppender() = default;
  virtual DWORD Append(const void* data, size_t size) = 0;
};

struct AppendFile {
  // INVALID_HANDLE_VALUE when the open failed (the last error tells why).
  // WriteFile on it appends as FileAppender::Append does.
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::shared_ptr<FileAppender> appender;
  // Whether the handle also reads the file (the caller may read it).
  bool readable = false;
};

// Opens the regular file at `path` (a path as CreateFileA takes it) for
// appending, creating it when missing (readable by all, writable by its
// owner alone, less what the umask takes; never more).
//
// - A path whose last component is a symbolic link, or that names anything
//   but a regular file, is refused (ERROR_ACCESS_DENIED); opening never
//   waits (a FIFO at the path is refused, not waited on).
// - One appender per file: while one is open on the file, in this or
//   another process, a second open is refused with ERROR_SHARING_VIOLATION.
//   Other openers (CreateFileA) are refused with ERROR_SHARING_VIOLATION
//   while it is open, as for an exclusive open, where the caller may also
//   read the file.
// - What other opens of the file do never makes this open fail or wait:
//   anyone who may read the file can take every lock a reader can, and the
//   worst that does is let a second appender in beside the first, whose
//   records then go to the same end of the file, each whole.
AppendFile OpenAppendFile(LPCSTR path);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_APPEND_FILE_H_
