// The two printable encodings of binary data that the BinaryConversion
// property selects: nibble (two characters 0x30..0x3F per byte) and decimal
// (three digits per byte, leading zeros or spaces).
//
// Decoding works on 8-bit or UTF-16 text alike, comparing whole code units,
// so a UTF-16 character outside ASCII is malformed. Malformed text yields the
// conversion error with the result keeping its full length: the bytes decoded
// before the bad group, then zero bytes; a length that is no multiple of the
// group size yields the error and no bytes.
#ifndef OPOSSVC_SVCBASE_BINARY_CONVERSION_H_
#define OPOSSVC_SVCBASE_BINARY_CONVERSION_H_

#include <cstddef>
#include <string>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

// Values of m_lBinaryConversion.
inline constexpr LONG kConversionNone = 0;
inline constexpr LONG kConversionNibble = 1;
inline constexpr LONG kConversionDecimal = 2;

struct DecodedBytes {
  std::string bytes;
  LONG error = 0;  // 0 or OPOSSVC_E_CONVERSION
};

std::string EncodeNibbles(const unsigned char* bytes, std::size_t count);
std::string EncodeDecimal(const unsigned char* bytes, std::size_t count);

DecodedBytes DecodeNibbles(const char* text, std::size_t count);
DecodedBytes DecodeNibbles(const OLECHAR* text, std::size_t count);
DecodedBytes DecodeDecimal(const char* text, std::size_t count);
DecodedBytes DecodeDecimal(const OLECHAR* text, std::size_t count);

}  // namespace opossvc::detail

#endif  // OPOSSVC_SVCBASE_BINARY_CONVERSION_H_
