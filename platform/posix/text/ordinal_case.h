// Letter case of names as Windows ignores it: the registry and
// CompareStringOrdinal map each UTF-16 code unit through one upper-case
// table, with no locale, no folding of one character into several and no
// change of length.
//
// The table here is ICU's simple upper-case mapping (u_toupper) of the code
// unit's character. A surrogate, and a character whose upper case lies
// outside the Basic Multilingual Plane, map to themselves. So "straße" and
// "STRASSE" differ, "ΣΟΣ" and "σος" match, and a text keeps its length.
#ifndef OPOSSVC_PLATFORM_POSIX_TEXT_ORDINAL_CASE_H_
#define OPOSSVC_PLATFORM_POSIX_TEXT_ORDINAL_CASE_H_

#include <string>
#include <string_view>

namespace opossvc::detail {

char16_t UpperCaseUnit(char16_t unit);

// `text` with every code unit upper-cased.
std::u16string UpperCaseOrdinal(std::u16string_view text);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_TEXT_ORDINAL_CASE_H_
