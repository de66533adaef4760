#include "platform/posix/text/icu_converter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <string>
#include <utility>
#include <vector>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

namespace opossvc::detail {
namespace {

constexpr UINT kUtf8 = 65001;
constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";

// ICU names to try for a Windows code page number, most specific first.
std::vector<std::string> IcuNamesFor(UINT codepage) {
  if (codepage == kUtf8) return {"UTF-8"};
  if (codepage == 20127) return {"US-ASCII"};
  if (codepage >= 28591 && codepage <= 28605) {
    return {"ISO-8859-" + std::to_string(codepage - 28590)};
  }
  const std::string n = std::to_string(codepage);
  return {"windows-" + n, "cp" + n, "ibm-" + n};
}

// Only byte-oriented converters can stand for a Windows "ANSI" code page;
// ICU also answers to some numbers with UTF-16/32 or stateful converters.
bool IsByteOriented(UConverter* converter) {
  switch (ucnv_getType(converter)) {
    case UCNV_SBCS:
    case UCNV_DBCS:
    case UCNV_MBCS:
    case UCNV_LATIN_1:
    case UCNV_UTF8:
    case UCNV_US_ASCII:
      return true;
    default:
      return false;
  }
}

void ToUnicodeCallback(const void* context, UConverterToUnicodeArgs* args,
                       const char* code_units, int32_t length, UConverterCallbackReason reason,
                       UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to convert
  auto* ctx = static_cast<CodePageConverter::DecodeContext*>(const_cast<void*>(context));
  ctx->replaced = true;
  switch (ctx->policy) {
    case OnUndecodable::kFail:
      return;  // leaving *err set stops the conversion
    case OnUndecodable::kReplace: {
      *err = U_ZERO_ERROR;
      const UChar replacement = ctx->replacement;
      ucnv_cbToUWriteUChars(args, &replacement, 1, 0, err);
      return;
    }
    case OnUndecodable::kEscape:
      *err = U_ZERO_ERROR;
      for (int32_t i = 0; i < length && U_SUCCESS(*err); ++i) {
        const UChar escaped = static_cast<UChar>(0xDC00 + static_cast<unsigned char>(code_units[i]));
        ucnv_cbToUWriteUChars(args, &escaped, 1, 0, err);
      }
      return;
  }
}

void FromUnicodeCallback(const void* context, UConverterFromUnicodeArgs* args,
                         const UChar* /*code_units*/, int32_t length, UChar32 /*code_point*/,
                         UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;
  auto* ctx = static_cast<CodePageConverter::EncodeContext*>(const_cast<void*>(context));
  ctx->replaced = true;
  if (ctx->policy == OnUnmappable::kFail) return;
  *err = U_ZERO_ERROR;
  // One replacement per UTF-16 unit: a character outside the BMP that the
  // code page lacks takes two, as on Windows.
  for (int32_t i = 0; i < length && !ctx->replacement.empty() && U_SUCCESS(*err); ++i) {
    ucnv_cbFromUWriteBytes(args, ctx->replacement.data(),
                           static_cast<int32_t>(ctx->replacement.size()), 0, err);
  }
}

// The most units that one ICU call may write: it refuses a target of more
// than 2^30 UTF-16 units, whatever the caller's buffer holds.
constexpr size_t kMaxIcuTarget = size_t{1} << 29;

// Converts all of `in` (`step` is ucnv_toUnicode or ucnv_fromUnicode,
// flushing) into out[0, capacity), then counts what did not fit through a
// stack buffer: ICU hands the units that overflowed one target to the next.
// A conversion that flushes all of its input leaves the converter reset; one
// that a kFail policy stopped must be reset by the caller.
template <class In, class Out, class Step>
Converted Run(std::basic_string_view<In> in, Out* out, size_t capacity, Step step) {
  Converted result;
  const In* source = in.data();
  const In* const source_end = in.data() + in.size();
  Out* target = out;
  UErrorCode err = U_ZERO_ERROR;
  step(&target, out + std::min(capacity, kMaxIcuTarget), &source, source_end, &err);
  result.length = static_cast<size_t>(target - out);
  while (err == U_BUFFER_OVERFLOW_ERROR) {
    Out scratch[256];
    const bool into_caller = result.length < capacity;
    Out* const start = into_caller ? out + result.length : scratch;
    target = start;
    err = U_ZERO_ERROR;
    step(&target,
         into_caller ? start + std::min(capacity - result.length, kMaxIcuTarget)
                     : scratch + std::size(scratch),
         &source, source_end, &err);
    result.length += static_cast<size_t>(target - start);
  }
  result.fits = result.length <= capacity;
  result.ok = U_SUCCESS(err);
  return result;
}

// Eight bytes at a time: `high` has the bits that no ASCII unit sets.
template <class Unit>
bool NoBitsOf(std::basic_string_view<Unit> text, uint64_t high) {
  uint64_t any = 0;
  size_t i = 0;
  for (uint64_t word; i + sizeof(word) / sizeof(Unit) <= text.size();
       i += sizeof(word) / sizeof(Unit)) {
    std::memcpy(&word, text.data() + i, sizeof(word));
    any |= word;
  }
  for (; i < text.size(); ++i) any |= static_cast<std::make_unsigned_t<Unit>>(text[i]);
  return (any & high) == 0;
}

// The converters one thread has opened, and the code pages found unknown
// (null entries). A handful at most, so a vector.
class ConverterCache {
 public:
  CodePageConverter* Get(UINT codepage, std::unique_ptr<CodePageConverter> (*open)(UINT)) {
    for (auto& [cp, converter] : entries_) {
      if (cp == codepage) return converter.get();
    }
    entries_.emplace_back(codepage, open(codepage));
    return entries_.back().second.get();
  }

 private:
  std::vector<std::pair<UINT, std::unique_ptr<CodePageConverter>>> entries_;
};

}  // namespace

bool IsAscii(std::string_view text) { return NoBitsOf(text, 0x8080808080808080u); }

bool IsAscii(std::u16string_view text) { return NoBitsOf(text, 0xFF80FF80FF80FF80u); }

CodePageConverter* CodePageConverter::ForThread(UINT codepage) {
  thread_local ConverterCache cache;
  return cache.Get(codepage, [](UINT cp) -> std::unique_ptr<CodePageConverter> {
    for (const std::string& name : IcuNamesFor(cp)) {
      UErrorCode err = U_ZERO_ERROR;
      UConverter* converter = ucnv_open(name.c_str(), &err);
      if (U_FAILURE(err) || converter == nullptr) continue;
      if (!IsByteOriented(converter)) {
        ucnv_close(converter);
        continue;
      }
      return std::unique_ptr<CodePageConverter>(new CodePageConverter(cp, converter));
    }
    return nullptr;
  });
}

CodePageConverter::CodePageConverter(UINT codepage, UConverter* converter)
    : codepage_(codepage),
      converter_(converter),
      max_char_bytes_(static_cast<size_t>(ucnv_getMaxCharSize(converter))) {
  if (codepage == 932) decode_context_.replacement = 0x30FB;
  UErrorCode err = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter_, ToUnicodeCallback, &decode_context_, nullptr, nullptr, &err);
  ucnv_setFromUCallBack(converter_, FromUnicodeCallback, &encode_context_, nullptr, nullptr, &err);
  const UConverterType type = ucnv_getType(converter_);
  if ((type == UCNV_MBCS || type == UCNV_DBCS) && max_char_bytes_ == 2) {
    UBool starters[256] = {};
    err = U_ZERO_ERROR;
    ucnv_getStarters(converter_, starters, &err);
    if (U_SUCCESS(err)) {
      for (int b = 0; b < 256; ++b) {
        lead_bytes_[b] = starters[b] != 0;
        double_byte_ = double_byte_ || lead_bytes_[b];
      }
    }
  }
  char ascii[128];
  for (int b = 0; b < 128; ++b) ascii[b] = static_cast<char>(b);
  char16_t decoded[128];
  const Converted result =
      DecodeIcu(std::string_view(ascii, 128), OnUndecodable::kFail, decoded, std::size(decoded));
  ascii_compatible_ = result.ok && result.fits && result.length == 128;
  for (int b = 0; ascii_compatible_ && b < 128; ++b) {
    ascii_compatible_ = decoded[b] == static_cast<char16_t>(b) && !lead_bytes_[b];
  }
  if ((type == UCNV_SBCS || type == UCNV_LATIN_1 || type == UCNV_US_ASCII) &&
      max_char_bytes_ == 1) {
    FillByteTable();
  }
}

// A single-byte code page converts byte by byte, so the round trips of its
// single bytes through ICU are all of its text that a table can convert.
void CodePageConverter::FillByteTable() {
  auto table = std::make_unique<ByteTable>();
  for (int b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    char16_t unit[2];
    if (const Converted decoded =
            DecodeIcu(std::string_view(&byte, 1), OnUndecodable::kFail, unit, std::size(unit));
        !decoded.ok || decoded.length != 1) {
      continue;
    }
    table->SetDecoding(static_cast<uint8_t>(b), unit[0]);
    char encoded[4];
    if (const Converted back = EncodeIcu(std::u16string_view(unit, 1), OnUnmappable::kFail, {},
                                         encoded, std::size(encoded));
        back.ok && back.length == 1) {
      table->SetEncoding(unit[0], static_cast<uint8_t>(encoded[0]));
    }
  }
  byte_table_ = std::move(table);
}

CodePageConverter::~CodePageConverter() { ucnv_close(converter_); }

std::string_view CodePageConverter::default_replacement() const {
  return is_utf8() ? kUtf8Replacement : std::string_view("?");
}

Converted CodePageConverter::Decode(std::string_view in, OnUndecodable policy, char16_t* out,
                                    size_t capacity) {
  size_t length = 0;
  if (DecodeDirect(in, out, capacity, &length)) return Converted{length, length <= capacity};
  return DecodeIcu(in, policy, out, capacity);
}

Converted CodePageConverter::Encode(std::u16string_view in, OnUnmappable policy,
                                    std::string_view replacement, char* out, size_t capacity) {
  size_t length = 0;
  if (EncodeDirect(in, out, capacity, &length)) return Converted{length, length <= capacity};
  return EncodeIcu(in, policy, replacement, out, capacity);
}

// Single-byte code pages go through their table, UTF-8 through its own
// decoder; other text is copied when it is all ASCII and the code page keeps
// ASCII. (Only whole texts: ICU converts runs of 16 bytes and more faster, so
// splitting off leading ASCII costs short names and values more than it
// saves.)
bool CodePageConverter::DecodeDirect(std::string_view in, char16_t* out, size_t capacity,
                                     size_t* length) const {
  if (byte_table_ != nullptr) return byte_table_->Decode(in, out, capacity, length);
  if (is_utf8()) return DecodeUtf8Direct(in, out, capacity, length);
  if (!ascii_compatible_ || !IsAscii(in)) return false;
  std::copy_n(in.begin(), std::min(in.size(), capacity), out);
  *length = in.size();
  return true;
}

bool CodePageConverter::EncodeDirect(std::u16string_view in, char* out, size_t capacity,
                                     size_t* length) const {
  if (byte_table_ != nullptr) return byte_table_->Encode(in, out, capacity, length);
  if (is_utf8()) return EncodeUtf8Direct(in, out, capacity, length);
  if (!ascii_compatible_ || !IsAscii(in)) return false;
  std::copy_n(in.begin(), std::min(in.size(), capacity), out);
  *length = in.size();
  return true;
}

Converted CodePageConverter::DecodeIcu(std::string_view in, OnUndecodable policy, char16_t* out,
                                       size_t capacity) {
  // Field by field: copying a whole struct here stalls on store forwarding.
  decode_context_.policy = policy;
  decode_context_.replaced = false;
  Converted result = Run(in, out, capacity,
                         [this](UChar** target, UChar* target_end, const char** source,
                                const char* source_end, UErrorCode* err) {
                           ucnv_toUnicode(converter_, target, target_end, source, source_end,
                                          nullptr, /*flush=*/true, err);
                         });
  result.replaced = decode_context_.replaced;
  if (!result.ok) ucnv_resetToUnicode(converter_);
  return result;
}

Converted CodePageConverter::EncodeIcu(std::u16string_view in, OnUnmappable policy,
                                       std::string_view replacement, char* out,
                                       size_t capacity) {
  encode_context_.policy = policy;
  encode_context_.replacement = replacement;
  encode_context_.replaced = false;
  Converted result = Run(in, out, capacity,
                         [this](char** target, char* target_end, const UChar** source,
                                const UChar* source_end, UErrorCode* err) {
                           ucnv_fromUnicode(converter_, target, target_end, source, source_end,
                                            nullptr, /*flush=*/true, err);
                         });
  result.replaced = encode_context_.replaced;
  if (!result.ok) ucnv_resetFromUnicode(converter_);
  return result;
}

bool CodePageConverter::Decode(std::string_view in, OnUndecodable policy, std::u16string* out,
                               bool* replaced) {
  // One unit a byte suffices for all but the few code pages whose bytes map
  // to two characters; those convert twice.
  out->resize(in.size() + 8);
  Converted result = Decode(in, policy, out->data(), out->size());
  if (result.ok && !result.fits) {
    out->resize(result.length);
    result = Decode(in, policy, out->data(), out->size());
  }
  out->resize(std::min(result.length, out->size()));
  if (replaced != nullptr) *replaced = result.replaced;
  return result.ok;
}

bool CodePageConverter::Encode(std::u16string_view in, OnUnmappable policy,
                               std::string_view replacement, std::string* out, bool* replaced) {
  out->resize(in.size() * max_char_bytes_ + 8);
  Converted result = Encode(in, policy, replacement, out->data(), out->size());
  if (result.ok && !result.fits) {
    out->resize(result.length);
    result = Encode(in, policy, replacement, out->data(), out->size());
  }
  out->resize(std::min(result.length, out->size()));
  if (replaced != nullptr) *replaced = result.replaced;
  return result.ok;
}

}  // namespace opossvc::detail
