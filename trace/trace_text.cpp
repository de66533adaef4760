#include "trace/trace_text.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <opossvc/opos.h>
#include <opossvc/win32/codepage.h>
#include <opossvc/win32/errors.h>

namespace opossvc::detail {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// The parameter-type bytes of the dispatch convention (VTS_*).
enum ParamType : unsigned char {
  kI2 = 0x02,
  kI4 = 0x03,
  kR4 = 0x04,
  kR8 = 0x05,
  kCy = 0x06,
  kDate = 0x07,
  kWideString = 0x08,
  kDispatch = 0x09,
  kScode = 0x0A,
  kBool = 0x0B,
  kVariant = 0x0C,
  kUnknown = 0x0D,
  kString = 0x0E,
  kByReference = 0x40,
  kPI4 = kByReference | kI4,
  kPBstr = kByReference | kWideString,
};

struct ResultName {
  LONG code;
  const char* name;
};

constexpr ResultName kResultNames[] = {
    {OPOS_SUCCESS, "OPOS_SUCCESS"},       {OPOS_E_CLOSED, "OPOS_E_CLOSED"},
    {OPOS_E_CLAIMED, "OPOS_E_CLAIMED"},   {OPOS_E_NOTCLAIMED, "OPOS_E_NOTCLAIMED"},
    {OPOS_E_NOSERVICE, "OPOS_E_NOSERVICE"}, {OPOS_E_DISABLED, "OPOS_E_DISABLED"},
    {OPOS_E_ILLEGAL, "OPOS_E_ILLEGAL"},   {OPOS_E_NOHARDWARE, "OPOS_E_NOHARDWARE"},
    {OPOS_E_OFFLINE, "OPOS_E_OFFLINE"},   {OPOS_E_NOEXIST, "OPOS_E_NOEXIST"},
    {OPOS_E_EXISTS, "OPOS_E_EXISTS"},     {OPOS_E_FAILURE, "OPOS_E_FAILURE"},
    {OPOS_E_TIMEOUT, "OPOS_E_TIMEOUT"},   {OPOS_E_BUSY, "OPOS_E_BUSY"},
    {OPOS_E_EXTENDED, "OPOS_E_EXTENDED"},
};

// The longest texts of the number formats.
constexpr size_t kDecimalMax = 11;                          // -2147483648
constexpr size_t kNumberMax = kDecimalMax + 4 + 8 + 1;      // "%ld (0x%.8lx)"
constexpr size_t kCurrencyMax = 5 + kDecimalMax + 7 + kDecimalMax + 10 + 8 + 9 + 8 + 1;

bool NeedsEscape(unsigned char byte) { return byte < 0x20 || byte >= 0x7F; }

// The signed decimal of the value at `out`; returns its length.
size_t FormatDecimal(LONG value, char* out) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char digits[10];
  char* first = digits + sizeof(digits);
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  while (magnitude >= 100) {
    const uint32_t pair = magnitude % 100;
    magnitude /= 100;
    first -= 2;
    std::memcpy(first, kPairs + 2 * pair, 2);
  }
  if (magnitude >= 10) {
    first -= 2;
    std::memcpy(first, kPairs + 2 * magnitude, 2);
  } else {
    *--first = static_cast<char>('0' + magnitude);
  }
  size_t length = 0;
  if (value < 0) out[length++] = '-';
  const auto count = static_cast<size_t>(digits + sizeof(digits) - first);
  std::memcpy(out + length, first, count);
  return length + count;
}

// Eight lowercase hexadecimal digits of the 32 bits at `out`.
void FormatHex8(DWORD value, char* out) {
  for (int i = 7; i >= 0; --i) {
    out[i] = kHex[value & 0xF];
    value >>= 4;
  }
}

size_t Copy(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return text.size();
}

std::string_view TextOf(const char* text) {
  return text != nullptr ? std::string_view(text) : std::string_view();
}

}  // namespace

bool RecordText::Grow(size_t count) {
  if (count > SIZE_MAX / 2 - size_) {
    failed_ = true;
    return false;
  }
  size_t capacity = capacity_ * 2;
  if (capacity < size_ + count) capacity = size_ + count;
  char* grown = data_ == inline_ ? static_cast<char*>(std::malloc(capacity))
                                 : static_cast<char*>(std::realloc(data_, capacity));
  if (grown == nullptr) {
    failed_ = true;
    return false;
  }
  if (data_ == inline_) std::memcpy(grown, inline_, size_);
  data_ = grown;
  capacity_ = capacity;
  return true;
}

void RecordText::PutName(const char* name) {
  if (name == nullptr) return;
  for (;;) {
    const size_t line = std::strcspn(name, "\n");  // one pass to the line end or the NUL
    Put(std::string_view(name, line));
    if (name[line] == '\0') return;
    EndLine();
    name += line + 1;
  }
}

void RecordText::PutEscaped(std::string_view bytes) {
  const char* next = bytes.data();
  const char* const end = next + bytes.size();
  while (next < end) {
    const char* plain = next;
    while (next < end && !NeedsEscape(static_cast<unsigned char>(*next))) ++next;
    Put(std::string_view(plain, static_cast<size_t>(next - plain)));
    if (next == end) break;
    const auto byte = static_cast<unsigned char>(*next++);
    if (char* out = Room(4)) {
      out[0] = '\\';
      out[1] = 'x';
      out[2] = kHex[byte >> 4];
      out[3] = kHex[byte & 0xF];
      size_ += 4;
    }
  }
}

void RecordText::EscapeTail(size_t from) {
  size_t escapes = 0;
  for (size_t i = from; i < size_; ++i) escapes += NeedsEscape(static_cast<unsigned char>(data_[i]));
  if (escapes == 0 || Room(3 * escapes) == nullptr) return;
  // Backwards, so that every byte moves before it is overwritten.
  size_t to = size_ + 3 * escapes;
  for (size_t i = size_; i-- > from;) {
    const auto byte = static_cast<unsigned char>(data_[i]);
    if (!NeedsEscape(byte)) {
      data_[--to] = static_cast<char>(byte);
      continue;
    }
    data_[--to] = kHex[byte & 0xF];
    data_[--to] = kHex[byte >> 4];
    data_[--to] = 'x';
    data_[--to] = '\\';
  }
  size_ += 3 * escapes;
}

void RecordText::PutQuoted(std::string_view bytes) {
  Put('"');
  PutEscaped(bytes);
  Put('"');
}

void RecordText::PutQuotedWide(const OLECHAR* text) {
  Put('"');
  int units = 0;
  while (text != nullptr && text[units] != 0 && units < INT_MAX) ++units;
  // Converted straight into the record, then escaped where it lies. A UTF-16
  // unit takes at most four bytes in any code page: short texts get that
  // room at once, long ones the size the conversion asks.
  const size_t start = size_;
  int room = units <= static_cast<int>(kInline) ? units * 4 : 0;
  for (int attempt = 0; units > 0 && attempt < 2; ++attempt) {
    if (room == 0) room = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
    char* out = room > 0 ? Room(static_cast<size_t>(room)) : nullptr;
    if (out == nullptr) break;
    const int written = WideCharToMultiByte(CP_ACP, 0, text, units, out, room, nullptr, nullptr);
    if (written > 0) {
      size_ += static_cast<size_t>(written);
      EscapeTail(start);
      break;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    room = 0;
  }
  Put('"');
}

void RecordText::PutNumber(LONG value) {
  char* out = Room(kNumberMax);
  if (out == nullptr) return;
  size_t length = FormatDecimal(value, out);
  length += Copy(out + length, " (0x");
  FormatHex8(static_cast<DWORD>(value), out + length);
  length += 8;
  out[length++] = ')';
  size_ += length;
}

void RecordText::PutCurrency(const CY& value) {
  char* out = Room(kCurrencyMax);
  if (out == nullptr) return;
  size_t length = Copy(out, "Hi = ");
  length += FormatDecimal(value.Hi, out + length);
  length += Copy(out + length, ", Lo = ");
  length += FormatDecimal(opossvc::Long32(value.Lo), out + length);
  length += Copy(out + length, " (Hi = 0x");
  FormatHex8(static_cast<DWORD>(value.Hi), out + length);
  length += 8;
  length += Copy(out + length, ", Lo = 0x");
  FormatHex8(value.Lo, out + length);
  length += 8;
  out[length++] = ')';
  size_ += length;
}

void PutPropertyPrefix(RecordText& record, const char* object, const char* property,
                       char separator) {
  record.PutName(object);
  record.Put('.');
  record.PutName(property);
  record.Put(separator);
}

void PutMethod(RecordText& record, const char* object, const char* method, int direction,
               const char* types, va_list args) {
  record.Put(direction != 0 ? '<' : '>');
  record.PutName(object);
  record.Put('.');
  record.PutName(method);
  record.Put('(');
  const char* type = types != nullptr ? types : "";
  for (size_t i = 0; type[i] != '\0'; ++i) {
    if (i > 0) record.Put(',');
    switch (static_cast<unsigned char>(type[i])) {
      case kI2:
      case kScode:
        va_arg(args, int);
        break;
      case kI4:
        // A LONG, 32 bits in value: an int argument reads the same.
        record.PutNumber(opossvc::Long32(va_arg(args, LONG)));
        break;
      case kR4:
      case kR8:
      case kDate:
        va_arg(args, double);
        break;
      case kBool:
        record.PutBoolean(va_arg(args, int));
        break;
      case kWideString:
        record.PutQuotedWide(va_arg(args, const OLECHAR*));
        break;
      case kString:
        record.PutQuoted(TextOf(va_arg(args, const char*)));
        break;
      case kPI4:
        if (const LONG* value = va_arg(args, const LONG*)) {
          record.Put('[');
          record.PutNumber(opossvc::Long32(*value));
          record.Put(']');
        }
        break;
      case kPBstr:
        // Escaped like a string by value: a line end inside must not end the record.
        if (const BSTR* value = va_arg(args, const BSTR*)) {
          record.Put('[');
          record.PutQuotedWide(*value);
          record.Put(']');
        }
        break;
      case kCy:
      case kDispatch:
      case kVariant:
      case kUnknown:
      case kByReference | kI2:
      case kByReference | kR4:
      case kByReference | kR8:
      case kByReference | kCy:
      case kByReference | kDate:
      case kByReference | kDispatch:
      case kByReference | kScode:
      case kByReference | kBool:
      case kByReference | kVariant:
      case kByReference | kUnknown:
        va_arg(args, void*);
        break;
      default:
        break;  // takes no argument
    }
  }
  record.Put(')');
  record.EndLine();
}

const char* ResultCodeName(LONG result) {
  for (const ResultName& entry : kResultNames) {
    if (entry.code == result) return entry.name;
  }
  return "(Unknown)";
}

void PutResult(RecordText& record, const char* object, LONG result, LONG extended) {
  record.Put('<');
  record.PutName(object);
  record.Put(".ResultCode:");
  record.Put(ResultCodeName(result));
  record.EndLine();
  record.Put('<');
  record.PutName(object);
  record.Put(".ResultCodeExtended:");
  record.PutNumber(extended);
  record.EndLine();
}

}  // namespace opossvc::detail
