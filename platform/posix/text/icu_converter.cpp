#include "platform/posix/text/icu_converter.h"

#include <memory>
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

struct DecodeContext {
  OnUndecodable policy;
  bool saw_undecodable = false;
};

void ToUnicodeCallback(const void* context, UConverterToUnicodeArgs* args,
                       const char* code_units, int32_t length, UConverterCallbackReason reason,
                       UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to convert
  auto* ctx = static_cast<DecodeContext*>(const_cast<void*>(context));
  ctx->saw_undecodable = true;
  switch (ctx->policy) {
    case OnUndecodable::kFail:
      return;  // leaving *err set stops the conversion
    case OnUndecodable::kReplace: {
      *err = U_ZERO_ERROR;
      const UChar replacement = 0xFFFD;
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

struct EncodeContext {
  OnUnmappable policy;
  std::string_view replacement;
  bool saw_unmappable = false;
};

void FromUnicodeCallback(const void* context, UConverterFromUnicodeArgs* args,
                         const UChar* /*code_units*/, int32_t length, UChar32 /*code_point*/,
                         UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;
  auto* ctx = static_cast<EncodeContext*>(const_cast<void*>(context));
  ctx->saw_unmappable = true;
  if (ctx->policy == OnUnmappable::kFail) return;
  *err = U_ZERO_ERROR;
  // One replacement per UTF-16 unit: a character outside the BMP that the
  // code page lacks takes two, as on Windows.
  for (int32_t i = 0; i < length && !ctx->replacement.empty() && U_SUCCESS(*err); ++i) {
    ucnv_cbFromUWriteBytes(args, ctx->replacement.data(),
                           static_cast<int32_t>(ctx->replacement.size()), 0, err);
  }
}

// The converters one thread has opened, and the code pages found unknown
// (null entries). A handful at most, so a vector with the last hit first.
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
    : codepage_(codepage), converter_(converter) {
  const UConverterType type = ucnv_getType(converter_);
  if ((type == UCNV_MBCS || type == UCNV_DBCS) && ucnv_getMaxCharSize(converter_) == 2) {
    UBool starters[256] = {};
    UErrorCode err = U_ZERO_ERROR;
    ucnv_getStarters(converter_, starters, &err);
    if (U_SUCCESS(err)) {
      for (int b = 0; b < 256; ++b) {
        lead_bytes_[b] = starters[b] != 0;
        double_byte_ = double_byte_ || lead_bytes_[b];
      }
    }
  }
  std::string ascii(128, '\0');
  for (int b = 0; b < 128; ++b) ascii[b] = static_cast<char>(b);
  std::u16string decoded;
  ascii_compatible_ = Decode(ascii, OnUndecodable::kFail, &decoded) && decoded.size() == 128;
  for (int b = 0; ascii_compatible_ && b < 128; ++b) {
    ascii_compatible_ = decoded[b] == static_cast<char16_t>(b) && !lead_bytes_[b];
  }
}

CodePageConverter::~CodePageConverter() { ucnv_close(converter_); }

std::string_view CodePageConverter::default_replacement() const {
  return is_utf8() ? kUtf8Replacement : std::string_view("?");
}

bool CodePageConverter::Decode(std::string_view in, OnUndecodable policy, std::u16string* out,
                               bool* saw_undecodable) {
  out->clear();
  if (saw_undecodable != nullptr) *saw_undecodable = false;
  if (in.empty()) return true;

  DecodeContext context{policy};
  UErrorCode err = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter_, ToUnicodeCallback, &context, nullptr, nullptr, &err);
  ucnv_resetToUnicode(converter_);

  // One UTF-16 unit per input byte suffices for every code page but a few
  // whose bytes map to two characters; those grow the buffer below.
  out->resize(in.size() + 8);
  const char* source = in.data();
  const char* const source_end = in.data() + in.size();
  size_t written = 0;
  for (;;) {
    UChar* target = out->data() + written;
    err = U_ZERO_ERROR;
    ucnv_toUnicode(converter_, &target, out->data() + out->size(), &source, source_end, nullptr,
                   /*flush=*/true, &err);
    written = static_cast<size_t>(target - out->data());
    if (err == U_BUFFER_OVERFLOW_ERROR) {
      out->resize(out->size() * 2);
      continue;
    }
    break;
  }
  out->resize(written);
  if (saw_undecodable != nullptr) *saw_undecodable = context.saw_undecodable;
  return U_SUCCESS(err);
}

bool CodePageConverter::Encode(std::u16string_view in, OnUnmappable policy,
                               std::string_view replacement, std::string* out,
                               bool* saw_unmappable) {
  out->clear();
  if (saw_unmappable != nullptr) *saw_unmappable = false;
  if (in.empty()) return true;

  EncodeContext context{policy, replacement};
  UErrorCode err = U_ZERO_ERROR;
  ucnv_setFromUCallBack(converter_, FromUnicodeCallback, &context, nullptr, nullptr, &err);
  ucnv_resetFromUnicode(converter_);

  out->resize(in.size() * static_cast<size_t>(ucnv_getMaxCharSize(converter_)) + 8);
  const UChar* source = in.data();
  const UChar* const source_end = in.data() + in.size();
  size_t written = 0;
  for (;;) {
    char* target = out->data() + written;
    err = U_ZERO_ERROR;
    ucnv_fromUnicode(converter_, &target, out->data() + out->size(), &source, source_end, nullptr,
                     /*flush=*/true, &err);
    written = static_cast<size_t>(target - out->data());
    if (err == U_BUFFER_OVERFLOW_ERROR) {
      out->resize(out->size() * 2);
      continue;
    }
    break;
  }
  out->resize(written);
  if (saw_unmappable != nullptr) *saw_unmappable = context.saw_unmappable;
  return U_SUCCESS(err);
}

}  // namespace opossvc::detail
