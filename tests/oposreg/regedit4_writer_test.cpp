#include "tools/oposreg/regedit4_writer.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>

#include "tools/oposreg/key_path.h"
#include "tools/oposreg/registry_tree.h"

namespace opossvc::oposreg {
namespace {

using std::string_literals::operator""s;

TEST(Regedit4Writer, ValueLinesAndSectionNames) {
  // what, value, expected line (null: refused, since the import would not give it back)
  const std::tuple<const char*, RegValue, const char*> cases[] = {
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
  for (const auto& [what, value, expected] : cases) {
    std::string line, why;
    EXPECT_EQ(FormatValueLine(value, &line, &why), expected != nullptr) << what;
    if (expected != nullptr) {
      EXPECT_EQ(line, expected) << what;
    } else {
      EXPECT_FALSE(why.empty()) << what;
    }
  }
  // Section names spell the database root as ImportRegistry wants it, in this spelling only.
  const std::pair<const char*, const char*> sections[] = {
      {"HKEY_LOCAL_MACHINE\\software\\oleforretail\\ServiceOPOS",
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS"},
      {"HKEY_LOCAL_MACHINE\\Software\\OLEforRetailX",
       "HKEY_LOCAL_MACHINE\\Software\\OLEforRetailX"},
      {"HKEY_CURRENT_USER\\Software\\OLEforRetail", "HKEY_CURRENT_USER\\Software\\OLEforRetail"},
  };
  for (const auto& [path, section] : sections) EXPECT_EQ(SectionName(path), section) << path;
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

// A tree as deep as Windows allows (512 levels) is read and written on a
// stack too small to recurse through it.
TEST(Regedit4Writer, DeepTreesAreWalkedWithoutRecursion) {
  constexpr int kDepth = 480;  // leaves room for the levels above a private HKEY_LOCAL_MACHINE
  testing::TempRegistry registry;
  std::string path = "SOFTWARE\\Deep";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  // One level a call: Windows makes at most 32 levels in one.
  for (int i = 0; i < kDepth; ++i) {
    path += "\\k";
    HKEY parent = key;
    ASSERT_EQ(RegCreateKeyExA(parent, "k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << i;
    RegCloseKey(parent);
  }
  RegCloseKey(key);

  DeepWalk walk;
  HANDLE thread = CreateThread(nullptr, 64 * 1024, WalkDeepTree, &walk, 0, nullptr);
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
