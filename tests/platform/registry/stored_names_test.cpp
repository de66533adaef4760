// The stored spelling of key names along a path, as case correction asks
// for it: all or nothing, only for names that a key can have, and only
// where listing the key would be allowed.
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
  ScopedKey gone, values_only, top;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names", &gone), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names"), ERROR_SUCCESS);
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names\\Vendor Two\\Model-7", &top),
            ERROR_SUCCESS);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "software\\names", &top), ERROR_SUCCESS);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names", &values_only, KEY_QUERY_VALUE),
            ERROR_SUCCESS);
  const struct {
    HKEY key;
    Names asked;
    LONG result;
    Names stored;
  } cases[] = {
      {top.get(), {"vendor two", "MODEL-7"}, ERROR_SUCCESS, {"Vendor Two", "Model-7"}},
      {top.get(), {"vendor two", "missing"}, ERROR_FILE_NOT_FOUND, {}},
      // Names no key has: the path parser would have dropped or split them.
      {top.get(), {"vendor two", ""}, ERROR_FILE_NOT_FOUND, {}},
      {top.get(), {"vendor two\\model-7"}, ERROR_FILE_NOT_FOUND, {}},
      {values_only.get(), {"vendor two"}, ERROR_ACCESS_DENIED, {}},
      {gone.get(), {"vendor two"}, ERROR_KEY_DELETED, {}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(::testing::PrintToString(row.asked) + " " + std::to_string(row.result));
    Names stored = {"left over"};
    EXPECT_EQ(opossvc::detail::GetStoredKeyNames(row.key, row.asked, &stored), row.result);
    EXPECT_EQ(stored, row.stored);
  }
  EXPECT_EQ(opossvc::detail::GetStoredKeyNames(HKEY_LOCAL_MACHINE, {"software"}, nullptr),
            ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace opossvc::registry_test
