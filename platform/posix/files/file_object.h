// What ReadFile, WriteFile and FlushFileBuffers work on: a disk file or a serial port.
#ifndef OPOSSVC_PLATFORM_POSIX_FILES_FILE_OBJECT_H_
#define OPOSSVC_PLATFORM_POSIX_FILES_FILE_OBJECT_H_

#include <opossvc/win32/types.h>

#include "platform/posix/kernel/handle_table.h"

namespace opossvc::detail {

// Each call returns 0 or a Win32 error code; the counts are set on success and on failure.
class FileObject : public KernelObject {
 public:
  virtual DWORD Read(void* buffer, DWORD size, DWORD* read) = 0;
  virtual DWORD Write(const void* data, DWORD size, DWORD* written) = 0;
  virtual DWORD Flush() = 0;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_FILES_FILE_OBJECT_H_
