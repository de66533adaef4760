// The system's ANSI code page and conversions through it, for the platform
// layer; also the POSIX side of fold_case_key.h.
//
// The ANSI code page is $OPOS_CODEPAGE when it holds the number of a code page
// that the converters know (1252, 932, 65001, ...), else 65001 (UTF-8). The
// variable is read at each call (through ReadSetting, so a privileged process
// keeps UTF-8), and a test can switch code pages; converters are cached per
// thread (icu_converter.h), so the calls are cheap.
#ifndef OPOSSVC_PLATFORM_POSIX_TEXT_ANSI_CODEPAGE_H_
#define OPOSSVC_PLATFORM_POSIX_TEXT_ANSI_CODEPAGE_H_

#include <string>
#include <string_view>

#include <opossvc/win32/types.h>

#include "platform/internal/fold_case_key.h"

namespace opossvc::detail {

inline constexpr UINT kUtf8CodePage = 65001;

// The ANSI code page now in force.
UINT ActiveCodePage();

// The OEM code page that goes with an ANSI code page (850 for 1252, ...; the
// same number for the double-byte pages and UTF-8).
UINT OemCodePageFor(UINT ansi_codepage);

// True when `codepage` names a code page that the converters know.
bool IsKnownCodePage(UINT codepage);

// True when every byte of `text` is below 0x80.
bool IsAscii(std::string_view text);

// True when bytes 0x00-0x7F of `codepage` are ASCII and never part of a
// longer character, so that ASCII text needs no conversion (an unknown code
// page is taken as UTF-8).
bool KeepsAscii(UINT codepage);

// Text in `codepage` as UTF-16. Undecodable byte sequences become U+FFFD; an
// unknown code page is taken as UTF-8.
std::u16string AnsiToUtf16(std::string_view ansi, UINT codepage);

// UTF-16 text in `codepage`. Characters the code page lacks become '?'
// (U+FFFD for UTF-8, which only lacks lone surrogates); an unknown code page
// is taken as UTF-8.
std::string Utf16ToAnsi(std::u16string_view text, UINT codepage);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_TEXT_ANSI_CODEPAGE_H_
