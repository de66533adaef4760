#include <opossvc/win32/codepage.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <opossvc/win32/errors.h>

#include "platform/posix/text/ansi_codepage.h"

namespace {

using opossvc::detail::CodePageConverter;
using opossvc::detail::Converted;
using opossvc::detail::OnUndecodable;
using opossvc::detail::OnUnmappable;

// The converter of a code page argument, or null (last error set).
CodePageConverter* ConverterOrError(UINT code_page) {
  CodePageConverter* converter = opossvc::detail::ConverterFor(code_page);
  if (converter == nullptr) SetLastError(ERROR_INVALID_PARAMETER);
  return converter;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// The Win32 result of a conversion into a buffer of `capacity` units (0: the
// length query).
int Result(const Converted& converted, int capacity) {
  if (!converted.ok) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (converted.length > static_cast<size_t>(0x7FFFFFFF)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (capacity > 0 && !converted.fits) return Fail(ERROR_INSUFFICIENT_BUFFER);
  return static_cast<int>(converted.length);
}

bool Overlap(const void* a, size_t a_bytes, const void* b, size_t b_bytes) {
  const auto pa = reinterpret_cast<uintptr_t>(a);
  const auto pb = reinterpret_cast<uintptr_t>(b);
  return pa < pb + b_bytes && pb < pa + a_bytes;
}

}  // namespace

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                               int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && lpWideCharStr == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  CodePageConverter* converter = ConverterOrError(CodePage);
  if (converter == nullptr) return 0;
  const DWORD allowed = converter->is_utf8() ? MB_ERR_INVALID_CHARS
                                              : MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS |
                                                    MB_ERR_INVALID_CHARS;
  if ((dwFlags & ~allowed) != 0 || ((dwFlags & MB_PRECOMPOSED) && (dwFlags & MB_COMPOSITE))) {
    return Fail(ERROR_INVALID_FLAGS);
  }
  // With -1 the terminating NUL is converted too.
  const size_t length =
      cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  if (cchWideChar > 0 &&
      Overlap(lpMultiByteStr, length, lpWideCharStr, static_cast<size_t>(cchWideChar) * 2)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const OnUndecodable policy =
      (dwFlags & MB_ERR_INVALID_CHARS) ? OnUndecodable::kFail : OnUndecodable::kReplace;
  return Result(converter->Decode(std::string_view(lpMultiByteStr, length), policy, lpWideCharStr,
                                  static_cast<size_t>(cchWideChar)),
                cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                               int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                               LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  CodePageConverter* converter = ConverterOrError(CodePage);
  if (converter == nullptr) return 0;
  if (converter->is_utf8()) {
    if ((dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
      return Fail(ERROR_INVALID_FLAGS);
    }
    if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
  } else if ((dwFlags & ~static_cast<DWORD>(WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS |
                                            WC_DEFAULTCHAR | WC_NO_BEST_FIT_CHARS)) != 0) {
    return Fail(ERROR_INVALID_FLAGS);
  }
  const size_t length = cchWideChar == -1 ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                                          : static_cast<size_t>(cchWideChar);
  if (cbMultiByte > 0 &&
      Overlap(lpWideCharStr, length * 2, lpMultiByteStr, static_cast<size_t>(cbMultiByte))) {
    return Fail(ERROR_INVALID_PARAMETER);
  }

  // The replacement is one character: a lead byte takes its trail byte along.
  std::string_view replacement = converter->default_replacement();
  if (lpDefaultChar != nullptr) {
    const size_t bytes = converter->IsLeadByte(static_cast<BYTE>(lpDefaultChar[0])) &&
                                 lpDefaultChar[1] != '\0'
                             ? 2
                             : 1;
    replacement = std::string_view(lpDefaultChar, bytes);
  }
  const OnUnmappable policy =
      (dwFlags & WC_ERR_INVALID_CHARS) ? OnUnmappable::kFail : OnUnmappable::kReplace;
  const Converted converted =
      converter->Encode(std::u16string_view(lpWideCharStr, length), policy, replacement,
                        lpMultiByteStr, static_cast<size_t>(cbMultiByte));
  if (converted.ok && lpUsedDefaultChar != nullptr) {
    *lpUsedDefaultChar = converted.replaced ? TRUE : FALSE;
  }
  return Result(converted, cbMultiByte);
}

UINT WINAPI GetACP(void) { return opossvc::detail::ActiveCodePage(); }

UINT WINAPI GetOEMCP(void) {
  return opossvc::detail::OemCodePageFor(opossvc::detail::ActiveCodePage());
}

BOOL WINAPI IsValidCodePage(UINT CodePage) {
  return CodePage != CP_UTF7 && CodePage > CP_THREAD_ACP && CodePage != CP_SYMBOL &&
                 opossvc::detail::IsKnownCodePage(CodePage)
             ? TRUE
             : FALSE;
}

BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) { return IsDBCSLeadByteEx(CP_ACP, TestChar); }

BOOL WINAPI IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar) {
  CodePageConverter* converter = ConverterOrError(CodePage);
  return converter != nullptr && converter->IsLeadByte(TestChar) ? TRUE : FALSE;
}

BOOL WINAPI GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo) {
  if (lpCPInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  CodePageConverter* converter = ConverterOrError(CodePage);
  if (converter == nullptr) return FALSE;
  *lpCPInfo = CPINFO{};
  lpCPInfo->MaxCharSize = converter->is_utf8() ? 4 : converter->is_double_byte() ? 2 : 1;
  lpCPInfo->DefaultChar[0] = '?';
  // Runs of lead bytes, as many as the table holds with its closing pair.
  size_t next = 0;
  for (int b = 0; b < 256 && next + 2 < MAX_LEADBYTES; ++b) {
    if (!converter->IsLeadByte(static_cast<BYTE>(b))) continue;
    int last = b;
    while (last < 255 && converter->IsLeadByte(static_cast<BYTE>(last + 1))) ++last;
    lpCPInfo->LeadByte[next++] = static_cast<BYTE>(b);
    lpCPInfo->LeadByte[next++] = static_cast<BYTE>(last);
    b = last;
  }
  return TRUE;
}
