#include "tools/oposreg/regedit4_writer.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/reg_import.h>
#include <opossvc/util.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>

#include "tools/oposreg/key_path.h"
#include "tools/oposreg/registry_tree.h"

namespace opossvc::oposreg {
namespace {

using std::string_literals::operator""s;

TEST(Regedit4Writer, ValueLines) {
  struct Case {
    const char* what;
    RegValue value;
    const char* line;  // null: refused, since the import would not give it back
  };
  const Case cases[] = {
      {"default value", {"", REG_SZ, "S1.SO\0"s}, R"(@="S1.SO")"},
      {"quotes and backslashes escaped",
       {R"(a"b\c)", REG_SZ, "C:\\x \"y\"\0"s},
       R"("a\"b\\c"="C:\\x \"y\"")"},
      {"carriage return alone", {"r", REG_SZ, "a\rb\0"s}, "\"r\"=\"a\rb\""},
      {"dword", {"Baudrate", REG_DWORD, "\x0a\0\0\0"s}, R"("Baudrate"=dword:0000000a)"},
      {"binary", {"b", REG_BINARY, "\x01\x02\xff"s}, R"("b"=hex:01,02,ff)"},
      {"string with an inner NUL", {"n", REG_SZ, "a\0b\0"s}, R"("n"=hex(1):61,00,62,00)"},
      {"string with a Ctrl-Z", {"n", REG_SZ, "a\x1a\0"s}, R"("n"=hex(1):61,1a,00)"},
      {"name with a line feed", {"a\nb", REG_SZ, "x"}, nullptr},
      {"name with a Ctrl-Z", {"a\x1a", REG_SZ, "x"}, nullptr},
      {"qword", {"q", REG_QWORD, "\x01\0\0\0\0\0\0\0"s}, R"("q"=hex(b):01,00,00,00,00,00,00,00)"},
      {"longer than an import reads", {"big", REG_SZ, std::string(4 << 20, 's')}, nullptr},
  };
  for (const Case& c : cases) {
    std::string line, why;
    EXPECT_EQ(FormatValueLine(c.value, &line, &why), c.line != nullptr) << c.what;
    if (c.line != nullptr) {
      EXPECT_EQ(line, c.line) << c.what;
    } else {
      EXPECT_FALSE(why.empty()) << c.what;
    }
  }
}

// ImportRegistry matches the database root in this spelling only.
TEST(Regedit4Writer, SectionNamesSpellTheDatabaseRootAsTheImporterWants) {
  const std::pair<const char*, const char*> cases[] = {
      {"HKEY_LOCAL_MACHINE\\software\\oleforretail\\ServiceOPOS",
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS"},
      {"HKEY_LOCAL_MACHINE\\Software\\OLEforRetailX", "HKEY_LOCAL_MACHINE\\Software\\OLEforRetailX"},
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
  KeyPaths paths;
  for (const RegKey& k : TreeBelow(key_text)) {
    out += "[" + paths.Next(k) + "]\n";
    for (const RegValue& v : k.values) {
      out += v.name + "|" + std::to_string(v.type) + "|" + v.data + "\n";
    }
  }
  return out;
}

// Whatever the export writes, "oposreg import" gives back: types beyond the
// three of REGEDIT4, classes beyond the key-code table, a device that shares
// its name with a logical name, and the serial-port map.
TEST(Regedit4Writer, ExportImportsBackToTheSameContents) {
  testing::TempRegistry registry;
  const std::string device = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S1";
  registry.SetString(HKEY_LOCAL_MACHINE, device, "", "S1 \"quoted\" \\ so");
  registry.SetString(HKEY_LOCAL_MACHINE, device, "Port", "COM3");
  registry.SetString(HKEY_LOCAL_MACHINE, device, "Init", "ESC @\r");
  registry.SetDword(HKEY_LOCAL_MACHINE, device, "Baudrate", 0x80000006);
  registry.SetBinary(HKEY_LOCAL_MACHINE, device, "Table", std::vector<BYTE>(300, 0x5a));
  const std::pair<DWORD, std::string> odd[] = {
      {REG_EXPAND_SZ, "%OPOS%\\x\0"s}, {REG_MULTI_SZ, "a\0b\0\0"s}, {REG_NONE, "\x01"s},
      {REG_QWORD, "12345678"s},         {REG_SZ, "no NUL"s},           {REG_SZ, "a\nb\0"s},
      {REG_DWORD, "\x01"s},             {0x12345, ""s},
  };
  for (const auto& [type, data] : odd) {
    registry.SetValue(HKEY_LOCAL_MACHINE, device, "t" + std::to_string(type) + data.substr(0, 1),
                      type, data);
  }
  registry.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner",
                     "S1", "S2");
  registry.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Biometrics\\B1",
                     "Port", "COM4");
  registry.SetDword(HKEY_LOCAL_MACHINE,
                    "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\VANTA1.6", "IdleSleep", 5);
  // Brackets in names stand inside the section's own.
  registry.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceInfo\\[x]]", "a=b", "]");
  registry.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail", "Root value", "x=y");
  registry.SetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", "/dev/ttyUSB0", "COM4");

  for (const char* root : {"HKLM\\SOFTWARE\\OLEforRetail", "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"}) {
    SCOPED_TRACE(root);
    const std::string before = Snapshot(root);
    const std::vector<RegKey> keys = TreeBelow(root);
    EXPECT_TRUE(ExportProblems(keys).empty());
    const std::string file = registry.root() + "/export.reg";
    std::ofstream out(file, std::ios::binary);
    EXPECT_TRUE(WriteRegedit4(keys, [&out](std::string_view part) { return !!(out << part); }));
    out.close();
    KeyPath path;
    std::string error;
    ASSERT_TRUE(ParseKeyPath(root, &path, &error));
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.sub_key.c_str()), ERROR_SUCCESS);

    const RegImportReport report = ImportRegFile(file.c_str(), RegImportOptions::All());
    EXPECT_EQ(report.result, OPOSSVC_IMPORT_WRITTEN);
    EXPECT_TRUE(report.problems.empty()) << report.problems.front().reason;
    EXPECT_EQ(Snapshot(root), before);
  }
}

struct DeepWalk {
  std::vector<RegKey> keys;
  size_t problems = 0, sections = 0, longest = 0;
};

DWORD WINAPI WalkDeepTree(LPVOID param) {
  auto* walk = static_cast<DeepWalk*>(param);
  KeyPath root;
  std::string error;
  if (!ParseKeyPath("HKLM\\SOFTWARE\\Deep", &root, &error)) return 1;
  if (ReadKeyTree(root, &walk->keys) != ERROR_SUCCESS) return 2;
  walk->problems = ExportProblems(walk->keys).size();
  WriteRegedit4(walk->keys, [walk](std::string_view text) {
    walk->sections += text.find('[') != std::string_view::npos;
    walk->longest = std::max(walk->longest, text.size());
    return true;
  });
  return 0;
}

// A tree far deeper than a small stack could recurse through is read and
// written all the same.
TEST(Regedit4Writer, DeepTreesAreWalkedWithoutRecursion) {
  constexpr int kDepth = 10000;
  testing::TempRegistry registry;
  std::string path = "SOFTWARE\\Deep";
  for (int i = 0; i < kDepth; ++i) path += "\\k";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);

  DeepWalk walk;
  HANDLE thread = CreateThread(nullptr, 256 * 1024, WalkDeepTree, &walk, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD exit_code = 99;
  GetExitCodeThread(thread, &exit_code);
  CloseHandle(thread);
  EXPECT_EQ(exit_code, 0u);
  ASSERT_EQ(walk.keys.size(), kDepth + 1u);
  EXPECT_EQ(walk.keys.back().depth, kDepth);
  EXPECT_EQ(walk.keys.back().name, "k");
  EXPECT_EQ(walk.problems, 0u);
  EXPECT_EQ(walk.sections, kDepth + 1u);
  EXPECT_EQ(walk.longest, std::string("\n[HKEY_LOCAL_MACHINE\\" + path + "]\n").size());
}

}  // namespace
}  // namespace opossvc::oposreg
