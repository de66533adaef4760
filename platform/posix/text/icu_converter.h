// ICU converters for Windows code pages, one per code page and thread.
//
// An ICU converter keeps conversion state and may be used by one thread at a
// time, and opening one costs far more than a conversion, so each thread keeps
// the converters it has used until it exits. Code pages that ICU does not know
// are remembered too, so asking again is as cheap as a hit.
//
// Undecodable input (bytes that form no character of the code page) and
// unmappable text (characters the code page lacks, lone surrogates) are
// handled by the policy that the caller names; nothing here sets the thread's
// last error.
#ifndef OPOSSVC_PLATFORM_POSIX_TEXT_ICU_CONVERTER_H_
#define OPOSSVC_PLATFORM_POSIX_TEXT_ICU_CONVERTER_H_

#include <array>
#include <string>
#include <string_view>

#include <opossvc/win32/types.h>

struct UConverter;

namespace opossvc::detail {

// What decoding does with a byte sequence that is no character.
enum class OnUndecodable {
  kReplace,  // one U+FFFD per undecodable sequence
  kFail,     // stop; the conversion fails
  kEscape,   // each undecodable byte b becomes the lone surrogate U+DC00 + b
};

// What encoding does with a character that the code page cannot represent.
enum class OnUnmappable {
  kReplace,  // the replacement bytes given to Encode
  kFail,     // stop; the conversion fails
};

class CodePageConverter {
 public:
  // This thread's converter for a Windows code page number, opened on first
  // use; null when ICU has no converter for it. The pointer stays valid until
  // the thread exits.
  static CodePageConverter* ForThread(UINT codepage);

  CodePageConverter(const CodePageConverter&) = delete;
  CodePageConverter& operator=(const CodePageConverter&) = delete;
  ~CodePageConverter();

  UINT codepage() const { return codepage_; }
  bool is_utf8() const { return codepage_ == 65001; }
  // Bytes 0x00-0x7F stand for themselves and are never part of a longer
  // character's first byte, so pure-ASCII text needs no conversion.
  bool ascii_compatible() const { return ascii_compatible_; }
  // True for the first byte of a two-byte character of a double-byte code
  // page; always false for single-byte code pages and UTF-8.
  bool IsLeadByte(BYTE b) const { return lead_bytes_[b]; }
  bool is_double_byte() const { return double_byte_; }

  // Decodes all of `in` into `*out` (replacing its contents). Returns false
  // only under OnUndecodable::kFail when some input is undecodable; `*out` then
  // holds what was decoded so far. `*saw_undecodable` (optional) tells whether
  // any input was undecodable.
  bool Decode(std::string_view in, OnUndecodable policy, std::u16string* out,
              bool* saw_undecodable = nullptr);

  // Encodes all of `in` into `*out` (replacing its contents). Unmappable
  // characters become `replacement` under OnUnmappable::kReplace. Returns
  // false only under kFail. `*saw_unmappable` (optional) tells whether any
  // character was unmappable.
  bool Encode(std::u16string_view in, OnUnmappable policy, std::string_view replacement,
              std::string* out, bool* saw_unmappable = nullptr);

  // The bytes that stand in for an unmappable character by default: "?" for
  // legacy code pages, the encoding of U+FFFD for UTF-8.
  std::string_view default_replacement() const;

 private:
  CodePageConverter(UINT codepage, UConverter* converter);

  UINT codepage_;
  UConverter* converter_;  // owned
  bool ascii_compatible_ = false;
  bool double_byte_ = false;
  std::array<bool, 256> lead_bytes_{};
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_TEXT_ICU_CONVERTER_H_
