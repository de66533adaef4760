// Listing by index while the list changes: indexes always refer to the list
// as it is at the time of the call, whoever changed it.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <opossvc/testing/temp_registry.h>

#include "platform/internal/registry_read_snapshot.h"
#include "tests/platform/registry/registry_test_support.h"

namespace opossvc::registry_test {
namespace {

class RegistryEnumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Listing", &base_), ERROR_SUCCESS);
  }
  HKEY base() const { return base_.get(); }

  // The name at an index of the subkey or value list, "" when there is none.
  static std::string NameAt(HKEY key, DWORD index, LONG* result, bool values = false) {
    char name[256];
    DWORD size = sizeof name;
    *result = values ? RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr)
                     : RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    return *result == ERROR_SUCCESS ? std::string(name, size) : std::string();
  }

  opossvc::testing::TempRegistry registry_;
  ScopedKey base_;
};

// Asking for the next index right after a change, made through any handle
// or another connection to the store (as another process has), must answer
// from the changed list, never continue from where the previous answer was
// found.
TEST_F(RegistryEnumeration, NextIndexAfterAChangeNamesTheChangedList) {
  // A second store object, and with it a second connection, on the same
  // file: OPOS_ROOT names another folder for a moment, then this one again.
  auto other_connection = [](std::function<LONG(HKEY)> make) {
    return [make](HKEY) -> LONG {
      {
        opossvc::testing::TempRegistry elsewhere;
        if (RegFlushKey(HKEY_LOCAL_MACHINE) != ERROR_SUCCESS) return ERROR_GEN_FAILURE;
      }
      ScopedKey key;
      if (LONG error = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Listing", &key)) return error;
      return make(key.get());
    };
  };
  auto create = [](const char* name) {
    return [name](HKEY key) {
      ScopedKey made;
      return Create(key, name, &made);
    };
  };
  auto remove = [](const char* name) {
    return [name](HKEY key) { return RegDeleteKeyA(key, name); };
  };
  auto remove_value = [](const char* name) {
    return [name](HKEY key) { return RegDeleteValueA(key, name); };
  };
  // What changes, whether values are listed (else subkeys), the change, the index asked after
  // listing 0 and 1, and the name expected there ("": the list has ended).
  const std::tuple<const char*, bool, std::function<LONG(HKEY)>, DWORD, const char*> changes[] = {
      {"key sorting first", false, create("A"), 2, "D"},
      {"first key deleted", false, remove("B"), 2, ""},
      {"first key deleted, asked again", false, remove("B"), 1, "F"},
      {"key sorting first, other connection", false, other_connection(create("A")), 2, "D"},
      {"first value deleted, other connection", true, other_connection(remove_value("b")), 1, "f"},
  };
  for (const auto& [what, values, make, index, expected] : changes) {
    SCOPED_TRACE(what);
    ASSERT_EQ(RegDeleteTreeA(base(), nullptr), ERROR_SUCCESS);
    for (const char* name : {"B", "D", "F"}) {
      ScopedKey key;
      ASSERT_EQ(Create(base(), name, &key), ERROR_SUCCESS);
    }
    for (const char* name : {"b", "d", "f"}) ASSERT_EQ(SetText(base(), name, name), ERROR_SUCCESS);
    ScopedKey other;  // lists through another handle than the change is made with
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Listing", &other), ERROR_SUCCESS);
    LONG result = ERROR_SUCCESS;
    EXPECT_EQ(NameAt(other.get(), 0, &result, values), values ? "b" : "B");
    EXPECT_EQ(NameAt(other.get(), 1, &result, values), values ? "d" : "D");
    ASSERT_EQ(make(base()), ERROR_SUCCESS);
    EXPECT_EQ(NameAt(other.get(), index, &result, values), expected);
    EXPECT_EQ(result, *expected ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS);
  }
}

// Listing values by index follows the data as it is now, also when the
// same index is asked for twice (as callers do to size their buffers).
TEST_F(RegistryEnumeration, ValuesListedAgainShowTheirNewData) {
  for (const char* name : {"one", "two"}) ASSERT_EQ(SetText(base(), name, "old"), ERROR_SUCCESS);
  for (const char* data : {"old", "newer"}) {
    ASSERT_EQ(SetText(base(), "TWO", data), ERROR_SUCCESS);  // keeps its place and spelling
    char name[16], read[16];
    DWORD name_size = sizeof name, data_size = sizeof read;
    ASSERT_EQ(RegEnumValueA(base(), 1, name, &name_size, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(read), &data_size),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "two");
    EXPECT_STREQ(read, data);
  }
}

// One thread keeps adding and removing keys while others list them. Every
// listing answer must be a whole, existing name or the end of the list, and
// two listings in one read snapshot agree.
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
    readers.emplace_back([&, r] {
      while (!done) {
        std::optional<opossvc::detail::RegistryReadSnapshot> snapshot;
        if (r == 1) snapshot.emplace();
        std::vector<std::string> listed[2];
        for (int pass = 0; pass <= r; ++pass) {
          for (DWORD i = 0; i < 8; ++i) {
            LONG result = ERROR_SUCCESS;
            std::string name = NameAt(base(), i, &result);
            if (result == ERROR_NO_MORE_ITEMS) break;
            bool known = result == ERROR_SUCCESS && name.size() == 1 && name[0] >= 'A' &&
                         name[0] <= 'F';
            if (!known) ++bad_answers;
            listed[pass].push_back(name);
          }
        }
        if (r == 1 && listed[0] != listed[1]) ++bad_answers;
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
