// A C stream (FILE*) whose reads, writes and seeks are calls of the caller's
// own, for CStdioFile::m_pStream. The POSIX C library provides the means
// (fopencookie); the Windows one has none, so there the stream is made over a
// duplicate of the file's handle instead, which shares the file's position.
#ifndef OPOSSVC_PLATFORM_INTERNAL_CALLBACK_STREAM_H_
#define OPOSSVC_PLATFORM_INTERNAL_CALLBACK_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <opossvc/win32/types.h>

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
// it is at once a call of `functions` on `cookie` (on Windows: on `file`, the
// handle those functions act on, in the C library's text or binary mode as
// `mode` says); `mode` as fopen's. Closing it (fclose) calls none of the
// functions and leaves `file` open. Null when no stream can be made.
FILE* OpenCallbackStream(void* cookie, const StreamFunctions& functions, const char* mode,
                         HANDLE file);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_CALLBACK_STREAM_H_
