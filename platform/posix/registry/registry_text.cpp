#include "platform/posix/registry/registry_text.h"

#include <opossvc/win32/registry.h>

#include "platform/posix/text/ansi_codepage.h"

namespace opossvc::detail {
namespace {

// The thread's code page scopes: how deep it is in them, and the code page
// once read, with whether it keeps ASCII.
struct CodePageScopes {
  int depth = 0;
  bool known = false;
  UINT codepage = 0;
  bool keeps_ascii = false;
};

thread_local CodePageScopes code_page_scopes;

// The scopes with the code page known; null outside every scope.
const CodePageScopes* KnownScopes() {
  CodePageScopes& scopes = code_page_scopes;
  if (scopes.depth == 0) return nullptr;
  if (!scopes.known) {
    scopes.codepage = ActiveCodePage();
    scopes.keeps_ascii = KeepsAscii(scopes.codepage);
    scopes.known = true;
  }
  return &scopes;
}

// Whether CallerCodePage keeps ASCII.
bool CallerKeepsAscii() {
  const CodePageScopes* scopes = KnownScopes();
  return scopes != nullptr ? scopes->keeps_ascii : KeepsAscii(ActiveCodePage());
}

}  // namespace

bool PlainAscii(std::string_view text) { return IsAscii(text) && CallerKeepsAscii(); }

UINT CallerCodePage() {
  const CodePageScopes* scopes = KnownScopes();
  return scopes != nullptr ? scopes->codepage : ActiveCodePage();
}

CallerCodePageScope::CallerCodePageScope() { ++code_page_scopes.depth; }

CallerCodePageScope::~CallerCodePageScope() {
  if (--code_page_scopes.depth == 0) code_page_scopes.known = false;
}

std::u16string CallerToUtf16(std::string_view text) { return AnsiToUtf16(text, CallerCodePage()); }

std::string Utf16ToCaller(std::u16string_view text) { return Utf16ToAnsi(text, CallerCodePage()); }

// ASCII is the same text in UTF-8 and in the code pages that keep it, so
// most names need no conversion at all.
std::string StoredText(std::string_view caller_text) {
  if (PlainAscii(caller_text)) return std::string(caller_text);
  return Utf16ToAnsi(CallerToUtf16(caller_text), kUtf8CodePage);
}

std::string CallerText(std::string_view stored_text) {
  if (CallerCodePage() == kUtf8CodePage || PlainAscii(stored_text)) {
    return std::string(stored_text);
  }
  return Utf16ToCaller(AnsiToUtf16(stored_text, kUtf8CodePage));
}

size_t Utf16Length(std::string_view stored_text) {
  size_t units = 0;
  for (char c : stored_text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;  // each character's first byte
    if (byte >= 0xF0) ++units;           // and a surrogate pair's second unit
  }
  return units;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::string StoredData(DWORD type, std::string_view caller_data) {
  if (!IsStringType(type)) return std::string(caller_data);
  // Plain ASCII text, the common case, is each byte and a zero byte.
  if (PlainAscii(caller_data)) {
    std::string bytes(caller_data.size() * 2, '\0');
    for (size_t i = 0; i < caller_data.size(); ++i) bytes[2 * i] = caller_data[i];
    return bytes;
  }
  return Utf16LeBytes(CallerToUtf16(caller_data));
}

std::string CallerData(DWORD type, std::string stored_data) {
  if (!IsStringType(type)) return stored_data;
  // ASCII text, the common case, is its low bytes in a code page that keeps
  // ASCII: taken in place.
  bool ascii = stored_data.size() % 2 == 0;
  for (size_t i = 0; ascii && i < stored_data.size(); i += 2) {
    ascii = static_cast<unsigned char>(stored_data[i]) < 0x80 && stored_data[i + 1] == '\0';
  }
  if (ascii && CallerKeepsAscii()) {
    const size_t size = stored_data.size() / 2;
    for (size_t i = 0; i < size; ++i) stored_data[i] = stored_data[2 * i];
    stored_data.resize(size);
    return stored_data;
  }
  return Utf16ToCaller(FromUtf16LeBytes(stored_data));
}

std::string Utf16LeBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::u16string FromUtf16LeBytes(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return text;
}

}  // namespace opossvc::detail
