// Code-page conversion, as Win32's MultiByteToWideChar/WideCharToMultiByte,
// and the ordinal comparison of UTF-16 text.
//
// CP_ACP is the system's ANSI code page: $OPOS_CODEPAGE when it names a
// code page that is known here (1252, 932, 65001, ...), else UTF-8 (65001),
// read at each call (a setuid or otherwise privileged process ignores it and
// keeps UTF-8). CP_OEMCP is the matching OEM code page (850 for 1252,
// the same number for the double-byte pages and UTF-8). CP_THREAD_ACP is
// CP_ACP. UTF-7 and the other stateful encodings are not supported.
//
// Contract (as on Win32):
// - A source length of -1 means a NUL-terminated source, and the NUL is
//   converted and counted; otherwise exactly that many units are converted,
//   NULs included, and no terminator is added.
// - A destination size of 0 asks for the size needed; the destination is
//   not touched.
// - The result is the number of units written (or needed); 0 on failure,
//   with GetLastError() = ERROR_INSUFFICIENT_BUFFER (destination too small;
//   it may then hold a part of the result), ERROR_INVALID_PARAMETER (null
//   source, source length 0 or below -1, negative destination size, source
//   and destination the same), ERROR_INVALID_FLAGS, or
//   ERROR_NO_UNICODE_TRANSLATION (MB_ERR_INVALID_CHARS or
//   WC_ERR_INVALID_CHARS and the source holds an invalid sequence).
// - Without MB_ERR_INVALID_CHARS an invalid byte sequence becomes U+FFFD
//   (U+30FB, its table's default, in code page 932).
// - WideCharToMultiByte writes lpDefaultChar (first byte; "?" when null) for
//   each character the code page lacks and sets *lpUsedDefaultChar. For
//   CP_UTF8 both must be null (ERROR_INVALID_PARAMETER otherwise); a lone
//   surrogate becomes U+FFFD. No best-fit mapping is applied, with or
//   without WC_NO_BEST_FIT_CHARS: a character is either represented exactly
//   or replaced (Windows maps some to a similar one unless that flag is given).
#ifndef OPOSSVC_WIN32_CODEPAGE_H_
#define OPOSSVC_WIN32_CODEPAGE_H_

#include <opossvc/export.h>
#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/win32/types.h>

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_SYMBOL 42
#define CP_UTF7 65000
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_COMPOSITECHECK 0x00000200
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

OPOSSVC_API int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                           int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
OPOSSVC_API int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                           int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                           LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

#define MAX_LEADBYTES 12
#define MAX_DEFAULTCHAR 2

typedef struct _cpinfo {
  UINT MaxCharSize;
  BYTE DefaultChar[MAX_DEFAULTCHAR];
  BYTE LeadByte[MAX_LEADBYTES];
} CPINFO, *LPCPINFO;

OPOSSVC_API UINT WINAPI GetACP(void);
OPOSSVC_API UINT WINAPI GetOEMCP(void);
// TRUE when the code page is known here.
OPOSSVC_API BOOL WINAPI IsValidCodePage(UINT CodePage);
// TRUE when TestChar is a lead byte of a double-byte code page (CP_ACP's for
// IsDBCSLeadByte); always FALSE for single-byte code pages and UTF-8.
OPOSSVC_API BOOL WINAPI IsDBCSLeadByte(BYTE TestChar);
OPOSSVC_API BOOL WINAPI IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar);
// The longest character of the code page in bytes (1 for single-byte code
// pages, 2 for double-byte ones, 4 for UTF-8), its default character ("?")
// and its lead-byte ranges as pairs of first and last byte, ended by a pair of
// zeros (none for single-byte code pages and UTF-8). FALSE with
// ERROR_INVALID_PARAMETER for a code page not known here or a null lpCPInfo.
OPOSSVC_API BOOL WINAPI GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo);

#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

// Compares code unit by code unit, as the registry compares names: with
// bIgnoreCase each unit is first mapped to upper case by itself (no locale;
// "\u00DF" stays distinct from "SS"). A count of -1 means a NUL-terminated
// string. CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN; 0 with
// ERROR_INVALID_PARAMETER for a null string or a count below -1.
OPOSSVC_API int WINAPI CompareStringOrdinal(LPCWSTR lpString1, int cchCount1, LPCWSTR lpString2,
                                            int cchCount2, BOOL bIgnoreCase);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_CODEPAGE_H_
