// The export format's pieces: byte lists, numbers, quoted tokens, sections.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/util.h>

#include "util/reg_file_syntax.h"

namespace {

using opossvc::detail::HexToBytes;
using opossvc::detail::HexToDword;
using opossvc::detail::ParseSectionLine;
using opossvc::detail::ReadQuotedToken;

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
  std::vector<BYTE> bytes;
  for (int value : values) bytes.push_back(static_cast<BYTE>(value));
  return bytes;
}

TEST(RegSyntaxTest, ConvStrToBinReadsByteLists) {
  struct Case {
    const char* text;
    std::vector<BYTE> bytes;
  } cases[] = {
      {"01,02,ff", Bytes({0x01, 0x02, 0xFF})},
      {"1,2", Bytes({0x01, 0x02})},
      {"0a0b0c", Bytes({0x0A, 0x0B, 0x0C})},
      {"123", Bytes({0x12, 0x03})},
      {"AB,,  ,cD", Bytes({0xAB, 0xCD})},
      {"zz,1g", Bytes({0x01})},
      {"xyz;-", Bytes({})},
      {"ghijk", Bytes({})},
      {"", Bytes({})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(HexToBytes(c.text), c.bytes);
    BSTR binary = ConvStrToBin(c.text);
    ASSERT_NE(binary, nullptr);
    ASSERT_EQ(SysStringByteLen(binary), c.bytes.size());
    EXPECT_EQ(std::vector<BYTE>(reinterpret_cast<BYTE*>(binary), reinterpret_cast<BYTE*>(binary) + c.bytes.size()),
              c.bytes);
    SysFreeString(binary);
  }
  BSTR none = ConvStrToBin(nullptr);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(SysStringByteLen(none), 0u);
  SysFreeString(none);
}

TEST(RegSyntaxTest, ConvBinToStrWritesTwoDigitsAByte) {
  CByteArray data;
  EXPECT_STREQ(ConvBinToStr(data), "");
  for (int value : {0x00, 0x0A, 0xFF, 0x41}) data.Add(static_cast<BYTE>(value));
  CString text = ConvBinToStr(data);
  EXPECT_STREQ(text, "00,0a,ff,41");
  BSTR back = ConvStrToBin(text);
  ASSERT_EQ(SysStringByteLen(back), 4u);
  EXPECT_EQ(reinterpret_cast<BYTE*>(back)[2], 0xFF);
  SysFreeString(back);
}

TEST(RegSyntaxTest, DwordsReadAsThirtyTwoBitStrtoul) {
  struct Case {
    const char* text;
    DWORD value;
  } cases[] = {
      {"0000000a", 10},       {"00002580", 9600},       {"  1f ; comment", 0x1F},
      {"0x10", 0x10},         {"FFFFFFFF", 0xFFFFFFFF}, {"100000000", 0xFFFFFFFF},
      {"-1", 0xFFFFFFFF},     {"+2", 2},                {"", 0},
      {"zz", 0},              {"0x", 0},                {"123456789abcdef", 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(HexToDword(c.text), c.value);
  }
}

TEST(RegSyntaxTest, QuotedTokens) {
  struct Case {
    std::string text;
    bool ok;
    std::string token;
    std::string rest;
  } cases[] = {
      {"\"Name\"=\"x\"", true, "Name", "=\"x\""},
      {"\"a\\\\b\\\"c\\n\"tail", true, "a\\b\"cn", "tail"},
      {"\"\"", true, "", ""},
      {"\"unterminated", false, "", ""},
      {"\"ends in backslash\\", false, "", ""},
      {"@=\"x\"", false, "", "@=\"x\""},
      {"", false, "", ""},
      {std::string("\"nul\0inside\"", 12), true, std::string("nul\0inside", 10), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    std::string token = "previous";
    EXPECT_EQ(ReadQuotedToken(text, token), c.ok);
    if (c.ok) {
      EXPECT_EQ(token, c.token);
    }
    EXPECT_EQ(text, c.rest);
  }
}

TEST(RegSyntaxTest, SectionLines) {
  struct Case {
    std::string line;
    bool well_formed;
    bool in_database;
    std::string below_root;
  } cases[] = {
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail]", true, true, ""},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S1]  ", true, true,
       "ServiceOPOS\\Scanner\\S1"},
      {"[HKEY_CURRENT_USER\\SOFTWARE\\OLEforRetail\\ServiceInfo]", true, true, "ServiceInfo"},
      {"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS]", true, true, "ServiceOPOS"},
      {"[SOFTWARE\\OLEforRetail\\]", true, true, ""},
      {"[HKEY_LOCAL_MACHINE\\Software\\OLEforRetail\\ServiceOPOS]", true, false, ""},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail2\\ServiceOPOS]", true, false, ""},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\\\Scanner]", true, false, ""},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\]", true, false, ""},
      {std::string("[SOFTWARE\\OLEforRetail\\Service\0OPOS]", 36), true, false, ""},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]", true, false, ""},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS", false, false, ""},
      {"[", false, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    opossvc::detail::Section section = ParseSectionLine(c.line);
    EXPECT_EQ(section.well_formed, c.well_formed);
    EXPECT_EQ(section.in_database, c.in_database);
    EXPECT_EQ(section.below_root, c.below_root);
  }
}

}  // namespace
