#include <string>
#include <tuple>
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

const std::tuple<LONG, std::string, std::string, long> kDecodeCases[] = {

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
  for (const auto& [mode, text, bytes, expected_error] : kDecodeCases) {
    SCOPED_TRACE("mode " + std::to_string(mode) + " \"" + text + "\"");
    so.m_lBinaryConversion = mode;
    long error = -7;
    EXPECT_EQ(Bytes(so.ConvertToBinary(text.data(), static_cast<long>(text.size()), &error)),
              bytes);
    EXPECT_EQ(error, expected_error);

    // The text as an automation string of 8-bit characters widened one by one.
    BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    for (size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
    error = -7;
    if (mode != 0) {  // mode 0 converts code pages, checked separately
      EXPECT_EQ(Bytes(so.ConvertToBinary(&wide, &error)), bytes);
      EXPECT_EQ(error, expected_error);
    }
    SysFreeString(wide);
  }
  // The wide form refuses units that only look like digits: U+0131 and U+FF10 have low bytes in
  // the accepted ranges.
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
TEST(ConversionTest, BadArgumentsGiveEmptyResultsAndModeZeroKeepsTheText) {
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

  // Mode 0 keeps every character of the text, "Prüfung ✓ 価格": characters of one, two and
  // three UTF-8 bytes.
  BSTR s = SysAllocString(OLESTR("Pr\u00FCfung \u2713 \u4FA1\u683C"));
  so.m_lBinaryConversion = 0;
  const struct {
    unsigned code_page;
    std::string bytes;
  } pages[] = {
      {65001, "Pr\xC3\xBC\x66ung \xE2\x9C\x93 \xE4\xBE\xA1\xE6\xA0\xBC"},  // \x66: f
      {1252, "Pr\xFC\x66ung ? ??"},  // 1252 lacks the last three
  };
  for (const auto& [code_page, bytes] : pages) {
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
