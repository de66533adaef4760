// A C stream (FILE*) whose reads, writes and seeks are calls of the caller's
// own, for CStdioFile::m_pStream. The C library provides the means, so every
// platform implements this: the POSIX one through fopencookie.
#ifndef OPOSSVC_PLATFORM_INTERNAL_CALLBACK_STREAM_H_
#define OPOSSVC_PLATFORM_INTERNAL_CALLBACK_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace opossvc::detail {

// Each returns what its C counterpart returns: a count or -1 (read, write),
// 0 or -1 (seek, which takes SEEK_SET/SEEK_CUR/SEEK_END and sets *offset to
// the new position).
struct StreamFunctions {
  std::ptrdiff_t (*read)(void* cookie, char* buffer, size_t size);
  std::ptrdiff_t (*write)(void* cookie, const char* data, size_t size);
  int (*seek)(void* cookie, int64_t* offset, int whence);
};

// A stream with no buffer of its own, so that every read, write and seek on
// it is at once a call of `functions` on `cookie`; `mode` as fopen's. Closing
// it (fclose) calls none of the functions. Null when no stream can be made
// (memory ran out).
FILE* OpenCallbackStream(void* cookie, const StreamFunctions& functions, const char* mode);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_CALLBACK_STREAM_H_
