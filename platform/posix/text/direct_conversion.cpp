#include "platform/posix/text/direct_conversion.h"

#include <algorithm>

namespace opossvc::detail {
namespace {

// UTF-8 is covered up to U+FDCF: past it lie noncharacters, U+FFFD and the
// supplementary planes, which ICU decides on.
constexpr char32_t kUtf8CoveredEnd = 0xFDD0;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Stores units up to `capacity` and counts them all.
template <class Unit>
class Output {
 public:
  Output(Unit* out, size_t capacity) : out_(out), capacity_(capacity) {}
  void Put(Unit unit) {
    if (count_ < capacity_) out_[count_] = unit;
    ++count_;
  }
  size_t count() const { return count_; }

 private:
  Unit* const out_;
  const size_t capacity_;
  size_t count_ = 0;
};

}  // namespace

bool DecodeUtf8Direct(std::string_view in, char16_t* out, size_t capacity, size_t* length) {
  Output<char16_t> output(out, capacity);
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* const end = p + in.size();
  while (p < end) {
    const char32_t lead = *p;
    if (lead < 0x80) {
      output.Put(static_cast<char16_t>(lead));
      p += 1;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      if (end - p < 2 || (p[1] & 0xC0) != 0x80) return false;
      output.Put(static_cast<char16_t>(((lead & 0x1F) << 6) | (p[1] & 0x3F)));
      p += 2;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      if (end - p < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) return false;
      const char32_t c = ((lead & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
      if (c < 0x800 || IsSurrogate(c) || c >= kUtf8CoveredEnd) return false;
      output.Put(static_cast<char16_t>(c));
      p += 3;
    } else {
      return false;
    }
  }
  *length = output.count();
  return true;
}

bool EncodeUtf8Direct(std::u16string_view in, char* out, size_t capacity, size_t* length) {
  Output<char> output(out, capacity);
  for (const char16_t unit : in) {
    if (unit < 0x80) {
      output.Put(static_cast<char>(unit));
    } else if (unit < 0x800) {
      output.Put(static_cast<char>(0xC0 | (unit >> 6)));
      output.Put(static_cast<char>(0x80 | (unit & 0x3F)));
    } else if (!IsSurrogate(unit) && unit < kUtf8CoveredEnd) {
      output.Put(static_cast<char>(0xE0 | (unit >> 12)));
      output.Put(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
      output.Put(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
      return false;
    }
  }
  *length = output.count();
  return true;
}

ByteTable::ByteTable() { decoding_.fill(kNoUnit); }

void ByteTable::SetDecoding(uint8_t byte, char16_t unit) { decoding_[byte] = unit; }

void ByteTable::SetEncoding(char16_t unit, uint8_t byte) {
  if (unit == kNoUnit) return;
  uint8_t& page = page_of_[unit >> 8];
  if (page == 0) {
    if (pages_.size() == 255) return;  // left to ICU
    pages_.emplace_back();
    pages_.back().fill(kNoByte);
    page = static_cast<uint8_t>(pages_.size());
  }
  pages_[page - 1][unit & 0xFF] = byte;
}

// One unit a byte: the length is known, and the tables' addresses stay in
// registers while the output is written.
bool ByteTable::Decode(std::string_view in, char16_t* out, size_t capacity,
                       size_t* length) const {
  const char16_t* const decoding = decoding_.data();
  const size_t stored = std::min(in.size(), capacity);
  for (size_t i = 0; i < in.size(); ++i) {
    const char16_t unit = decoding[static_cast<unsigned char>(in[i])];
    if (unit == kNoUnit) return false;
    if (i < stored) out[i] = unit;
  }
  *length = in.size();
  return true;
}

bool ByteTable::Encode(std::u16string_view in, char* out, size_t capacity, size_t* length) const {
  const uint8_t* const page_of = page_of_.data();
  const std::array<int16_t, 256>* const pages = pages_.data();
  const size_t stored = std::min(in.size(), capacity);
  for (size_t i = 0; i < in.size(); ++i) {
    const char16_t unit = in[i];
    const uint8_t page = page_of[unit >> 8];
    if (page == 0) return false;
    const int16_t byte = pages[page - 1][unit & 0xFF];
    if (byte == kNoByte) return false;
    if (i < stored) out[i] = static_cast<char>(byte);
  }
  *length = in.size();
  return true;
}

}  // namespace opossvc::detail
