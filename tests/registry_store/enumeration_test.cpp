// Listing by index while the list changes: indexes always refer to the list
// as it is at the time of the call, whoever changed it.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <opossvc/testing/temp_registry.h>

#include "tests/registry_store/registry_test_support.h"

namespace opossvc::registry_test {
namespace {

class RegistryEnumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Listing", &base_), ERROR_SUCCESS);
  }
  HKEY base() const { return base_.get(); }

  static std::string NameAt(HKEY key, DWORD index, LONG* result) {
    char name[256];
    DWORD size = sizeof name;
    *result = RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    return *result == ERROR_SUCCESS ? std::string(name, size) : std::string();
  }

  opossvc::testing::TempRegistry registry_;
  ScopedKey base_;
};

TEST_F(RegistryEnumeration, TakingTheFirstSubkeyUntilNoneIsLeftDeletesEachOnce) {
  constexpr int kKeys = 40;
  for (int i = 0; i < kKeys; ++i) {
    ScopedKey key;
    ASSERT_EQ(Create(base(), ("K" + std::to_string(i) + "\\Below").c_str(), &key), ERROR_SUCCESS);
  }
  std::set<std::string> deleted;
  for (int round = 0; round <= kKeys; ++round) {
    LONG result = ERROR_SUCCESS;
    std::string first = NameAt(base(), 0, &result);
    if (result == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(result, ERROR_SUCCESS);
    ASSERT_TRUE(deleted.insert(first).second) << first << " came back";
    ASSERT_EQ(RegDeleteTreeA(base(), first.c_str()), ERROR_SUCCESS);
  }
  EXPECT_EQ(deleted.size(), static_cast<size_t>(kKeys));
}

TEST_F(RegistryEnumeration, IndexesFollowChangesMadeThroughAnyHandle) {
  ScopedKey other;  // a second handle to the same key
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "software\\listing", &other), ERROR_SUCCESS);
  struct Step {
    const char* create;  // or null
    const char* remove;  // or null
    std::vector<std::string> listing;
  } steps[] = {
      {"M", nullptr, {"M"}},
      {"T", nullptr, {"M", "T"}},
      {"b", nullptr, {"b", "M", "T"}},  // sorts in front: everything moves up
      {nullptr, "M", {"b", "T"}},
      {"Z", nullptr, {"b", "T", "Z"}},
      {nullptr, "B", {"T", "Z"}},
  };
  for (const Step& step : steps) {
    ScopedKey key;
    if (step.create != nullptr) {
      ASSERT_EQ(Create(base(), step.create, &key), ERROR_SUCCESS);
    }
    if (step.remove != nullptr) {
      ASSERT_EQ(RegDeleteKeyA(other.get(), step.remove), ERROR_SUCCESS);
    }
    EXPECT_EQ(SubkeyNames(other.get()), step.listing);
    EXPECT_EQ(SubkeyNames(base()), step.listing);
    LONG result = ERROR_SUCCESS;
    NameAt(base(), static_cast<DWORD>(step.listing.size()), &result);
    EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
  }
}

// One thread keeps adding and removing keys while others list them. Every
// listing answer must be a whole, existing name or the end of the list.
TEST_F(RegistryEnumeration, ListingWhileAnotherThreadChangesTheKey) {
  const std::vector<std::string> names = {"A", "B", "C", "D", "E", "F"};
  std::atomic<bool> done{false};
  std::atomic<int> bad_answers{0};
  std::thread writer([&] {
    for (int round = 0; round < 60; ++round) {
      for (const std::string& name : names) {
        ScopedKey key;
        if (Create(base(), name.c_str(), &key) != ERROR_SUCCESS) ++bad_answers;
      }
      for (const std::string& name : names) {
        if (RegDeleteKeyA(base(), name.c_str()) != ERROR_SUCCESS) ++bad_answers;
      }
    }
    done = true;
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      while (!done) {
        for (DWORD i = 0; i < 8; ++i) {
          LONG result = ERROR_SUCCESS;
          std::string name = NameAt(base(), i, &result);
          if (result == ERROR_NO_MORE_ITEMS) break;
          bool known = result == ERROR_SUCCESS && name.size() == 1 && name[0] >= 'A' &&
                       name[0] <= 'F';
          if (!known) ++bad_answers;
        }
      }
    });
  }
  writer.join();
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(bad_answers.load(), 0);
  EXPECT_TRUE(SubkeyNames(base()).empty());
}

}  // namespace
}  // namespace opossvc::registry_test
