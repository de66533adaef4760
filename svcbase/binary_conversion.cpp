#include "svcbase/binary_conversion.h"

#include <opossvc/opos.h>

namespace opossvc::detail {
namespace {

constexpr unsigned kNibbleFirst = 0x30;
constexpr unsigned kNibbleLast = 0x3F;
constexpr unsigned kSpace = 0x20;

// Code units compared as unsigned values, so that a signed char above 0x7F
// or a UTF-16 unit above 0xFF never aliases an ASCII character.
template <class CharT>
unsigned Unit(CharT c) {
  if constexpr (sizeof(CharT) == 1) {
    return static_cast<unsigned char>(c);
  } else {
    return static_cast<unsigned>(c);
  }
}

bool IsNibble(unsigned c) { return c >= kNibbleFirst && c <= kNibbleLast; }
bool IsDigit(unsigned c) { return c >= '0' && c <= '9'; }

template <class CharT>
DecodedBytes DecodeNibblesOf(const CharT* text, std::size_t count) {
  DecodedBytes out;
  if (count % 2 != 0) {
    out.error = OPOSSVC_E_CONVERSION;
    return out;
  }
  out.bytes.assign(count / 2, '\0');
  for (std::size_t i = 0; i < count / 2; ++i) {
    unsigned hi = Unit(text[2 * i]);
    unsigned lo = Unit(text[2 * i + 1]);
    if (!IsNibble(hi) || !IsNibble(lo)) {
      out.error = OPOSSVC_E_CONVERSION;
      break;
    }
    out.bytes[i] = static_cast<char>(((hi & 0x0F) << 4) | (lo & 0x0F));
  }
  return out;
}

// One group of three: units, tens (digit or space), hundreds (digit, or a
// space; a digit only when the tens are a digit). -1 when malformed.
int DecimalGroupValue(unsigned c1, unsigned c2, unsigned c3) {
  if (!IsDigit(c3)) return -1;
  if (!IsDigit(c2) && c2 != kSpace) return -1;
  if (c1 != kSpace && !(IsDigit(c1) && IsDigit(c2))) return -1;
  int value = static_cast<int>(c3 - '0');
  if (IsDigit(c2)) value += 10 * static_cast<int>(c2 - '0');
  if (IsDigit(c1)) value += 100 * static_cast<int>(c1 - '0');
  return value <= 255 ? value : -1;
}

template <class CharT>
DecodedBytes DecodeDecimalOf(const CharT* text, std::size_t count) {
  DecodedBytes out;
  if (count % 3 != 0) {
    out.error = OPOSSVC_E_CONVERSION;
    return out;
  }
  out.bytes.assign(count / 3, '\0');
  for (std::size_t i = 0; i < count / 3; ++i) {
    int value = DecimalGroupValue(Unit(text[3 * i]), Unit(text[3 * i + 1]), Unit(text[3 * i + 2]));
    if (value < 0) {
      out.error = OPOSSVC_E_CONVERSION;
      break;
    }
    out.bytes[i] = static_cast<char>(value);
  }
  return out;
}

}  // namespace

std::string EncodeNibbles(const unsigned char* bytes, std::size_t count) {
  std::string out(2 * count, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    out[2 * i] = static_cast<char>((bytes[i] >> 4) + kNibbleFirst);
    out[2 * i + 1] = static_cast<char>((bytes[i] & 0x0F) + kNibbleFirst);
  }
  return out;
}

std::string EncodeDecimal(const unsigned char* bytes, std::size_t count) {
  std::string out(3 * count, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    out[3 * i] = static_cast<char>('0' + bytes[i] / 100);
    out[3 * i + 1] = static_cast<char>('0' + bytes[i] / 10 % 10);
    out[3 * i + 2] = static_cast<char>('0' + bytes[i] % 10);
  }
  return out;
}

DecodedBytes DecodeNibbles(const char* text, std::size_t count) { return DecodeNibblesOf(text, count); }
DecodedBytes DecodeNibbles(const OLECHAR* text, std::size_t count) { return DecodeNibblesOf(text, count); }
DecodedBytes DecodeDecimal(const char* text, std::size_t count) { return DecodeDecimalOf(text, count); }
DecodedBytes DecodeDecimal(const OLECHAR* text, std::size_t count) { return DecodeDecimalOf(text, count); }

}  // namespace opossvc::detail
