// The system's ANSI code page, which converter a code page argument names,
// and the platform layer's own conversions of ANSI text; also the POSIX side
// of fold_case_key.h. Everything here converts through CodePageConverter
// (icu_converter.h), as the Win32 calls do.
//
// The ANSI code page is $OPOS_CODEPAGE when it holds the number of a code page
// that the converters know (1252, 932, 65001, ...), else 65001 (UTF-8). The
// variable is read at each use (through ReadSetting, so a privileged process
// keeps UTF-8), and a test can switch code pages; each thread parses it again
// only when its text has changed, and keeps its converters (icu_converter.h),
// so the calls are cheap.
#ifndef OPOSSVC_PLATFORM_POSIX_TEXT_ANSI_CODEPAGE_H_
#define OPOSSVC_PLATFORM_POSIX_TEXT_ANSI_CODEPAGE_H_

#include <string>
#include <string_view>

#include <opossvc/win32/types.h>

#include "platform/internal/fold_case_key.h"
#include "platform/posix/text/icu_converter.h"

namespace opossvc::detail {

inline constexpr UINT kUtf8CodePage = 65001;

// The ANSI code page now in force.
UINT ActiveCodePage();

// This thread's converter of the ANSI code page.
CodePageConverter& AnsiConverter();

// This thread's converter that a Win32 code page argument names: the ANSI
// code page for CP_ACP and CP_THREAD_ACP, its OEM code page for CP_OEMCP, Mac
// Roman for CP_MACCP, else the code page of that number. Null for UTF-7,
// CP_SYMBOL and code pages that the converters do not know.
CodePageConverter* ConverterFor(UINT code_page);

// This thread's converter of a code page number, or UTF-8's when the number
// names no code page that the converters know.
CodePageConverter& ConverterOrUtf8(UINT codepage);

// The OEM code page that goes with an ANSI code page (850 for 1252, ...; the
// same number for the double-byte pages and UTF-8).
UINT OemCodePageFor(UINT ansi_codepage);

// True when `codepage` names a code page that the converters know.
bool IsKnownCodePage(UINT codepage);

// True when bytes 0x00-0x7F of `codepage` are ASCII and never part of a
// longer character, so that ASCII text needs no conversion (an unknown code
// page is taken as UTF-8).
bool KeepsAscii(UINT codepage);

// Text in `codepage` as UTF-16. Undecodable byte sequences become the page's
// replacement character (OnUndecodable::kReplace); an unknown code page is
// taken as UTF-8.
std::u16string AnsiToUtf16(std::string_view ansi, UINT codepage);

// UTF-16 text in `codepage`. Characters the code page lacks become '?'
// (U+FFFD for UTF-8, which only lacks lone surrogates); an unknown code page
// is taken as UTF-8.
std::string Utf16ToAnsi(std::u16string_view text, UINT codepage);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_TEXT_ANSI_CODEPAGE_H_
