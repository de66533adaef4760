// Names and text in code pages: letter case is ignored as Windows ignores
// it, and a text means the same key or data in every code page; the stored
// spelling of names along a path, as case correction asks for it: all or
// nothing, only for names a key can have, only where listing is allowed.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include <opossvc/testing/scoped_code_page.h>
#include <opossvc/testing/temp_registry.h>

#include "platform/internal/stored_key_names.h"
#include "tests/platform/registry/registry_test_support.h"

namespace opossvc::registry_test {
namespace {

using Names = std::vector<std::string>;
using opossvc::testing::ScopedCodePage;

TEST(RegistryFolding, NamesMatchWithoutRegardToCaseInTheirCodePage) {
  std::tuple<const char*, const char*, std::string, std::string, bool> cases[] = {
      {"umlaut, UTF-8", "65001", "\xC3\x84rger", "\xC3\xA4RGER", true},
      {"Greek with final sigma, UTF-8", "65001", "\xCE\xA3\xCE\x9F\xCE\xA3",  // ΣΟΣ
       "\xCF\x83\xCE\xBF\xCF\x82", true},                                     // σος
      {"one letter for one: sharp s is no SS", "65001", "MASSE", "Ma\303\237e", false},
      {"distinct letters", "65001", "\xC3\x84rger", "\xC3\x96rger", false},  // Ä, Ö
      {"undecodable bytes become U+FFFD", "65001", "\xC4x", "\xE4x", true},
      {"caron, 1252", "1252", "\212ab", "\232AB", true},  // Š, š
      {"full-width letters, 932", "932", "\x82\x60", "\x82\x81", true},  // Ａ, ａ
  };
  for (const auto& [what, page, created, looked_up, same] : cases) {
    SCOPED_TRACE(what);
    ScopedCodePage codepage(page);
    if (!codepage.applied()) continue;  // Windows: the system's code page only
    opossvc::testing::TempRegistry registry;
    ScopedKey base;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Folding", &base), ERROR_SUCCESS);
    ScopedKey key;
    ASSERT_EQ(Create(base.get(), created.c_str(), &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(base.get(), created.c_str(), "v"), ERROR_SUCCESS);

    ScopedKey found;
    EXPECT_EQ(Open(base.get(), looked_up.c_str(), &found),
              same ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadBytes(base.get(), looked_up.c_str()).has_value(), same);
    DWORD disposition = 0;
    ASSERT_EQ(Create(base.get(), looked_up.c_str(), &found, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, same ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY);
    EXPECT_EQ(SubkeyNames(base.get()).size(), same ? 1u : 2u);
  }
}

// Written in Shift-JIS, read in UTF-8 and in Windows-1252: the same keys
// and text, each in the reader's code page, with sizes of that code page.
TEST(RegistryFolding, TextMeansTheSameInEveryCodePage) {
  const std::string soft_932 = "\x83\x5C\x83\x74\x83\x67";              // ソフト
  const std::string source_932 = "\x83\x5C\x81\x5B\x83\x58";            // ソース
  const std::string soft_utf8 = "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88";  // ソフト
  const std::string source_utf8 = "\xE3\x82\xBD\xE3\x83\xBC\xE3\x82\xB9";
  opossvc::testing::TempRegistry registry;
  ScopedKey base;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Text", &base), ERROR_SUCCESS);
  {
    ScopedCodePage codepage(932);
    if (!codepage.applied()) GTEST_SKIP() << "the code page is the system's";
    ScopedKey key;
    ASSERT_EQ(Create(base.get(), (soft_932 + "\\" + source_932).c_str(), &key), ERROR_SUCCESS);
    ASSERT_EQ(Create(base.get(), source_932.c_str(), &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(base.get(), soft_932.c_str(), soft_932), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(base.get()), (Names{soft_932, source_932})) << "two keys, in order";
  }
  const std::tuple<const char*, std::string, std::string> readers[] = {
      {"65001", soft_utf8, source_utf8}, {"1252", "???", "???"}};
  for (const auto& [page, soft, source] : readers) {
    SCOPED_TRACE(page);
    ScopedCodePage codepage(page);
    if (!codepage.applied()) continue;
    EXPECT_EQ(SubkeyNames(base.get()), (Names{soft, source}));
    EXPECT_EQ(ValueNames(base.get()), Names{soft});
    ScopedKey key;
    if (soft != "???") {
      EXPECT_EQ(Open(base.get(), (soft + "\\" + source).c_str(), &key), ERROR_SUCCESS);
    }
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(base.get(), soft_utf8.c_str(), nullptr, nullptr, nullptr, &size),
              soft != "???" ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    char name[16];
    DWORD name_size = sizeof name;
    size = 0;
    ASSERT_EQ(RegEnumValueA(base.get(), 0, name, &name_size, nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(name_size, soft.size());
    EXPECT_EQ(size, soft.size() + 1) << "the data size in the reader's code page";
    std::string data(size, '\xBD');
    name_size = sizeof name;
    ASSERT_EQ(RegEnumValueA(base.get(), 0, name, &name_size, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(data.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(data, soft + '\0');
    // Maximum lengths as Windows gives them: UTF-16 units, stored bytes.
    DWORD max_subkey = 0, max_name = 0, max_data = 0;
    ASSERT_EQ(RegQueryInfoKeyA(base.get(), nullptr, nullptr, nullptr, nullptr, &max_subkey,
                               nullptr, nullptr, &max_name, &max_data, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ((std::vector<DWORD>{max_subkey, max_name, max_data}),
              (std::vector<DWORD>{3, 3, 8}));
  }
}

TEST(RegistryFolding, Utf8NamesListInUpperCaseOrderAndCountCharacters) {
  ScopedCodePage codepage(65001);
  if (!codepage.applied()) GTEST_SKIP() << "the code page is the system's";
  opossvc::testing::TempRegistry registry;
  ScopedKey base;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order", &base), ERROR_SUCCESS);
  for (const char* name : {"\xC3\xA9t\xC3\xA9", "_", "Z", "f", "E", "\xC3\x89" "a",
                           "\xEF\xBC\xA1", "\xF0\xA0\x80\x8B"}) {  // U+FF21 Ａ, U+2000B 𠀋
    ScopedKey key;
    ASSERT_EQ(Create(base.get(), name, &key), ERROR_SUCCESS);
  }
  // Upper-cased UTF-16 order: E < F < Z < _ < ÉA < ÉTÉ < 𠀋 (a surrogate
  // pair, D840 DC0B) < Ａ (FF21).
  EXPECT_EQ(SubkeyNames(base.get()),
            (Names{"E", "f", "Z", "_", "\xC3\x89" "a", "\xC3\xA9t\xC3\xA9", "\xF0\xA0\x80\x8B",
                   "\xEF\xBC\xA1"}));

  std::string name255;
  for (int i = 0; i < 255; ++i) name255 += "\xC3\xA9";  // 510 bytes, 255 characters
  ScopedKey key;
  EXPECT_EQ(Create(base.get(), name255.c_str(), &key), ERROR_SUCCESS);
  EXPECT_EQ(Create(base.get(), (name255 + "\xC3\xA9").c_str(), &key), ERROR_INVALID_PARAMETER);
}

TEST(RegistryStoredNames, AnswersTheCreatedSpellingOrNothing) {
  opossvc::testing::TempRegistry registry;
  ScopedKey gone, values_only, top;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names", &gone), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names"), ERROR_SUCCESS);
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names\\Vendor Two\\Model-7", &top),
            ERROR_SUCCESS);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "software\\names", &top), ERROR_SUCCESS);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names", &values_only, KEY_QUERY_VALUE),
            ERROR_SUCCESS);
  const std::tuple<HKEY, Names, LONG, Names> cases[] = {
      {top.get(), {"vendor two", "MODEL-7"}, ERROR_SUCCESS, {"Vendor Two", "Model-7"}},
      {top.get(), {"vendor two", "missing"}, ERROR_FILE_NOT_FOUND, {}},
      // Names no key has: the path parser would have dropped or split them.
      {top.get(), {"vendor two", ""}, ERROR_FILE_NOT_FOUND, {}},
      {top.get(), {"vendor two\\model-7"}, ERROR_FILE_NOT_FOUND, {}},
      {values_only.get(), {"vendor two"}, ERROR_ACCESS_DENIED, {}},
      {gone.get(), {"vendor two"}, ERROR_KEY_DELETED, {}},
  };
  for (const auto& [key, asked, result, expected] : cases) {
    SCOPED_TRACE(::testing::PrintToString(asked) + " " + std::to_string(result));
    Names stored = {"left over"};
    EXPECT_EQ(opossvc::detail::GetStoredKeyNames(key, asked, &stored), result);
    EXPECT_EQ(stored, expected);
  }
  EXPECT_EQ(opossvc::detail::GetStoredKeyNames(HKEY_LOCAL_MACHINE, {"software"}, nullptr),
            ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace opossvc::registry_test
