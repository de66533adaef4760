// ICU converters for Windows code pages, one per code page and thread, and
// the one conversion routine of the platform layer: the Win32 calls and the
// layer's own ANSI conversions all convert through Decode and Encode.
//
// An ICU converter keeps conversion state and may be used by one thread at a
// time, and opening one costs far more than a conversion, so each thread keeps
// the converters it has used until it exits. Code pages that ICU does not know
// are remembered too, so asking again is as cheap as a hit.
//
// Decode and Encode write straight into the caller's buffer and measure the
// whole result even when it does not fit (the rest is counted through a
// stack buffer), so a conversion allocates nothing. UTF-8 and single-byte
// code pages convert the text that direct_conversion.h covers without ICU,
// and text that is all ASCII is copied when the code page keeps ASCII; the
// results are ICU's all the same.
//
// Undecodable input (bytes that form no character of the code page) and
// unmappable text (characters the code page lacks, lone surrogates) are
// handled by the policy that the caller names; nothing here sets the thread's
// last error.
#ifndef OPOSSVC_PLATFORM_POSIX_TEXT_ICU_CONVERTER_H_
#define OPOSSVC_PLATFORM_POSIX_TEXT_ICU_CONVERTER_H_

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <opossvc/win32/types.h>

#include "platform/posix/text/direct_conversion.h"

struct UConverter;

namespace opossvc::detail {

// What decoding does with a byte sequence that is no character.
enum class OnUndecodable {
  kReplace,  // one replacement character per undecodable sequence: U+FFFD, or
             // U+30FB in code page 932, whose table names that as its default
  kFail,     // stop; the conversion fails
  kEscape,   // each undecodable byte b becomes the lone surrogate U+DC00 + b
};

// What encoding does with a character that the code page cannot represent.
enum class OnUnmappable {
  kReplace,  // the replacement bytes given to Encode
  kFail,     // stop; the conversion fails
};

// True when every unit of `text` is below 0x80.
bool IsAscii(std::string_view text);
bool IsAscii(std::u16string_view text);

// The outcome of a conversion into a caller's buffer.
struct Converted {
  size_t length = 0;     // units of the whole result; on failure, of what came before it
  bool fits = true;      // the whole result was written
  bool ok = true;        // false only under a kFail policy: some input was refused
  bool replaced = false;  // some input was undecodable or unmappable
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

  // Decodes `in` into out[0, capacity). `out` may be null when `capacity` is
  // 0. Past the end of the buffer the result is only counted.
  Converted Decode(std::string_view in, OnUndecodable policy, char16_t* out, size_t capacity);

  // Encodes `in` into out[0, capacity); unmappable characters become
  // `replacement` under OnUnmappable::kReplace, once per UTF-16 unit.
  Converted Encode(std::u16string_view in, OnUnmappable policy, std::string_view replacement,
                   char* out, size_t capacity);

  // The same into a string (replacing its contents). False only under a kFail
  // policy; `*out` then holds what came before the refused input.
  // `*replaced` (optional) tells whether any input was undecodable or
  // unmappable.
  bool Decode(std::string_view in, OnUndecodable policy, std::u16string* out,
              bool* replaced = nullptr);
  bool Encode(std::u16string_view in, OnUnmappable policy, std::string_view replacement,
              std::string* out, bool* replaced = nullptr);

  // The bytes that stand in for an unmappable character by default: "?" for
  // legacy code pages, the encoding of U+FFFD for UTF-8.
  std::string_view default_replacement() const;

  // What the ICU callbacks of this converter do, set per conversion.
  struct DecodeContext {
    OnUndecodable policy = OnUndecodable::kReplace;
    char16_t replacement = 0xFFFD;
    bool replaced = false;
  };
  struct EncodeContext {
    OnUnmappable policy = OnUnmappable::kReplace;
    std::string_view replacement;
    bool replaced = false;
  };

 private:
  CodePageConverter(UINT codepage, UConverter* converter);

  // Without ICU, when the text allows it (see above); false otherwise.
  bool DecodeDirect(std::string_view in, char16_t* out, size_t capacity, size_t* length) const;
  bool EncodeDirect(std::u16string_view in, char* out, size_t capacity, size_t* length) const;
  Converted DecodeIcu(std::string_view in, OnUndecodable policy, char16_t* out, size_t capacity);
  Converted EncodeIcu(std::u16string_view in, OnUnmappable policy, std::string_view replacement,
                      char* out, size_t capacity);
  void FillByteTable();

  UINT codepage_;
  UConverter* converter_;  // owned; its callbacks point at the contexts below
  DecodeContext decode_context_;
  EncodeContext encode_context_;
  size_t max_char_bytes_ = 1;
  bool ascii_compatible_ = false;
  bool double_byte_ = false;
  std::array<bool, 256> lead_bytes_{};
  std::unique_ptr<ByteTable> byte_table_;  // single-byte code pages only
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_TEXT_ICU_CONVERTER_H_
