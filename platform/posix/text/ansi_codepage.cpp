#include "platform/posix/text/ansi_codepage.h"

#include <algorithm>
#include <cstdlib>

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "platform/posix/files/environment.h"
#include "platform/posix/text/icu_converter.h"

namespace opossvc::detail {
namespace {

// The converter for `codepage`, or UTF-8's when the code page is unknown.
CodePageConverter& ConverterOrUtf8(UINT codepage) {
  CodePageConverter* converter = CodePageConverter::ForThread(codepage);
  if (converter == nullptr) converter = CodePageConverter::ForThread(kUtf8CodePage);
  return *converter;  // ICU always has UTF-8
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

UINT ActiveCodePage() {
  const char* setting = ReadSetting("OPOS_CODEPAGE");
  if (setting == nullptr || *setting == '\0') return kUtf8CodePage;
  char* end = nullptr;
  const unsigned long value = std::strtoul(setting, &end, 10);
  // 0 and 1 are CP_ACP and CP_OEMCP, which name no code page of their own.
  if (*end != '\0' || setting[0] == '-' || setting[0] == '+' || value < 2 || value > 65535) {
    return kUtf8CodePage;
  }
  const UINT codepage = static_cast<UINT>(value);
  return IsKnownCodePage(codepage) ? codepage : kUtf8CodePage;
}

UINT OemCodePageFor(UINT ansi_codepage) {
  switch (ansi_codepage) {
    case 1250: return 852;
    case 1251: return 866;
    case 1252: return 850;
    case 1253: return 737;
    case 1254: return 857;
    case 1255: return 862;
    case 1256: return 720;
    case 1257: return 775;
    default: return ansi_codepage;
  }
}

bool IsKnownCodePage(UINT codepage) {
  return CodePageConverter::ForThread(codepage) != nullptr;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool KeepsAscii(UINT codepage) { return ConverterOrUtf8(codepage).ascii_compatible(); }

// ASCII passes through the code pages that keep it unconverted.
std::u16string AnsiToUtf16(std::string_view ansi, UINT codepage) {
  CodePageConverter& converter = ConverterOrUtf8(codepage);
  if (converter.ascii_compatible() && IsAscii(ansi)) return std::u16string(ansi.begin(), ansi.end());
  std::u16string text;
  converter.Decode(ansi, OnUndecodable::kReplace, &text);
  return text;
}

std::string Utf16ToAnsi(std::u16string_view text, UINT codepage) {
  CodePageConverter& converter = ConverterOrUtf8(codepage);
  std::string ansi;
  if (converter.ascii_compatible() &&
      std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x80; })) {
    ansi.reserve(text.size());
    for (char16_t unit : text) ansi.push_back(static_cast<char>(unit));
    return ansi;
  }
  converter.Encode(text, OnUnmappable::kReplace, converter.default_replacement(), &ansi);
  return ansi;
}

std::string FoldCaseKey(std::string_view ansi) {
  CodePageConverter& converter = ConverterOrUtf8(ActiveCodePage());
  if (converter.ascii_compatible() && IsAscii(ansi)) {
    std::string key(ansi);
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
  }

  std::u16string decoded;
  converter.Decode(ansi, OnUndecodable::kEscape, &decoded);

  // Full folding may lengthen the text (U+00DF becomes "ss"); preflight once
  // when the first guess is short.
  std::u16string folded(decoded.size() + decoded.size() / 2 + 4, u'\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t length = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()),
                                 decoded.data(), static_cast<int32_t>(decoded.size()),
                                 U_FOLD_CASE_DEFAULT, &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    folded.resize(static_cast<size_t>(length));
    err = U_ZERO_ERROR;
    length = u_strFoldCase(folded.data(), length, decoded.data(),
                           static_cast<int32_t>(decoded.size()), U_FOLD_CASE_DEFAULT, &err);
  }
  if (U_FAILURE(err)) return std::string(ansi);  // not reached for valid UTF-16
  folded.resize(static_cast<size_t>(length));

  // Decoding leaves lone surrogates only as escapes of undecodable bytes;
  // folding leaves them alone.
  std::string key;
  key.reserve(folded.size() + 8);
  for (size_t i = 0; i < folded.size();) {
    char32_t c;
    U16_NEXT(folded.data(), i, folded.size(), c);
    if (c >= 0xDC00 && c <= 0xDCFF) {
      key.push_back('\xFF');
      key.push_back(static_cast<char>(c - 0xDC00));
    } else {
      AppendUtf8(c, &key);
    }
  }
  return key;
}

}  // namespace opossvc::detail
