#include <string>
#include <utility>

#include <gtest/gtest.h>

#include <opossvc/svcbase.h>
#include <opossvc/testing/scoped_code_page.h>

#include "tests/svcbase/svcbase_test_support.h"

namespace {

using opossvc::testing::ScopedCodePage;
using svcbase_test::TestServiceObject;

std::string Bytes(const CString& s) {
  return std::string(static_cast<const char*>(s), static_cast<size_t>(s.GetLength()));
}

// The text as an automation string of 8-bit characters widened one by one.
BSTR Wide(const std::string& text) {
  BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
  for (size_t i = 0; i < text.size(); ++i) s[i] = static_cast<unsigned char>(text[i]);
  return s;
}

struct DecodeCase {
  LONG mode;
  std::string text;
  std::string bytes;
  long error;
};

const DecodeCase kDecodeCases[] = {
    {1, "1;?0", "\x1B\xF0", 0},
    {1, "3A", std::string(1, '\0'), OPOSSVC_E_CONVERSION},
    {1, "12zz34", std::string("\x12\0\0", 3), OPOSSVC_E_CONVERSION},
    {1, "123", "", OPOSSVC_E_CONVERSION},
    {1, "/0", std::string(1, '\0'), OPOSSVC_E_CONVERSION},  // just below '0'
    {1, "0@", std::string(1, '\0'), OPOSSVC_E_CONVERSION},  // just above '?'
    {2, "007200", "\x07\xC8", 0},
    {2, "  7 42255", "\x07\x2A\xFF", 0},
    {2, "000", std::string(1, '\0'), 0},
    {2, "256", std::string(1, '\0'), OPOSSVC_E_CONVERSION},
    {2, "1 5", std::string(1, '\0'), OPOSSVC_E_CONVERSION},
    {2, "   ", std::string(1, '\0'), OPOSSVC_E_CONVERSION},
    {2, "001x02003", std::string("\x01\0\0", 3), OPOSSVC_E_CONVERSION},
    {2, "12345", "", OPOSSVC_E_CONVERSION},
    {0, std::string("a\0b", 3), std::string("a\0b", 3), 0},
    {3, "1;?0", "", 0},
    {-1, "007", "", 0},
};

TEST(ConversionTest, ToBinaryInBothFormsAndAllModes) {
  TestServiceObject so;
  for (const DecodeCase& c : kDecodeCases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode) + " \"" + c.text + "\"");
    so.m_lBinaryConversion = c.mode;
    long error = -7;
    EXPECT_EQ(Bytes(so.ConvertToBinary(c.text.data(), static_cast<long>(c.text.size()), &error)),
              c.bytes);
    EXPECT_EQ(error, c.error);

    BSTR wide = Wide(c.text);
    error = -7;
    if (c.mode != 0) {  // mode 0 converts code pages, checked separately
      EXPECT_EQ(Bytes(so.ConvertToBinary(&wide, &error)), c.bytes);
      EXPECT_EQ(error, c.error);
    }
    SysFreeString(wide);
  }
}

TEST(ConversionTest, WideFormRejectsUnitsThatOnlyLookLikeDigits) {
  // U+0131 and U+FF10 have low bytes in the accepted ranges.
  TestServiceObject so;
  const std::pair<LONG, std::basic_string<OLECHAR>> cases[] = {{1, OLESTR("\u0131") OLESTR("0")}, {2, OLESTR("00\uFF10")}};
  for (const auto& [mode, text] : cases) {
    BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    long error = 0;
    so.m_lBinaryConversion = mode;
    so.ConvertToBinary(&s, &error);
    EXPECT_EQ(error, OPOSSVC_E_CONVERSION) << "mode " << mode;
    SysFreeString(s);
  }
}

// Exact texts come from the decoding table, and the round trip of every
// byte from the conversion fuzz target's seeds; here what gives nothing.
TEST(ConversionTest, MissingOrBadArgumentsGiveEmptyResults) {
  TestServiceObject so;
  const std::pair<LONG, long> cases[] = {{1, 0}, {2, -5}, {3, 2}, {-1, 2}};  // mode, length
  for (const auto& [mode, length] : cases) {
    so.m_lBinaryConversion = mode;
    EXPECT_EQ(so.ConvertToASCII("\x07\xC8", length).GetLength(), 0) << mode;
  }
  so.m_lBinaryConversion = 1;
  EXPECT_EQ(so.ConvertToASCII(nullptr, 4).GetLength(), 0);
  EXPECT_EQ(so.ConvertToBinary(nullptr, 0, nullptr).GetLength(), 0);
  long error = -1;
  EXPECT_EQ(so.ConvertToBinary(static_cast<BSTR*>(nullptr), &error).GetLength(), 0);
  EXPECT_EQ(error, 0);
  BSTR null_string = nullptr;
  EXPECT_EQ(so.ConvertToBinary(&null_string, &error).GetLength(), 0);
}

TEST(ConversionTest, NoConversionModeKeepsEveryCharacterOfTheText) {
  // "Prüfung ✓ 価格": characters of one, two and three UTF-8 bytes.
  const OLECHAR text[] = OLESTR("Pr\u00FCfung \u2713 \u4FA1\u683C");
  BSTR s = SysAllocString(text);
  TestServiceObject so;
  so.m_lBinaryConversion = 0;
  std::pair<unsigned, std::string> cases[] = {
      {65001,
       "Pr\xC3\xBC"
       "fung \xE2\x9C\x93 \xE4\xBE\xA1\xE6\xA0\xBC"},
      {1252,
       "Pr\xFC"
       "fung ? ??"},  // 1252 lacks the last three
  };
  for (const auto& [code_page, bytes] : cases) {
    SCOPED_TRACE(code_page);
    ScopedCodePage page(code_page);
    if (!page.applied()) continue;  // the code page is the system's here
    long error = -1;
    EXPECT_EQ(Bytes(so.ConvertToBinary(&s, &error)), bytes);
    EXPECT_EQ(error, 0);
  }
  SysFreeString(s);
}

}  // namespace
