// OpenAppendFile on Windows: a handle with append access only (each write
// goes to the end of the file as one operation), shared with readers alone,
// so that a second appender or writer is refused with a sharing violation
// while readers never keep the trace out.
#include "platform/internal/append_file.h"

#include "platform/internal/mutex.h"

namespace opossvc::detail {
namespace {

// Appends through a handle of its own, which outlives the caller's. One
// record is written at a time: an append-only handle's writes do not all
// seek and write as one step (Wine's do not), and the threads of the shared
// trace would overwrite each other's records.
class HandleAppender final : public FileAppender {
 public:
  explicit HandleAppender(HANDLE handle) : handle_(handle) {}
  ~HandleAppender() override { CloseHandle(handle_); }
  HandleAppender(const HandleAppender&) = delete;
  HandleAppender& operator=(const HandleAppender&) = delete;

  DWORD Append(const void* data, size_t size) override {
    MutexLock lock(mutex_);
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(handle_, bytes, piece, &written, nullptr)) return GetLastError();
      if (written == 0) return ERROR_WRITE_FAULT;
      bytes += written;
      size -= written;
    }
    return ERROR_SUCCESS;
  }

 private:
  Mutex mutex_;  // held for each whole record
  HANDLE handle_;
};

HANDLE OpenForAppending(LPCSTR path, DWORD access) {
  return CreateFileA(path, access | FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

AppendFile OpenAppendFile(LPCSTR path) {
  AppendFile file;
  file.readable = true;
  HANDLE handle = OpenForAppending(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    file.readable = false;
    handle = OpenForAppending(path, 0);
  }
  if (handle == INVALID_HANDLE_VALUE) return AppendFile();
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(handle);
    SetLastError(ERROR_ACCESS_DENIED);
    return AppendFile();
  }
  HANDLE own = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &own, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
    return AppendFile();
  }
  file.handle = handle;
  file.appender = std::make_shared<HandleAppender>(own);
  return file;
}

}  // namespace opossvc::detail
