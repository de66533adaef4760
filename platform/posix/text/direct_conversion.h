// Conversions that need no ICU call, for text that they cover exactly: UTF-8
// up to U+FDCF, and single-byte code pages through a table filled from the
// code page's ICU converter.
//
// Each conversion writes into out[0, capacity), counts the whole result in
// *length and returns true; or returns false, leaving the buffer's contents
// undefined, when some input is not covered (invalid, unmappable, or simply
// outside the covered range), so that the caller converts through ICU and the
// result is ICU's in every case. Nothing here allocates.
#ifndef OPOSSVC_PLATFORM_POSIX_TEXT_DIRECT_CONVERSION_H_
#define OPOSSVC_PLATFORM_POSIX_TEXT_DIRECT_CONVERSION_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace opossvc::detail {

bool DecodeUtf8Direct(std::string_view in, char16_t* out, size_t capacity, size_t* length);
bool EncodeUtf8Direct(std::u16string_view in, char* out, size_t capacity, size_t* length);

// The round-trip mappings of a single-byte code page.
class ByteTable {
 public:
  ByteTable();

  // Byte `byte` decodes to `unit` on its own.
  void SetDecoding(uint8_t byte, char16_t unit);
  // `unit` on its own encodes to `byte`.
  void SetEncoding(char16_t unit, uint8_t byte);

  bool Decode(std::string_view in, char16_t* out, size_t capacity, size_t* length) const;
  bool Encode(std::u16string_view in, char* out, size_t capacity, size_t* length) const;

 private:
  static constexpr char16_t kNoUnit = 0xFFFF;  // never a character of a code page
  static constexpr int16_t kNoByte = -1;

  std::array<char16_t, 256> decoding_;
  // Encodings by the unit's high byte: pages_[page_of_[unit >> 8] - 1], when
  // page_of_ is not 0, holds the byte for each low byte, or kNoByte.
  std::array<uint8_t, 256> page_of_{};
  std::vector<std::array<int16_t, 256>> pages_;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_TEXT_DIRECT_CONVERSION_H_
