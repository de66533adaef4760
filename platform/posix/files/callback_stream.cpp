// OpenCallbackStream over glibc's fopencookie.
#include "platform/internal/callback_stream.h"

#include <sys/types.h>

#include <new>

namespace opossvc::detail {
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

FILE* OpenCallbackStream(void* cookie, const StreamFunctions& functions, const char* mode,
                         HANDLE /*file*/) {
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
