// The key by which CString::CompareNoCase compares text ignoring letter case.
// Win32 offers no full case folding, so every platform provides this: the
// POSIX one through ICU.
#ifndef OPOSSVC_PLATFORM_INTERNAL_FOLD_CASE_KEY_H_
#define OPOSSVC_PLATFORM_INTERNAL_FOLD_CASE_KEY_H_

#include <string>
#include <string_view>

namespace opossvc::detail {

// A key that compares equal for names that differ only in letter case, for
// case-insensitive, case-preserving names and their ordering. The text is
// decoded from the active code page, case-folded fully (so "STRASSE" and
// "straße" match) and encoded as UTF-8. Bytes that decode to no character are
// kept, each as the byte 0xFF (never found in UTF-8) followed by that byte, so
// distinct undecodable names keep distinct keys. Keys of pure-ASCII names are
// their lower-case form.
std::string FoldCaseKey(std::string_view ansi);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_FOLD_CASE_KEY_H_
