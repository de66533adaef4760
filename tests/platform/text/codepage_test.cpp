#include <string>

#include <gtest/gtest.h>

#include <opossvc/testing/scoped_code_page.h>
#include <opossvc/win32/codepage.h>
#include <opossvc/win32/errors.h>

#include "tests/support/last_error_expect.h"

namespace {

using opossvc::testing::ScopedCodePage;

// Converts with the length query first, as callers do.
std::basic_string<WCHAR> ToWide(UINT cp, const std::string& bytes) {
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(cp, 0, bytes.data(), size, nullptr, 0);
  if (n == 0) return OLESTR("(failed)");
  std::basic_string<WCHAR> out(static_cast<size_t>(n), WCHAR('\0'));
  EXPECT_EQ(MultiByteToWideChar(cp, 0, bytes.data(), size, out.data(), n), n);
  return out;
}

std::string ToBytes(UINT cp, const std::basic_string<WCHAR>& text, DWORD flags = 0) {
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(cp, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n == 0) return "error " + std::to_string(GetLastError());
  std::string out(static_cast<size_t>(n), '\0');
  EXPECT_EQ(WideCharToMultiByte(cp, flags, text.data(), size, out.data(), n, nullptr, nullptr), n);
  return out;
}

// The last error of a conversion into a buffer of `room` units (0: the length
// query); 0 when it succeeded.
DWORD MbError(UINT cp, DWORD flags, const char* bytes, int length, int room = 4) {
  WCHAR out[8];
  SetLastError(0);
  return MultiByteToWideChar(cp, flags, bytes, length, out, room) == 0 ? GetLastError() : 0;
}

DWORD WcError(UINT cp, DWORD flags, const WCHAR* text, int length, int room = 4,
              BOOL* used_default = nullptr) {
  char out[8];
  SetLastError(0);
  return WideCharToMultiByte(cp, flags, text, length, out, room, nullptr, used_default) == 0
             ? GetLastError()
             : 0;
}

TEST(CodePage, RoundTripsThroughLegacyAndUtf8Pages) {
  struct Case {
    UINT cp;
    std::string bytes;
    std::basic_string<WCHAR> text;
  };
  const Case cases[] = {
      {1252, "\x80\xE9\x81 A", OLESTR("\u20AC\u00E9\u0081 A")},
      {932, "\x82\xA0\x5C\x83\x41\x81\x40", OLESTR("\u3042\\\u30A2\u3000")},
      {932, "\xB1", OLESTR("\uFF71")},  // a half-width katakana is one byte
      {65001, "\xE2\x82\xAC\xF0\x9F\x98\x80", OLESTR("\u20AC\U0001F600")},
      {65001, "\xDF\xBF\xE0\xA0\x80\xEF\xB7\x8F\xEF\xB7\x90\xEF\xBF\xBF",
       OLESTR("\u07FF\u0800\uFDCF\uFDD0\uFFFF")},
      {65001, std::string("a\0b", 3), std::basic_string<WCHAR>(OLESTR("a\0b"), 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cp);
    EXPECT_EQ(ToWide(c.cp, c.bytes), c.text);
    EXPECT_EQ(ToBytes(c.cp, c.text), c.bytes);
  }
}

TEST(CodePage, InvalidInputIsReplacedOrRefused) {
  struct Case {
    UINT cp;
    std::string bytes;
    std::basic_string<WCHAR> replaced;
  };
  const Case cases[] = {
      {65001, "a\xC3(", OLESTR("a\uFFFD(")},
      {65001, "\xE2\x82", OLESTR("\uFFFD")},  // cut short
      {932, "a\x82", OLESTR("a\u30FB")},      // a lead byte at the end: the page's default
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(ToWide(c.cp, c.bytes), c.replaced);
    EXPECT_EQ(
        MbError(c.cp, MB_ERR_INVALID_CHARS, c.bytes.data(), static_cast<int>(c.bytes.size()), 0),
        DWORD{ERROR_NO_UNICODE_TRANSLATION});
  }
}

TEST(CodePage, LengthsAndBuffersFollowTheWin32Contract) {
  WCHAR wide[8];
  // -1: the terminator is converted and counted.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, wide, 8), 3);
  EXPECT_EQ(wide[2], WCHAR('\0'));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "", -1, wide, 8), 1);
  // An explicit length adds no terminator.
  wide[2] = WCHAR('x');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", 2, wide, 8), 2);
  EXPECT_EQ(wide[2], WCHAR('x'));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("\u20AC"), -1, nullptr, 0, nullptr, nullptr), 4);
  // A size beyond what one converter call takes still only bounds the output.
  EXPECT_EQ(MultiByteToWideChar(932, 0, "\x82\xA0", 2, wide, 0x7FFFFFFF), 1);
}

TEST(CodePage, EachBadArgumentSetsItsError) {
  const DWORD kParameter = ERROR_INVALID_PARAMETER, kFlags = ERROR_INVALID_FLAGS;
  EXPECT_EQ(MbError(CP_UTF8, 0, nullptr, 1), kParameter);
  EXPECT_EQ(MbError(CP_UTF8, 0, "a", 0), kParameter);
  EXPECT_EQ(MbError(12345, 0, "a", 1), kParameter);
  EXPECT_EQ(MbError(CP_UTF8, MB_PRECOMPOSED, "a", 1), kFlags);
  EXPECT_EQ(MbError(CP_UTF8, 0, "abcd", 4, 3), DWORD{ERROR_INSUFFICIENT_BUFFER});
  BOOL used = FALSE;  // no default character for UTF-8
  EXPECT_EQ(WcError(CP_UTF8, 0, OLESTR("a"), 1, 4, &used), kParameter);
  EXPECT_EQ(WcError(CP_UTF8, WC_ERR_INVALID_CHARS, OLESTR("\xD800"), 1),
            DWORD{ERROR_NO_UNICODE_TRANSLATION});
  EXPECT_EQ(WcError(CP_UTF8, 0, OLESTR("\u20AC"), 1, 2), DWORD{ERROR_INSUFFICIENT_BUFFER});
}

TEST(CodePage, UnmappableCharactersUseTheDefaultChar) {
  // A character outside the BMP is two UTF-16 units and two defaults.
  EXPECT_EQ(ToBytes(1252, OLESTR("\U0001F600")), "??");
  // No best fit when asked for none: a letter with a macron is not turned into a plain one.
  EXPECT_EQ(ToBytes(1252, OLESTR("\u0100"), WC_NO_BEST_FIT_CHARS), "?");
  // UTF-8 lacks only lone surrogates.
  EXPECT_EQ(ToBytes(CP_UTF8, OLESTR("\xDC00x")), "\xEF\xBF\xBDx");
}

TEST(CodePage, AnsiCodePageFollowsTheEnvironment) {
  const struct {
    const char* setting;
    UINT acp;
    UINT oemcp;
  } cases[] = {{nullptr, 65001, 65001}, {"1252", 1252, 850}, {"932", 932, 932},
               {"12345", 65001, 65001}, {"1252x", 65001, 65001},
               // Longer than a thread keeps, alike in their first 15 characters.
               {"000000000000000932", 932, 932}, {"0000000000000001252", 1252, 850}};
  for (const auto& c : cases) {
    ScopedCodePage page(c.setting);
    if (!page.applied()) continue;  // the code page is the system's here
    EXPECT_EQ(GetACP(), c.acp) << (c.setting ? c.setting : "unset");
    EXPECT_EQ(GetOEMCP(), c.oemcp) << (c.setting ? c.setting : "unset");
  }
}

// Unit against unit, upper-cased one by one when case is ignored: as the
// registry compares names.
TEST(CodePage, CompareStringOrdinal) {
  const struct {
    std::basic_string<WCHAR> a, b;
    BOOL ignore_case;
    int result;
  } cases[] = {
      {OLESTR("Dev1"), OLESTR("DEV1"), TRUE, CSTR_EQUAL},
      {OLESTR("Dev1"), OLESTR("DEV1"), FALSE, CSTR_GREATER_THAN},
      {OLESTR("\u03A3\u039F"), OLESTR("\u03C3\u03BF"), TRUE, CSTR_EQUAL},  // ΣΟ, σο
      {OLESTR("Ma\u00DFe"), OLESTR("MASSE"), TRUE, CSTR_GREATER_THAN},     // ß stays ß
      {OLESTR("ab"), OLESTR("abc"), TRUE, CSTR_LESS_THAN},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareStringOrdinal(c.a.c_str(), -1, c.b.c_str(), static_cast<int>(c.b.size()),
                                   c.ignore_case),
              c.result);
  }
  EXPECT_FAILS_WITH(CompareStringOrdinal(nullptr, 0, OLESTR(""), 0, TRUE), ERROR_INVALID_PARAMETER);
}

}  // namespace
