// Letter case of non-ASCII names, in the code page that the names are in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <opossvc/testing/temp_registry.h>

#include "tests/registry_store/registry_test_support.h"

namespace opossvc::registry_test {
namespace {

TEST(RegistryFolding, NamesMatchWithoutRegardToCaseInTheirCodePage) {
  struct Case {
    const char* what;
    const char* codepage;
    std::string created;
    std::string looked_up;
    bool same;
  } cases[] = {
      {"umlaut, UTF-8", "65001", "\xC3\x84rger", "\xC3\xA4RGER", true},
      {"Greek with final sigma, UTF-8", "65001", "\xCE\xA3\xCE\x9F\xCE\xA3",  // ΣΟΣ
       "\xCF\x83\xCE\xBF\xCF\x82", true},                                    // σος
      {"full folding: sharp s", "65001", "STRASSE", "stra\xC3\x9F" "e", true},
      {"distinct letters", "65001", "\xC3\x84rger", "\xC3\x96rger", false},  // Ä, Ö
      {"undecodable bytes stay distinct", "65001", "\xC4x", "\xE4x", false},
      {"umlaut, 1252", "1252", "\xC4rger", "\xE4RGER", true},
      {"caron, 1252", "1252", "\x8A" "ab", "\x9A" "AB", true},  // Š, š
      {"full-width letters, 932", "932", "\x82\x60", "\x82\x81", true},  // Ａ, ａ
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnv codepage("OPOS_CODEPAGE", std::string(c.codepage));
    opossvc::testing::TempRegistry registry;
    ScopedKey base;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Folding", &base), ERROR_SUCCESS);
    ScopedKey key;
    ASSERT_EQ(Create(base.get(), c.created.c_str(), &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(base.get(), c.created.c_str(), "v"), ERROR_SUCCESS);

    ScopedKey found;
    EXPECT_EQ(Open(base.get(), c.looked_up.c_str(), &found),
              c.same ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadBytes(base.get(), c.looked_up.c_str()).has_value(), c.same);
    DWORD disposition = 0;
    ASSERT_EQ(Create(base.get(), c.looked_up.c_str(), &found, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, c.same ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY);
    if (c.same) {
      EXPECT_EQ(SubkeyNames(base.get()), std::vector<std::string>{c.created})
          << "the name keeps the letter case it was created with";
    } else {
      EXPECT_EQ(SubkeyNames(base.get()).size(), 2u);
    }
  }
}

TEST(RegistryFolding, Utf8NamesListInUpperCaseOrderAndCountCharacters) {
  ScopedEnv codepage("OPOS_CODEPAGE", std::string("65001"));
  opossvc::testing::TempRegistry registry;
  ScopedKey base;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order", &base), ERROR_SUCCESS);
  for (const char* name : {"\xC3\xA9t\xC3\xA9", "_", "Z", "f", "E", "\xC3\x89" "a"}) {
    ScopedKey key;
    ASSERT_EQ(Create(base.get(), name, &key), ERROR_SUCCESS);
  }
  // Upper-case order: E < F < Z < _ < ÉA < ÉTÉ.
  EXPECT_EQ(SubkeyNames(base.get()),
            (std::vector<std::string>{"E", "f", "Z", "_", "\xC3\x89" "a", "\xC3\xA9t\xC3\xA9"}));

  std::string name255;
  for (int i = 0; i < 255; ++i) name255 += "\xC3\xA9";  // 510 bytes, 255 characters
  ScopedKey key;
  EXPECT_EQ(Create(base.get(), name255.c_str(), &key), ERROR_SUCCESS);
  EXPECT_EQ(Create(base.get(), (name255 + "\xC3\xA9").c_str(), &key), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace opossvc::registry_test
