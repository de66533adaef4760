// OpenCallbackStream where the C library cannot call back: a stream of the C
// runtime over a duplicate of the file's handle. Both handles share one file
// object, so the stream reads and writes at the file's own position.
#include "platform/internal/callback_stream.h"

#include <fcntl.h>
#include <io.h>

#include <cstring>

namespace opossvc::detail {

FILE* OpenCallbackStream(void* /*cookie*/, const StreamFunctions& /*functions*/,
                         const char* mode, HANDLE file) {
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &duplicate, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  const bool binary = std::strchr(mode, 'b') != nullptr;
  int flags = binary ? _O_BINARY : _O_TEXT;
  if (mode[0] == 'r' && std::strchr(mode, '+') == nullptr) flags |= _O_RDONLY;
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(duplicate), flags);
  if (descriptor == -1) {
    CloseHandle(duplicate);
    return nullptr;
  }
  FILE* stream = _fdopen(descriptor, mode);
  if (stream == nullptr) {
    _close(descriptor);  // closes the duplicate too
    return nullptr;
  }
  setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

}  // namespace opossvc::detail
