#include "platform/posix/text/ansi_codepage.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <opossvc/win32/codepage.h>

#include "platform/posix/files/environment.h"

namespace opossvc::detail {
namespace {

constexpr UINT kMacRoman = 10000;

// The code page that a setting of OPOS_CODEPAGE names, before asking the
// converters whether they know it; UTF-8 when it names none.
UINT ParseSetting(const char* setting) {
  if (*setting == '\0') return kUtf8CodePage;
  char* end = nullptr;
  const unsigned long value = std::strtoul(setting, &end, 10);
  // 0 and 1 are CP_ACP and CP_OEMCP, which name no code page of their own.
  if (*end != '\0' || setting[0] == '-' || setting[0] == '+' || value < 2 || value > 65535) {
    return kUtf8CodePage;
  }
  return static_cast<UINT>(value);
}

// This thread's reading of OPOS_CODEPAGE: the text last parsed and the
// converter that it named. Plain data, so that a thread finds it without a
// guard: a setting too long to keep here is parsed at each use.
struct AnsiSetting {
  static constexpr size_t kCapacity = 16;
  char text[kCapacity];  // NUL-terminated; "" also for an unset variable
  CodePageConverter* converter;  // null until a setting is kept
  SettingHint where;             // where the variable was last found
};

// True when `setting` is the text that `kept` holds.
bool Holds(const AnsiSetting& kept, const char* setting) {
  for (size_t i = 0; i < AnsiSetting::kCapacity; ++i) {
    if (kept.text[i] != setting[i]) return false;
    if (kept.text[i] == '\0') return true;
  }
  return false;
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

CodePageConverter& AnsiConverter() {
  thread_local AnsiSetting memo_of_thread;
  AnsiSetting& memo = memo_of_thread;  // its address found once
  const char* setting = ReadSetting("OPOS_CODEPAGE", &memo.where);
  if (setting == nullptr) setting = "";
  if (memo.converter != nullptr && Holds(memo, setting)) return *memo.converter;
  CodePageConverter& converter = ConverterOrUtf8(ParseSetting(setting));
  const size_t length = std::strlen(setting);
  if (length < AnsiSetting::kCapacity) {
    std::memcpy(memo.text, setting, length + 1);
    memo.converter = &converter;
  }
  return converter;
}

UINT ActiveCodePage() { return AnsiConverter().codepage(); }

CodePageConverter* ConverterFor(UINT code_page) {
  switch (code_page) {
    case CP_ACP:
    case CP_THREAD_ACP:
      return &AnsiConverter();
    case CP_OEMCP:
      return CodePageConverter::ForThread(OemCodePageFor(ActiveCodePage()));
    case CP_MACCP:
      return CodePageConverter::ForThread(kMacRoman);
    case CP_UTF7:
    case CP_SYMBOL:
      return nullptr;
    default:
      return CodePageConverter::ForThread(code_page);
  }
}

CodePageConverter& ConverterOrUtf8(UINT codepage) {
  CodePageConverter* converter = CodePageConverter::ForThread(codepage);
  if (converter == nullptr) converter = CodePageConverter::ForThread(kUtf8CodePage);
  return *converter;  // ICU always has UTF-8
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

bool KeepsAscii(UINT codepage) { return ConverterOrUtf8(codepage).ascii_compatible(); }

std::u16string AnsiToUtf16(std::string_view ansi, UINT codepage) {
  std::u16string text;
  ConverterOrUtf8(codepage).Decode(ansi, OnUndecodable::kReplace, &text);
  return text;
}

std::string Utf16ToAnsi(std::u16string_view text, UINT codepage) {
  CodePageConverter& converter = ConverterOrUtf8(codepage);
  std::string ansi;
  converter.Encode(text, OnUnmappable::kReplace, converter.default_replacement(), &ansi);
  return ansi;
}

std::string FoldCaseKey(std::string_view ansi) {
  CodePageConverter& converter = AnsiConverter();
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
