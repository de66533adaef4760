// Registry export files: byte lists, dword data, and ImportRegistry on
// real-looking and malformed files.
#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/reg_import.h>
#include <opossvc/testing/scoped_code_page.h>
#include <opossvc/testing/temp_registry.h>
#include <opossvc/util.h>

#include "tests/support/child_process.h"
#include "tests/support/patience.h"
#include "tests/support/scratch_folder.h"

namespace {

using opossvc::testing::TempRegistry;
using std::string_literals::operator""s;

using Bytes = std::vector<BYTE>;

// The bytes of a string that ConvStrToBin made (never null), which is freed.
Bytes BytesOf(BSTR binary) {
  EXPECT_NE(binary, nullptr);
  const BYTE* start = reinterpret_cast<const BYTE*>(binary);
  Bytes bytes(start, start + SysStringByteLen(binary));
  SysFreeString(binary);
  return bytes;
}

TEST(RegFileSyntaxTest, ByteListsRead) {
  std::pair<const char*, Bytes> cases[] = {
      {"01,02,ff", {0x01, 0x02, 0xFF}},
      {"1,2", {0x01, 0x02}},
      {"0a0b0c", {0x0A, 0x0B, 0x0C}},
      {"123", {0x12, 0x03}},
      {"AB,,  ,cD", {0xAB, 0xCD}},
      {"zz,1g", {0x01}},
      {"xyz;-", {}},
      {"ghijk", {}},
      {"", {}},
  };
  for (const auto& [text, bytes] : cases) {
    EXPECT_EQ(BytesOf(ConvStrToBin(text)), bytes) << text;
  }
  EXPECT_EQ(BytesOf(ConvStrToBin(nullptr)), Bytes{});
}

const std::string kRoot = "SOFTWARE\\OLEforRetail";
const std::string kServiceOpos = kRoot + "\\ServiceOPOS";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail";

constexpr int kWritten = OPOSSVC_IMPORT_WRITTEN;
constexpr int kFailed = static_cast<int>(OPOSSVC_IMPORT_FAILED);

std::string FilePath(const std::string& name) {
  static const opossvc::test_support::ScratchFolder folder;
  return folder.PathOf(name);
}

std::string WriteFile(const std::string& contents) {
  std::string path = FilePath("import.reg");
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

// The value names of a key in the order it lists them.
std::vector<std::string> ValueNames(const std::string& key) {
  std::vector<std::string> names;
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
    return names;
  }
  char name[256];
  for (DWORD i = 0, size = sizeof name;
       RegEnumValueA(handle, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++i, size = sizeof name) {
    names.emplace_back(name, size);
  }
  RegCloseKey(handle);
  return names;
}

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
      "\"Description\"=\"C:\\\\OPOS \\\"Model 1\\\"\"\r\n"
      "\"Port\" = \"COM1\"\r\n"
      "\"Prefix\"=hex:02,1b,\\\r\n"
      "  41,42\r\n"
      "\"Flags\"=hex(2):41,00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\POSPrinter\\Printer1]\r\n"
      "\"Port\"=\"COM2\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\VANTA1.6]\r\n"
      "\"DebugTrace\"=\"C:\\\\Temp\\\\trace.log\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail]\r\n"
      "\"RootValue\"=\"r\"\r\n";
  EXPECT_EQ(ImportRegistry(WriteFile(file).c_str()), kWritten);
  const std::string scanner = kServiceOpos + "\\Scanner\\VQScanner1";
  EXPECT_EQ(Value(registry, kServiceOpos + "\\Scanner", "FrontScanner", REG_SZ), Sz("VQScanner1"));
  EXPECT_EQ(Value(registry, scanner, "", REG_SZ), Sz("VQ.Scanner.SO"));
  EXPECT_EQ(Value(registry, scanner, "Description", REG_SZ), Sz("C:\\OPOS \"Model 1\""));
  EXPECT_EQ(Value(registry, scanner, "Port", REG_SZ), Sz("COM1"));
  EXPECT_EQ(Value(registry, scanner, "Prefix", REG_BINARY), std::string("\x02\x1b" "AB"));
  EXPECT_EQ(Value(registry, scanner, "Flags", REG_BINARY), std::string("A\0", 2));
  EXPECT_EQ(Value(registry, kServiceOpos + "\\POSPrinter\\Printer1", "Port", REG_SZ), Sz("COM2"));
  const std::string config = kRoot + "\\ServiceInfo\\VANTA QUILLON\\VANTA1.6";
  EXPECT_EQ(Value(registry, config, "DebugTrace", REG_SZ), Sz("C:\\Temp\\trace.log"));
  EXPECT_EQ(Value(registry, kRoot, "RootValue", REG_SZ), Sz("r"));
}

const std::string kMissing = "<missing>";
const std::string kS1 = kServiceOpos + "\\Scanner\\S1";
const std::string kDevice = kSection + "\\ServiceOPOS\\Scanner\\S1]\n";

struct MalformedCase {
  const char* name;
  std::string contents;
  int result;
  std::string a;            // value "A" of `at` as read back as `type`
  std::string absent = "";  // a key the import must not make
  DWORD type = REG_SZ;
  std::string at = kS1;
};

// A section that selects no key leaves none selected, not the one before;
// a line that fails fails alone.
TEST(RegImportTest, MalformedFilesEndInResultBits) {
  const std::string& d = kDevice;
  const std::string a1 = "\"A\"=\"1\"\n";
  const std::string s2 = kServiceOpos + "\\Scanner\\S2";
  const std::string big = std::string(3 << 20, '1');
  const MalformedCase cases[] = {
      {"no header, no final line feed", d + "\"A\"=\"1\"", kWritten, Sz("1")},
      {"version 5 header", "Windows Registry Editor Version 5.00\n" + d + a1, kWritten | kFailed,
       Sz("1")},
      {"second header", "REGEDIT4\nregedit4\n", kFailed, kMissing},
      {"value before any section", a1, kFailed, kMissing},
      {"root followed by more letters", kSection + "2\\ServiceOPOS]\n" + a1, kFailed, kMissing, "",
       REG_SZ, kRoot},
      {"empty component", kSection + "\\ServiceOPOS\\\\Scanner]\n" + a1, kFailed, kMissing,
       kServiceOpos + "\\Scanner"},
      {"section without bracket keeps the key", d + kSection + "\\ServiceOPOS\\Scanner\\S2\n" + a1,
       kWritten, Sz("1"), s2},
      {"unknown class after a device", d + kSection + "\\Unknown\\X]\n" + a1, kFailed, kMissing,
       kRoot + "\\Unknown"},
      {"AllDevices after a device", d + kSection + "\\ServiceOPOS\\AllDevices]\n" + a1, kFailed,
       kMissing, kServiceOpos + "\\AllDevices"},
      {"deletion section alone", "[-" + d.substr(1), kFailed, kMissing, kS1},
      {"deletion section after a device",
       d + "[-" + kSection.substr(1) + "\\ServiceOPOS\\Scanner\\S2]\n" + a1, kFailed, kMissing, s2},
      {"unterminated data", d + "\"A\"=\"abc\n", kFailed, kMissing},
      {"unknown type", d + "\"A\"=qword:1\n", kFailed, kMissing},
      {"deletion of a value", d + "\"A\"=-\n", kFailed, kMissing},
      {"continuation across a comment", d + "\"A\"=hex:01,\\\n; note\n   02\n", kWritten,
       "\x01\x02", "", REG_BINARY},
      {"NUL in a value name", d + std::string("\"A\0B\"=\"1\"\n", 10), kFailed, kMissing},
      {"NUL in a section",
       std::string("[SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S\0X]\n", 48) + a1, kFailed,
       kMissing, kServiceOpos + "\\Scanner\\S"},
      {"NUL in string data", d + std::string("\"A\"=\"a\0b\"\n", 10), kWritten,
       std::string("a\0b\0", 4)},
      {"over-long line", d + "\"B\"=\"" + big + big + "\"\n" + a1, kWritten | kFailed, Sz("1")},
      {"over-long continuation", d + "\"B\"=hex:" + big + "\\\n" + big + "\n" + a1,
       kWritten | kFailed, Sz("1")},
      {"Ctrl-Z ends the text", d + "\x1a" + a1, 0, kMissing},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempRegistry registry;
    EXPECT_EQ(ImportRegistry(WriteFile(c.contents).c_str()), c.result);
    EXPECT_EQ(Value(registry, c.at, "A", c.type), c.a);
    EXPECT_TRUE(c.absent.empty() || !registry.KeyExists(HKEY_LOCAL_MACHINE, c.absent)) << c.absent;
  }
  // A missing file writes nothing; a header alone makes the base keys.
  TempRegistry registry;
  EXPECT_EQ(ImportRegistry(FilePath("none.reg").c_str()), 0);
  EXPECT_EQ(ImportRegistry(nullptr), 0);
  EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kRoot));
  EXPECT_EQ(ImportRegistry(WriteFile("REGEDIT4\n").c_str()), 0);
  EXPECT_TRUE(registry.KeyExists(HKEY_LOCAL_MACHINE, kServiceOpos));
  EXPECT_TRUE(registry.KeyExists(HKEY_LOCAL_MACHINE, kRoot + "\\ServiceInfo"));
}

// dword data as the export format writes it: hexadecimal digits that fit in
// 32 bits, then blanks or a comment. Anything else fails its line alone.
// The store lists values in the order they were made (the system's registry
// promises no order): an import appends, and rewriting a value keeps its place.
TEST(RegImportTest, ValuesListInTheOrderTheyWereMade) {
  TempRegistry registry;
  ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, kS1, "Older", "o"), ERROR_SUCCESS);
  const std::string file = "REGEDIT4\r\n" + kDevice + "\"Z\"=\"1\"\r\n\"A\"=\"2\"\r\n" +
                           "\"Older\"=\"3\"\r\n\"Z\"=\"4\"\r\n\"M\"=dword:5\r\n";
  EXPECT_EQ(ImportRegistry(WriteFile(file).c_str()), kWritten);
  EXPECT_EQ(ValueNames(kS1), (std::vector<std::string>{"Older", "Z", "A", "M"}));
  EXPECT_EQ(Value(registry, kS1, "Z", REG_SZ), Sz("4"));
}

TEST(RegImportTest, DwordData) {
  const std::pair<const char*, std::optional<DWORD>> cases[] = {
      {"0000000a", 10}, {"  1f ; comment", 0x1F}, {"FFFFFFFF", 0xFFFFFFFF}, {"000000001", 1},
      {"100000000", {}}, {"zz", {}}, {"1g", {}}, {"0x10", {}}, {"-1", {}}, {"", {}},
  };
  TempRegistry registry;
  std::string file = kDevice;
  for (const auto& [text, value] : cases) {
    file += "\"" + std::string(text) + "\"=dword:" + text + "\n";
  }
  EXPECT_EQ(ImportRegistry(WriteFile(file).c_str()), kWritten | kFailed);
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(Value(registry, kS1, text, REG_DWORD), value ? Dword(*value) : kMissing) << text;
  }
}

std::string DataFile(const char* name) { return std::string(OPOSSVC_TEST_SOURCE_DIR) + "/data/" + name; }

// What the registry editor of a 64-bit Windows writes today (UTF-16LE with a
// byte-order mark and CRLF, the database below WOW6432Node, deletions, typed
// hex data in UTF-16, the port map), with every option on, in two code
// pages: a character that the code page lacks fails its line alone.
TEST(RegImportTest, WindowsExportsWithEveryOption) {
  const std::string device = kServiceOpos + "\\Scanner\\VQScanner1";
  const std::tuple<unsigned, std::string, std::vector<size_t>> cases[] = {
      {65001, "Scanner \xe2\x80\x93 Z\xc3\xbcrich", {30}},
      {1252, "Scanner \x96 Z\xfcrich", {11, 30}},
  };
  for (const auto& [page, description, failed] : cases) {
    SCOPED_TRACE(page);
    opossvc::testing::ScopedCodePage code_page(page);
    if (!code_page.applied()) continue;
    TempRegistry registry;
    registry.SetString(HKEY_LOCAL_MACHINE, kServiceOpos + "\\Scanner\\Old\\Sub", "x", "y");
    registry.SetString(HKEY_LOCAL_MACHINE, device, "Obsolete", "1");
    const opossvc::RegImportReport report = opossvc::ImportRegFile(
        DataFile("regedit5_utf16.reg").c_str(), opossvc::RegImportOptions::All());
    EXPECT_EQ(report.result, static_cast<unsigned>(kWritten | kFailed));
    std::vector<size_t> lines;
    for (const auto& problem : report.problems) lines.push_back(problem.line);
    EXPECT_EQ(lines, failed);
    const std::tuple<const char*, DWORD, std::string> values[] = {
        {"", REG_SZ, Sz("VQ.Scanner.SO")},
        {"Description", REG_SZ, Sz(description)},
        {"BaudRate", REG_DWORD, Dword(9600)},
        {"Path", REG_EXPAND_SZ, Sz("%OPOS%\\x")},
        {"Prefixes", REG_MULTI_SZ, "A\0B\0\0"s},
        {"Serial", REG_QWORD, "\x01\0\0\0\0\0\0\0"s},
        {"Flags", REG_NONE, ""},
        {"Table", REG_BINARY, "\x01\x02\x03"},
        {"Obsolete", REG_SZ, kMissing},
    };
    for (const auto& [name, type, data] : values)
      EXPECT_EQ(Value(registry, device, name, type), data) << name;
    EXPECT_EQ(Value(registry, kServiceOpos + "\\Scanner", "Front", REG_SZ), Sz("VQScanner1"));
    EXPECT_EQ(Value(registry, kServiceOpos + "\\Biometrics\\Finger1", "Port", REG_SZ), Sz("COM4"));
    const std::string map = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
    EXPECT_EQ(Value(registry, map, "\\Device\\Serial0", REG_SZ), Sz("COM1"));
    EXPECT_EQ(Value(registry, map, "/dev/ttyUSB0", REG_SZ), Sz("COM3"));
    EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kServiceOpos + "\\Scanner\\Old"));
    EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\WOW6432Node"));
    EXPECT_FALSE(registry.KeyExists(HKEY_CURRENT_USER, "Software\\Other"));
  }
  // Version 5 in UTF-8, with a byte-order mark and without.
  opossvc::testing::ScopedCodePage utf8_page(65001);
  if (!utf8_page.applied()) return;
  std::ifstream in(DataFile("regedit5_utf8.reg"), std::ios::binary);
  const std::string utf8((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const std::string bom : {"", "\xEF\xBB\xBF"}) {
    TempRegistry registry;
    const opossvc::RegImportReport report =
        opossvc::ImportRegFile(WriteFile(bom + utf8).c_str(), opossvc::RegImportOptions::All());
    EXPECT_EQ(report.result, static_cast<unsigned>(kWritten)) << bom.size();
    const std::string display = kServiceOpos + "\\LineDisplay\\LD1";
    EXPECT_EQ(Value(registry, display, "Description", REG_SZ), Sz("Affichage \xe2\x80\x93 Z\xc3\xbcrich"));
    EXPECT_EQ(Value(registry, display, "Path", REG_EXPAND_SZ), Sz("C:\\\xc3\xbc"));
  }
}

// A process killed during an import leaves a run of the file's first
// sections, each whole, and nothing of the others.
TEST(RegImportTest, AKilledImportLeavesWholeSections) {
  constexpr int kSections = 20000;
  constexpr DWORD kValues = 8;
  TempRegistry registry;
  const std::string scanner = kServiceOpos + "\\Scanner";
  registry.CreateKey(HKEY_LOCAL_MACHINE, scanner);
  std::string file = "REGEDIT4\n";
  for (int i = 0; i < kSections; ++i) {
    file += kSection + "\\ServiceOPOS\\Scanner\\D" + std::to_string(i) + "]\n";
    for (DWORD v = 0; v < kValues; ++v) file += "\"V" + std::to_string(v) + "\"=dword:1\n";
  }
  const std::string path = WriteFile(file);
  opossvc::test_support::ChildProcess child(
      [&path](opossvc::test_support::ChildChecks&) { ImportRegistry(path.c_str()); });
  const auto deadline = std::chrono::steady_clock::now() + opossvc::testing::kPatience;
  while (!registry.KeyExists(HKEY_LOCAL_MACHINE, scanner + "\\D0") &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  child.Kill();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, scanner.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD sections = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &sections, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(key);
  EXPECT_GT(sections, 0u);
  EXPECT_LT(sections, static_cast<DWORD>(kSections));  // killed before the end
  for (DWORD i = 0; i < sections; ++i) {
    DWORD values = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (scanner + "\\D" + std::to_string(i)).c_str(), 0,
                            KEY_READ, &key),
              ERROR_SUCCESS)
        << i;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    ASSERT_EQ(values, kValues) << "section " << i << " of " << sections;
  }
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
