// Text between the registry's A calls and its store.
//
// The store keeps names and classes as UTF-8, and the data of the string
// types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) as UTF-16LE, as Windows keeps
// them; each A call converts from and to the active code page. So a name
// means the same key whatever code page it is written or read in, a
// backslash separates names only where the text has one (never inside a
// double-byte character), and the sizes a caller is told are those of its
// own code page. As in Windows' A calls, bytes that form no character become
// U+FFFD and characters the code page lacks its default character. Data of
// every other type (REG_BINARY, REG_DWORD, ...) is bytes and never converted.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_TEXT_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_TEXT_H_

#include <string>
#include <string_view>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

// The active code page as the conversions below use it: read once for each
// registry call, and once for a whole read snapshot
// (platform/internal/registry_read_snapshot.h), so that one call, or one
// lookup, takes and gives all its text in one code page.
UINT CallerCodePage();

// While one lives, CallerCodePage is read at its first use on the thread
// and kept; scopes nest, the outermost one decides.
class CallerCodePageScope {
 public:
  CallerCodePageScope();
  ~CallerCodePageScope();
  CallerCodePageScope(const CallerCodePageScope&) = delete;
  CallerCodePageScope& operator=(const CallerCodePageScope&) = delete;
};

// Whether caller text means the same characters byte for byte: ASCII in a
// code page that keeps ASCII.
bool PlainAscii(std::string_view text);

// Caller text (CallerCodePage) and UTF-16.
std::u16string CallerToUtf16(std::string_view text);
std::string Utf16ToCaller(std::u16string_view text);

// Names and classes: caller text and the store's UTF-8.
std::string StoredText(std::string_view caller_text);
std::string CallerText(std::string_view stored_text);

// UTF-16 code units of stored UTF-8 text.
size_t Utf16Length(std::string_view stored_text);

bool IsStringType(DWORD type);

// Value data as the store keeps it, and as a caller reads it.
std::string StoredData(DWORD type, std::string_view caller_data);
std::string CallerData(DWORD type, std::string stored_data);

// UTF-16 text as the bytes of UTF-16LE, and back (an odd last byte is
// dropped).
std::string Utf16LeBytes(std::u16string_view text);
std::u16string FromUtf16LeBytes(std::string_view bytes);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_TEXT_H_
