// CompareStringOrdinal: code unit against code unit, after the upper-case
// mapping of ordinal_case.h when letter case is ignored.
#include <string>

#include <opossvc/win32/codepage.h>
#include <opossvc/win32/errors.h>

#include "platform/posix/text/ordinal_case.h"

int WINAPI CompareStringOrdinal(LPCWSTR lpString1, int cchCount1, LPCWSTR lpString2, int cchCount2,
                                BOOL bIgnoreCase) {
  if (lpString1 == nullptr || lpString2 == nullptr || cchCount1 < -1 || cchCount2 < -1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t length1 = cchCount1 == -1 ? std::char_traits<char16_t>::length(lpString1)
                                         : static_cast<size_t>(cchCount1);
  const size_t length2 = cchCount2 == -1 ? std::char_traits<char16_t>::length(lpString2)
                                         : static_cast<size_t>(cchCount2);
  for (size_t i = 0; i < length1 && i < length2; ++i) {
    char16_t a = lpString1[i];
    char16_t b = lpString2[i];
    if (bIgnoreCase) {
      a = opossvc::detail::UpperCaseUnit(a);
      b = opossvc::detail::UpperCaseUnit(b);
    }
    if (a != b) return a < b ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  if (length1 == length2) return CSTR_EQUAL;
  return length1 < length2 ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}
