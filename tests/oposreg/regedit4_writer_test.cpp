#include "tools/oposreg/regedit4_writer.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/util.h>

#include "tools/oposreg/key_path.h"
#include "tools/oposreg/registry_tree.h"

namespace opossvc::oposreg {
namespace {

using std::string_literals::operator""s;

TEST(Regedit4Writer, ValueLines) {
  struct Case {
    const char* what;
    RegValue value;
    const char* line;
  };
  const Case cases[] = {
      {"plain string", {"Port", REG_SZ, "COM3\0"s}, R"("Port"="COM3")"},
      {"default value", {"", REG_SZ, "S1.SO\0"s}, R"(@="S1.SO")"},
      {"quotes and backslashes escaped", {R"(a"b\c)", REG_SZ, "C:\\x \"y\"\0"s},
       R"("a\"b\\c"="C:\\x \"y\"")"},
      {"string without its NUL", {"s", REG_SZ, "abc"}, R"("s"="abc")"},
      {"empty string", {"e", REG_SZ, ""}, R"("e"="")"},
      {"string with an inner NUL", {"n", REG_SZ, "a\0b\0"s}, R"("n"=hex(1):61,00,62,00)"},
      {"string with a line break", {"n", REG_SZ, "a\nb\0"s}, R"("n"=hex(1):61,0a,62,00)"},
      {"dword", {"Baudrate", REG_DWORD, "\x0a\0\0\0"s}, R"("Baudrate"=dword:0000000a)"},
      {"dword high bit", {"d", REG_DWORD, "\xff\xff\xff\xff"s}, R"("d"=dword:ffffffff)"},
      {"dword of the wrong size", {"d", REG_DWORD, "\x01\x02"s}, R"("d"=hex(4):01,02)"},
      {"binary", {"b", REG_BINARY, "\x01\x02\xff"s}, R"("b"=hex:01,02,ff)"},
      {"empty binary", {"b", REG_BINARY, ""}, R"("b"=hex:)"},
      {"other type", {"m", REG_MULTI_SZ, "a\0\0"s}, R"("m"=hex(7):61,00,00)"},
  };
  for (const Case& c : cases) {
    std::string line;
    ASSERT_TRUE(FormatValueLine(c.value, &line)) << c.what;
    EXPECT_EQ(line, c.line) << c.what;
  }
  std::string line;
  EXPECT_FALSE(FormatValueLine({"a\nb", REG_SZ, "x"}, &line));
}

TEST(Regedit4Writer, LongByteListsContinueWithinTheWidth) {
  std::string text;
  ASSERT_TRUE(FormatValueLine({"Table", REG_BINARY, std::string(100, '\xab')}, &text));
  std::istringstream lines(text);
  size_t count = 0;
  for (std::string part; std::getline(lines, part); ++count) {
    EXPECT_LE(part.size(), 80u) << part;
    if (!lines.eof()) {
      EXPECT_EQ(part.back(), '\\') << part;
    }
  }
  EXPECT_GT(count, 1u);
}

TEST(Regedit4Writer, SectionNamesSpellTheDatabaseRootAsTheImporterWants) {
  const std::pair<const char*, const char*> cases[] = {
      {"HKEY_LOCAL_MACHINE\\software\\oleforretail\\ServiceOPOS",
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS"},
      {"HKEY_LOCAL_MACHINE\\Software\\OLEforRetail", "HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail"},
      {"HKEY_LOCAL_MACHINE\\Software\\OLEforRetailX", "HKEY_LOCAL_MACHINE\\Software\\OLEforRetailX"},
      {"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP", "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP"},
      {"HKEY_CURRENT_USER\\Software\\OLEforRetail", "HKEY_CURRENT_USER\\Software\\OLEforRetail"},
  };
  for (const auto& [path, section] : cases) EXPECT_EQ(SectionName(path), section) << path;
}

std::vector<RegKey> TreeBelow(const char* key_text) {
  KeyPath key;
  std::string error;
  EXPECT_TRUE(ParseKeyPath(key_text, &key, &error)) << error;
  std::vector<RegKey> keys;
  EXPECT_EQ(ReadKeyTree(key, &keys), ERROR_SUCCESS);
  return keys;
}

// What the store holds below a key, as text that compares whole trees.
std::string Snapshot(const char* key_text) {
  std::string out;
  for (const RegKey& k : TreeBelow(key_text)) {
    out += "[" + k.path + "]\n";
    for (const RegValue& v : k.values) {
      out += v.name + "|" + std::to_string(v.type) + "|" + v.data + "\n";
    }
  }
  return out;
}

TEST(Regedit4Writer, ExportImportsBackToTheSameContents) {
  testing::TempRegistry registry;
  const std::string device = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S1";
  registry.SetString(HKEY_LOCAL_MACHINE, device, "", "S1 \"quoted\" \\ so");
  registry.SetString(HKEY_LOCAL_MACHINE, device, "Port", "COM3");
  registry.SetDword(HKEY_LOCAL_MACHINE, device, "Baudrate", 0x80000006);
  registry.SetBinary(HKEY_LOCAL_MACHINE, device, "Table", std::vector<BYTE>(300, 0x5a));
  registry.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner",
                     "Default", "S1");
  registry.SetDword(HKEY_LOCAL_MACHINE,
                    "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\VANTA1.6", "IdleSleep", 5);
  registry.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail", "Root value", "x=y");
  const char* root = "HKLM\\SOFTWARE\\OLEforRetail";
  const std::string before = Snapshot(root);

  ExportText out = FormatRegedit4(TreeBelow(root));
  EXPECT_TRUE(out.skipped.empty());
  const std::string file = registry.root() + "/export.reg";
  std::ofstream(file) << out.text;
  ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail"), ERROR_SUCCESS);
  ASSERT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail"));

  EXPECT_EQ(ImportRegistry(file.c_str()), OPOSSVC_IMPORT_WRITTEN);
  EXPECT_EQ(Snapshot(root), before);
}

}  // namespace
}  // namespace opossvc::oposreg
