#include "platform/posix/text/ordinal_case.h"

#include <unicode/uchar.h>

namespace opossvc::detail {

char16_t UpperCaseUnit(char16_t unit) {
  if (unit < 0x80) return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
  if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
  const UChar32 upper = u_toupper(unit);
  return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

std::u16string UpperCaseOrdinal(std::u16string_view text) {
  std::u16string upper(text);
  for (char16_t& unit : upper) unit = UpperCaseUnit(unit);
  return upper;
}

}  // namespace opossvc::detail
