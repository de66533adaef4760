#include "afx/ansi_char_stepper.h"

#include <opossvc/win32/codepage.h>

namespace opossvc::detail {

AnsiCharStepper::AnsiCharStepper() {
  const UINT codepage = GetACP();
  utf8_ = codepage == CP_UTF8;
  CPINFO info;
  if (utf8_ || !GetCPInfo(codepage, &info) || info.MaxCharSize < 2) return;
  for (size_t i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
    for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) lead_bytes_.set(b);
  }
}

size_t AnsiCharStepper::CharLength(std::string_view text, size_t pos) const {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (!utf8_) return lead_bytes_[lead] && pos + 1 < text.size() ? 2 : 1;
  if (lead < 0xC2 || lead > 0xF4) return 1;
  // Well-formed UTF-8 only: no overlong forms, surrogates or values past
  // U+10FFFF, so a stray byte is a character of its own.
  const size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (pos + length > text.size()) return 1;
  unsigned char low = 0x80, high = 0xBF;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (byte(pos + 1) < low || byte(pos + 1) > high) return 1;
  for (size_t i = 2; i < length; ++i) {
    if (byte(pos + i) < 0x80 || byte(pos + i) > 0xBF) return 1;
  }
  return length;
}

}  // namespace opossvc::detail
