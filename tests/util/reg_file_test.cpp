// Registry export files: their pieces (byte lists, numbers, quoted tokens,
// sections), and ImportRegistry on real-looking and malformed files.
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/util.h>

#include "util/reg_file_syntax.h"

namespace {

using opossvc::detail::HexToBytes;
using opossvc::detail::ParseDwordData;
using opossvc::detail::ParseSectionLine;
using opossvc::detail::ReadQuotedToken;
using opossvc::testing::TempRegistry;

using Bytes = std::vector<BYTE>;

// The bytes of a string that ConvStrToBin made (never null), which is freed.
Bytes BytesOf(BSTR binary) {
  EXPECT_NE(binary, nullptr);
  Bytes bytes(reinterpret_cast<BYTE*>(binary), reinterpret_cast<BYTE*>(binary) + SysStringByteLen(binary));
  SysFreeString(binary);
  return bytes;
}

TEST(RegFileSyntaxTest, ByteListsReadAndWritten) {
  struct Case {
    const char* text;
    Bytes bytes;
  } cases[] = {
      {"01,02,ff", {0x01, 0x02, 0xFF}}, {"1,2", {0x01, 0x02}}, {"0a0b0c", {0x0A, 0x0B, 0x0C}},
      {"123", {0x12, 0x03}},            {"AB,,  ,cD", {0xAB, 0xCD}}, {"zz,1g", {0x01}},
      {"xyz;-", {}},                    {"ghijk", {}},           {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(HexToBytes(c.text), c.bytes);
    EXPECT_EQ(BytesOf(ConvStrToBin(c.text)), c.bytes);
  }
  EXPECT_EQ(BytesOf(ConvStrToBin(nullptr)), Bytes{});
  CByteArray data;
  EXPECT_STREQ(ConvBinToStr(data), "");
  for (int value : {0x00, 0x0A, 0xFF, 0x41}) data.Add(static_cast<BYTE>(value));
  EXPECT_STREQ(ConvBinToStr(data), "00,0a,ff,41");
}

TEST(RegFileSyntaxTest, DwordData) {
  struct Case {
    const char* text;
    std::optional<DWORD> value;
  } cases[] = {
      {"0000000a", 10},   {"00002580", 9600}, {"  1f ; comment", 0x1F}, {"FFFFFFFF", 0xFFFFFFFF},
      {"000000001", 1},   {"7 ", 7},          {"100000000", {}},         {"123456789abcdef", {}},
      {"zz", {}},         {"1g", {}},         {"0x10", {}},              {"-1", {}},
      {"+2", {}},         {"", {}},           {" ; 1", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseDwordData(c.text), c.value);
  }
}

TEST(RegFileSyntaxTest, QuotedTokens) {
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

TEST(RegFileSyntaxTest, SectionLines) {
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
      {"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS]", true, false, ""},
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

const std::string kRoot = "SOFTWARE\\OLEforRetail";
const std::string kServiceOpos = kRoot + "\\ServiceOPOS";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail";

constexpr int kWritten = OPOSSVC_IMPORT_WRITTEN;
constexpr int kFailed = static_cast<int>(OPOSSVC_IMPORT_FAILED);

std::string WriteFile(const TempRegistry& registry, const std::string& contents) {
  std::string path = registry.root() + "/import.reg";
  std::ofstream(path, std::ios::binary) << contents;
  return path;
}

std::string Value(const TempRegistry& registry, const std::string& key, const std::string& name,
                  DWORD expected_type) {
  DWORD type = REG_NONE;
  std::optional<std::string> value = registry.GetValue(HKEY_LOCAL_MACHINE, key, name, &type);
  if (!value) return "<missing>";
  if (type != expected_type) return "<type " + std::to_string(type) + ">";
  return *value;
}

std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

std::string Dword(DWORD value) {
  std::string bytes;
  for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xFF);
  return bytes;
}

TEST(RegImportTest, ImportsADeviceSetUp) {
  TempRegistry registry;
  std::string file =
      "REGEDIT4\r\n"
      "\r\n"
      "; Scanner and printer set-up\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail]\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner]\r\n"
      "\"FrontScanner\"=\"VQScanner1\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\VQScanner1]\r\n"
      "@=\"VQ.Scanner.SO\"\r\n"
      "\"Service\"=\"C:\\\\OPOS\\\\VQScan.so\"\r\n"
      "\"Description\"=\"Scanner \\\"Model 1\\\"\"\r\n"
      "\"Port\" = \"COM1\"\r\n"
      "\"BaudRate\"=dword:00002580\r\n"
      "\"Prefix\"=hex:02,1b,\\\r\n"
      "  41,42\r\n"
      "\"Flags\"=hex(2):41,00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\POSPrinter\\Printer1]\r\n"
      "\"Port\"=\"COM2\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\VANTA1.6]\r\n"
      "\"IdleSleep\"=dword:a\r\n"
      "\"DebugTrace\"=\"C:\\\\Temp\\\\trace.log\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail]\r\n"
      "\"RootValue\"=\"r\"\r\n";
  EXPECT_EQ(ImportRegistry(WriteFile(registry, file).c_str()), kWritten);
  const std::string scanner = kServiceOpos + "\\Scanner\\VQScanner1";
  EXPECT_EQ(Value(registry, kServiceOpos + "\\Scanner", "FrontScanner", REG_SZ), Sz("VQScanner1"));
  EXPECT_EQ(Value(registry, scanner, "", REG_SZ), Sz("VQ.Scanner.SO"));
  EXPECT_EQ(Value(registry, scanner, "Service", REG_SZ), Sz("C:\\OPOS\\VQScan.so"));
  EXPECT_EQ(Value(registry, scanner, "Description", REG_SZ), Sz("Scanner \"Model 1\""));
  EXPECT_EQ(Value(registry, scanner, "Port", REG_SZ), Sz("COM1"));
  EXPECT_EQ(Value(registry, scanner, "BaudRate", REG_DWORD), Dword(9600));
  EXPECT_EQ(Value(registry, scanner, "Prefix", REG_BINARY), std::string("\x02\x1b" "AB"));
  EXPECT_EQ(Value(registry, scanner, "Flags", REG_BINARY), std::string("A\0", 2));
  EXPECT_EQ(Value(registry, kServiceOpos + "\\POSPrinter\\Printer1", "Port", REG_SZ), Sz("COM2"));
  const std::string config = kRoot + "\\ServiceInfo\\VANTA QUILLON\\VANTA1.6";
  EXPECT_EQ(Value(registry, config, "IdleSleep", REG_DWORD), Dword(10));
  EXPECT_EQ(Value(registry, config, "DebugTrace", REG_SZ), Sz("C:\\Temp\\trace.log"));
  EXPECT_EQ(Value(registry, kRoot, "RootValue", REG_SZ), Sz("r"));
}

struct MalformedCase {
  const char* name;
  std::string contents;
  int result;
  std::function<void(const TempRegistry&)> check;
};

TEST(RegImportTest, MalformedFilesEndInResultBits) {
  const std::string device = kSection + "\\ServiceOPOS\\Scanner\\S1]\n";
  const std::string s1 = kServiceOpos + "\\Scanner\\S1";
  auto has = [&](const std::string& key, const std::string& name, DWORD type, const std::string& data) {
    return [=](const TempRegistry& r) { EXPECT_EQ(Value(r, key, name, type), data) << key << " " << name; };
  };
  auto lacks_key = [](const std::string& key) {
    return [=](const TempRegistry& r) { EXPECT_FALSE(r.KeyExists(HKEY_LOCAL_MACHINE, key)) << key; };
  };
  MalformedCase cases[] = {
      {"header only", "REGEDIT4\n", 0,
       [](const TempRegistry& r) {
         EXPECT_TRUE(r.KeyExists(HKEY_LOCAL_MACHINE, kServiceOpos));
         EXPECT_TRUE(r.KeyExists(HKEY_LOCAL_MACHINE, kRoot + "\\ServiceInfo"));
       }},
      {"empty file", "", 0, lacks_key(kRoot + "\\ServiceOPOS\\Scanner")},
      {"no header", device + "\"A\"=\"1\"\n", kWritten, has(s1, "A", REG_SZ, Sz("1"))},
      {"version 5 header", "Windows Registry Editor Version 5.00\n" + device + "\"A\"=\"1\"\n",
       kWritten | kFailed, has(s1, "A", REG_SZ, Sz("1"))},
      {"second header", "REGEDIT4\nregedit4\n", kFailed, nullptr},
      {"header with trailing blank", "REGEDIT4 \n", kFailed, nullptr},
      {"value before any section", "\"A\"=\"1\"\n", kFailed, nullptr},
      {"root followed by more letters",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail2\\ServiceOPOS]\n\"A\"=\"1\"\n", kFailed,
       has(kRoot, "A", REG_SZ, "<missing>")},
      {"empty component", kSection + "\\ServiceOPOS\\\\Scanner]\n\"A\"=\"1\"\n", kFailed,
       lacks_key(kServiceOpos + "\\Scanner")},
      {"section without bracket keeps the key",
       device + kSection + "\\ServiceOPOS\\Scanner\\S2\n\"B\"=\"2\"\n", kWritten,
       [=](const TempRegistry& r) {
         EXPECT_EQ(Value(r, s1, "B", REG_SZ), Sz("2"));
         EXPECT_FALSE(r.KeyExists(HKEY_LOCAL_MACHINE, kServiceOpos + "\\Scanner\\S2"));
       }},
      {"root after a device", device + kSection + "]\n\"R\"=dword:1\n", kWritten,
       has(kRoot, "R", REG_DWORD, Dword(1))},
      // A section that selects no key leaves none selected, not the one before.
      {"unknown class after a device", device + kSection + "\\Unknown\\X]\n\"A\"=\"1\"\n", kFailed,
       [=](const TempRegistry& r) {
         EXPECT_FALSE(r.KeyExists(HKEY_LOCAL_MACHINE, kRoot + "\\Unknown"));
         EXPECT_EQ(Value(r, s1, "A", REG_SZ), "<missing>");
       }},
      {"AllDevices after a device", device + kSection + "\\ServiceOPOS\\AllDevices]\n\"A\"=\"1\"\n", kFailed,
       [=](const TempRegistry& r) {
         EXPECT_FALSE(r.KeyExists(HKEY_LOCAL_MACHINE, kServiceOpos + "\\AllDevices"));
         EXPECT_EQ(Value(r, s1, "A", REG_SZ), "<missing>");
       }},
      {"deletion section alone", "[-" + device.substr(1), kFailed,
       lacks_key(kServiceOpos + "\\Scanner")},
      {"deletion section after a device",
       device + "[-" + kSection.substr(1) + "\\ServiceOPOS\\Scanner\\S2]\n\"A\"=\"1\"\n", kFailed,
       [=](const TempRegistry& r) {
         EXPECT_FALSE(r.KeyExists(HKEY_LOCAL_MACHINE, kServiceOpos + "\\Scanner\\S2"));
         EXPECT_EQ(Value(r, s1, "A", REG_SZ), "<missing>");
       }},
      {"unterminated name", device + "\"A=\"1\"\n", kFailed, has(s1, "A", REG_SZ, "<missing>")},
      {"unterminated data", device + "\"A\"=\"abc\n", kFailed, has(s1, "A", REG_SZ, "<missing>")},
      {"unknown type", device + "\"A\"=qword:1\n", kFailed, has(s1, "A", REG_SZ, "<missing>")},
      {"missing colon", device + "\"A\"=12\n", kFailed, has(s1, "A", REG_SZ, "<missing>")},
      {"deletion of a value", device + "\"A\"=-\n", kFailed, has(s1, "A", REG_SZ, "<missing>")},
      {"equals first", device + "=\"x\"\n", kFailed, nullptr},
      {"dword past 32 bits", device + "\"A\"=dword:100000000\n", kFailed,
       has(s1, "A", REG_DWORD, "<missing>")},
      {"dword without digits", device + "\"A\"=dword:zz\n", kFailed,
       has(s1, "A", REG_DWORD, "<missing>")},
      {"dword with a stray letter", device + "\"A\"=dword:1g\n\"B\"=dword:2\n", kWritten | kFailed,
       [=](const TempRegistry& r) {
         EXPECT_EQ(Value(r, s1, "A", REG_DWORD), "<missing>");
         EXPECT_EQ(Value(r, s1, "B", REG_DWORD), Dword(2));
       }},
      {"continuation across a comment", device + "\"A\"=hex:01,\\\n; note\n   02\n", kWritten,
       has(s1, "A", REG_BINARY, "\x01\x02")},
      {"NUL in a value name", device + std::string("\"A\0B\"=\"1\"\n", 10), kFailed,
       has(s1, "A", REG_SZ, "<missing>")},
      {"NUL in a section", std::string("[SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S\0X]\n", 48) + "\"A\"=\"1\"\n",
       kFailed, lacks_key(kServiceOpos + "\\Scanner\\S")},
      {"NUL in string data", device + std::string("\"A\"=\"a\0b\"\n", 10), kWritten,
       has(s1, "A", REG_SZ, std::string("a\0b\0", 4))},
      // Written as any A call writes them: each becomes U+FFFD.
      {"bytes that are not UTF-8 in data", device + "\"A\"=\"\xff\xfe\"\n", kWritten,
       has(s1, "A", REG_SZ, Sz("\xEF\xBF\xBD\xEF\xBF\xBD"))},
      {"over-long line", device + "\"A\"=\"" + std::string(5 << 20, 'x') + "\"\n\"B\"=\"ok\"\n",
       kWritten | kFailed,
       [=](const TempRegistry& r) {
         EXPECT_EQ(Value(r, s1, "A", REG_SZ), "<missing>");
         EXPECT_EQ(Value(r, s1, "B", REG_SZ), Sz("ok"));
       }},
      {"over-long continuation",
       device + "\"A\"=hex:" + std::string(3 << 20, '1') + "\\\n" + std::string(3 << 20, '2') + "\n\"B\"=\"ok\"\n",
       kWritten | kFailed,
       [=](const TempRegistry& r) {
         EXPECT_EQ(Value(r, s1, "A", REG_BINARY), "<missing>");
         EXPECT_EQ(Value(r, s1, "B", REG_SZ), Sz("ok"));
       }},
      {"last line without line feed", device + "\"A\"=\"1\"", kWritten, has(s1, "A", REG_SZ, Sz("1"))},
      {"Ctrl-Z ends the text", device + "\"A\"=\"1\"\n\x1a\"B\"=\"2\"\n", kWritten,
       has(s1, "B", REG_SZ, "<missing>")},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempRegistry registry;
    EXPECT_EQ(ImportRegistry(WriteFile(registry, c.contents).c_str()), c.result);
    if (c.check) c.check(registry);
  }
}

TEST(RegImportTest, MissingFilesAndRandomBytesNeverWriteOutsideTheDatabase) {
  TempRegistry registry;
  EXPECT_EQ(ImportRegistry((registry.root() + "/none.reg").c_str()), 0);
  EXPECT_EQ(ImportRegistry(nullptr), 0);
  EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kRoot));
  std::mt19937 random(1234);
  for (int round = 0; round < 20; ++round) {
    std::string contents = "REGEDIT4\n" + kSection + "\\ServiceOPOS\\Scanner\\R" + std::to_string(round) + "]\n";
    for (int i = 0; i < 4000; ++i) contents += static_cast<char>(random() & 0xFF);
    int result = ImportRegistry(WriteFile(registry, contents).c_str());
    EXPECT_EQ(result & ~(kWritten | kFailed), 0);
  }
  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software), ERROR_SUCCESS);
  char name[256];
  DWORD length = sizeof(name);
  ASSERT_EQ(RegEnumKeyExA(software, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "OLEforRetail");
  length = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(software, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(software);
}

TEST(RegImportTest, SetRegistryValueConsumesTheLine) {
  TempRegistry registry;
  CRegistryInfo info(KC_OLEFORRETAIL, TRUE);
  CString line = "\"Name\"=\"Text\" trailing";
  EXPECT_EQ(SetRegistryValue(line, info, KC_OLEFORRETAIL), 1);
  EXPECT_STREQ(line, " trailing");
  CString unkeyed = "\"Name\"=\"Text\"";
  EXPECT_EQ(SetRegistryValue(unkeyed, info, 0), 0);
  CRegistryInfo read_only(KC_OLEFORRETAIL, FALSE);
  CString refused = "\"Other\"=dword:1";
  EXPECT_EQ(SetRegistryValue(refused, read_only, KC_OLEFORRETAIL), 0);
  EXPECT_EQ(Value(registry, kRoot, "Name", REG_SZ), Sz("Text"));
  EXPECT_EQ(Value(registry, kRoot, "Other", REG_DWORD), "<missing>");
}

}  // namespace
