// The stored spelling of key names along a path, as case correction asks
// for it: all or nothing, and only for names that a key can have.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <opossvc/testing/temp_registry.h>

#include "platform/internal/stored_key_names.h"
#include "tests/platform/registry/registry_test_support.h"

namespace opossvc::registry_test {
namespace {

using Names = std::vector<std::string>;

TEST(RegistryStoredNames, AnswersTheCreatedSpellingOrNothing) {
  opossvc::testing::TempRegistry registry;
  ScopedKey base;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names\\Vendor Two\\Model-7", &base),
            ERROR_SUCCESS);
  ScopedKey top;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "software\\names", &top), ERROR_SUCCESS);
  const struct {
    Names asked;
    LONG result;
    Names stored;
  } cases[] = {
      {{"VENDOR TWO"}, ERROR_SUCCESS, {"Vendor Two"}},
      {{"vendor two", "MODEL-7"}, ERROR_SUCCESS, {"Vendor Two", "Model-7"}},
      {{}, ERROR_SUCCESS, {}},
      {{"vendor two", "missing"}, ERROR_FILE_NOT_FOUND, {}},
      {{"missing", "model-7"}, ERROR_FILE_NOT_FOUND, {}},
      // Names no key has: the path parser would have dropped or split them.
      {{"vendor two", ""}, ERROR_FILE_NOT_FOUND, {}},
      {{"vendor two\\model-7"}, ERROR_FILE_NOT_FOUND, {}},
  };
  for (const auto& row : cases) {
    Names stored = {"left over"};
    EXPECT_EQ(opossvc::detail::GetStoredKeyNames(top.get(), row.asked, &stored), row.result)
        << ::testing::PrintToString(row.asked);
    EXPECT_EQ(stored, row.stored) << ::testing::PrintToString(row.asked);
  }
}

TEST(RegistryStoredNames, RefusesWhatListingWouldRefuse) {
  opossvc::testing::TempRegistry registry;
  ScopedKey writable;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names\\Leaf", &writable), ERROR_SUCCESS);
  ScopedKey values_only;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names", &values_only, KEY_QUERY_VALUE),
            ERROR_SUCCESS);
  ScopedKey gone;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names", &gone), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names"), ERROR_SUCCESS);
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names\\Leaf", &writable), ERROR_SUCCESS);
  const struct {
    const char* what;
    HKEY key;
    LONG result;
  } cases[] = {
      {"no right to list", values_only.get(), ERROR_ACCESS_DENIED},
      {"key deleted", gone.get(), ERROR_KEY_DELETED},
      {"not a handle", reinterpret_cast<HKEY>(0x1234), ERROR_INVALID_HANDLE},
  };
  for (const auto& row : cases) {
    Names stored;
    EXPECT_EQ(opossvc::detail::GetStoredKeyNames(row.key, {"leaf"}, &stored), row.result)
        << row.what;
    EXPECT_TRUE(stored.empty()) << row.what;
  }
  EXPECT_EQ(opossvc::detail::GetStoredKeyNames(HKEY_LOCAL_MACHINE, {"software"}, nullptr),
            ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace opossvc::registry_test
