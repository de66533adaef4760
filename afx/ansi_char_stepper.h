// Steps through text of the system's ANSI code page by whole characters, for
// CString's character-wise operations.
#ifndef OPOSSVC_AFX_ANSI_CHAR_STEPPER_H_
#define OPOSSVC_AFX_ANSI_CHAR_STEPPER_H_

#include <bitset>
#include <cstddef>
#include <string_view>

namespace opossvc::detail {

class AnsiCharStepper {
 public:
  // The stepper of the ANSI code page now in force (GetACP), with its lead
  // bytes from GetCPInfo.
  AnsiCharStepper();

  // Bytes of the character that starts at `pos` (< text.size()): 2 for a lead
  // byte with a byte after it in a double-byte code page, the length of a
  // well-formed sequence in UTF-8, 1 otherwise.
  size_t CharLength(std::string_view text, size_t pos) const;
  // True when every character is one byte, so stepping can be skipped.
  bool single_byte() const { return !utf8_ && lead_bytes_.none(); }

 private:
  bool utf8_ = false;
  std::bitset<256> lead_bytes_;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_AFX_ANSI_CHAR_STEPPER_H_
