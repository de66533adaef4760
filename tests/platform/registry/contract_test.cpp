// The Win32 contract of the Reg* subset. Uses nothing but the Reg* calls and
// a private store, so that it can run against any registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <opossvc/testing/temp_registry.h>

#include "tests/platform/registry/registry_test_support.h"

namespace opossvc::registry_test {
namespace {

using std::string_literals::operator""s;
using Names = std::vector<std::string>;

class RegistryContract : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Contract", &base_), ERROR_SUCCESS);
  }
  HKEY base() const { return base_.get(); }

  opossvc::testing::TempRegistry registry_;
  ScopedKey base_;
};

TEST_F(RegistryContract, PathsNameLengthsAndDispositions) {
  const std::string key255(255, 'k'), value16383(16383, 'v');
  // The path, created (else opened), the result and the disposition.
  const std::tuple<std::string, bool, LONG, DWORD> steps[] = {
      {"One\\Two\\Three", true, ERROR_SUCCESS, REG_CREATED_NEW_KEY},
      {"one\\TWO\\three\\\\", true, ERROR_SUCCESS, REG_OPENED_EXISTING_KEY},  // trailing '\'s
      {"One\\\\Two", false, ERROR_SUCCESS, 0},  // a run of backslashes separates once
      {"\\One", false, ERROR_BAD_PATHNAME, 0},
      {"\\One", true, ERROR_BAD_PATHNAME, 0},
      {"One\\Gamma", false, ERROR_FILE_NOT_FOUND, 0},
      {"One/Two", false, ERROR_FILE_NOT_FOUND, 0},  // a slash is part of a name
      {key255, true, ERROR_SUCCESS, REG_CREATED_NEW_KEY},
      {key255 + "k", false, ERROR_FILE_NOT_FOUND, 0},
  };
  for (const auto& [path, create, result, expected_disposition] : steps) {
    SCOPED_TRACE(path.substr(0, 20));
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    DWORD disposition = 0;
    EXPECT_EQ(create ? RegCreateKeyExA(base(), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       &key, &disposition)
                     : RegOpenKeyExA(base(), path.c_str(), 0, KEY_READ, &key),
              result);
    if (result == ERROR_SUCCESS) {
      EXPECT_EQ(disposition, expected_disposition);
      RegCloseKey(key);
    } else if (!create) {
      EXPECT_EQ(key, nullptr) << "a failed open gives null";
    }
  }
  EXPECT_EQ(RegDeleteKeyA(base(), "\\One"), ERROR_BAD_PATHNAME);
  EXPECT_EQ(SetText(base(), value16383.c_str(), "ok"), ERROR_SUCCESS);
  EXPECT_EQ(SetText(base(), (value16383 + "v").c_str(), "no"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SubkeyNames(base()), (Names{key255, "One"}));
  EXPECT_EQ(ValueNames(base()), Names{value16383});
}

TEST_F(RegistryContract, HandlesAreCountedAndForgedOnesRejected) {
  for (const char* path : {static_cast<const char*>(nullptr), ""}) {
    ScopedKey again;  // a new handle to the same key
    ASSERT_EQ(Open(base(), path, &again), ERROR_SUCCESS);
    EXPECT_NE(again.get(), base());
    ASSERT_EQ(SetText(again.get(), "Seen", "yes"), ERROR_SUCCESS);
    again.Reset();
    EXPECT_EQ(ReadBytes(base(), "Seen"), "yes\0"s) << "closing one handle leaves the other";
  }
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), Names{"SOFTWARE"}) << "a root stays open";

  // Forged ones only: Windows may give a closed handle's value to the next key opened.
  int forged = 0;
  for (HKEY key : {static_cast<HKEY>(nullptr), reinterpret_cast<HKEY>(&forged)}) {
    SCOPED_TRACE(reinterpret_cast<ULONG_PTR>(key));
    ScopedKey out;
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Create(key, "x", &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetText(key, "x", "y"), ERROR_INVALID_HANDLE);
  }
}

TEST_F(RegistryContract, ListingLetterCase) {
  // Windows lists subkeys and values in no defined order: compared sorted.
  auto sorted = [](Names names) {
    std::sort(names.begin(), names.end());
    return names;
  };
  for (const char* name : {"b", "_x", "C", "a1", "A"}) {
    ScopedKey key;
    ASSERT_EQ(Create(base(), name, &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(base(), name, name), ERROR_SUCCESS);
  }
  ScopedKey same;
  ASSERT_EQ(Create(base(), "B", &same), ERROR_SUCCESS);
  EXPECT_EQ(sorted(SubkeyNames(base())), (Names{"A", "C", "_x", "a1", "b"}))
      << "names keep their case";
  ASSERT_EQ(SetText(base(), "C", "overwritten"), ERROR_SUCCESS);
  EXPECT_EQ(ReadBytes(base(), "c"), "overwritten\0"s);
  ASSERT_EQ(RegDeleteValueA(base(), "_X"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(base(), "_x", "again"), ERROR_SUCCESS);
  EXPECT_EQ(sorted(ValueNames(base())), (Names{"A", "C", "_x", "a1", "b"}));
}

TEST_F(RegistryContract, QueryValueBuffers) {
  // What is written lands at the start of a buffer filled with 0xBD.
  std::tuple<const char*, DWORD, std::string, DWORD, LONG, std::string> cases[] = {
      {"string fits", REG_SZ, "abc\0"s, 4, ERROR_SUCCESS, "abc\0"s},
      {"string one short", REG_SZ, "abc\0"s, 3, ERROR_MORE_DATA, "\xBD"},
      {"unterminated, exact", REG_SZ, "abc", 3, ERROR_SUCCESS, "abc\xBD"},
      {"unterminated, room", REG_EXPAND_SZ, "abc", 9, ERROR_SUCCESS, "abc\0\xBD"s},
      {"multi-string, room for one NUL", REG_MULTI_SZ, "a\0b"s, 4, ERROR_SUCCESS, "a\0b\0"s},
      {"binary gets no NUL", REG_BINARY, "abc", 9, ERROR_SUCCESS, "abc\xBD"},
      {"any type number", 0x12345, "zz", 2, ERROR_SUCCESS, "zz"},
  };
  for (const auto& [what, stored_type, stored, buffer_size, result, written] : cases) {
    SCOPED_TRACE(what);
    ASSERT_EQ(SetBytes(base(), "v", stored_type, stored), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(base(), "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, stored.size()) << "no buffer: the size alone";
    std::vector<BYTE> buffer(buffer_size + 8, 0xBD);
    size = buffer_size;
    type = 0;
    EXPECT_EQ(RegQueryValueExA(base(), "v", nullptr, &type, buffer.data(), &size), result);
    EXPECT_EQ(size, stored.size()) << "the stored size, whatever fits";
    EXPECT_EQ(type, stored_type);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + written.size()), written);
  }
  // A size that leaves out the NUL right after the text: it is counted in.
  for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY}) {
    SCOPED_TRACE(type);
    const char text[] = "abc";
    ASSERT_EQ(RegSetValueExA(base(), "t", 0, type, reinterpret_cast<const BYTE*>(text), 3),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadBytes(base(), "t"), type == REG_BINARY ? "abc"s : "abc\0"s);
  }
  DWORD size = 4, reserved = 0;
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExA(base(), nullptr, nullptr, nullptr, data, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(base(), "v", &reserved, nullptr, nullptr, &size),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(base(), "missing", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  // A missing value: a size asked for alone is 0, one with a buffer stays.
  EXPECT_EQ(RegQueryValueExA(base(), "missing", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 0u);
  size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(base(), "missing", nullptr, nullptr, data, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, sizeof data);
  EXPECT_EQ(RegSetValueExA(base(), nullptr, 0, REG_BINARY, nullptr, 1), ERROR_NOACCESS);
  EXPECT_EQ(RegSetValueExA(base(), nullptr, 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  EXPECT_EQ(ReadBytes(base(), ""), "") << "null and \"\" both name the default value";
}

// Listing and RegQueryInfoKey: what each buffer gets, and the maxima as
// Windows gives them (names in characters, data as stored: strings in UTF-16).
TEST_F(RegistryContract, EnumerationAndInfoBuffers) {
  ScopedKey shelf, other;
  ASSERT_EQ(Create(base(), "Name5", &shelf, nullptr, KEY_ALL_ACCESS, "Shelf"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(base(), "Name5", "foobar"), ERROR_SUCCESS);  // 7 data bytes
  struct {
    const char* what;
    DWORD name_count, class_count, data_count;
    LONG result;
    DWORD name_after, class_after, data_after;  // value listing: no class
  } cases[] = {
      {"all fits", 20, 20, 20, ERROR_SUCCESS, 5, 5, 7},
      {"name without room for NUL", 5, 20, 20, ERROR_MORE_DATA, 5, 20, 7},
      {"empty name buffer", 0, 20, 20, ERROR_MORE_DATA, 0, 20, 7},
      {"class or data too small", 20, 5, 6, ERROR_MORE_DATA, 20, 5, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    char name[32], class_name[32];
    BYTE data[32] = {'x'};
    DWORD name_count = c.name_count, class_count = c.class_count, data_count = c.data_count;
    DWORD type = 0;
    EXPECT_EQ(RegEnumKeyExA(base(), 0, name, &name_count, nullptr, class_name, &class_count,
                            nullptr),
              c.result);
    EXPECT_EQ(name_count, c.name_after);
    EXPECT_EQ(class_count, c.class_after);
    if (c.result == ERROR_SUCCESS) {
      EXPECT_STREQ(name, "Name5");
      EXPECT_STREQ(class_name, "Shelf");
    }
    name_count = c.name_count;
    EXPECT_EQ(RegEnumValueA(base(), 0, name, &name_count, nullptr, &type, data, &data_count),
              c.result);
    EXPECT_EQ(name_count, c.name_after) << "unchanged when it fails";
    EXPECT_EQ(data_count, c.data_after) << "the data size is always told";
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_TRUE(c.result != ERROR_SUCCESS || data[0] == 'f') << "the data, when it succeeds";
  }
  char name[8];
  DWORD count = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(base(), 1, name, &count, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumValueA(base(), 1, name, &count, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  ASSERT_EQ(Create(shelf.get(), "ChildName", &other, nullptr, KEY_READ, "LongerClass"),
            ERROR_SUCCESS);
  ASSERT_EQ(Create(shelf.get(), "B", &other), ERROR_SUCCESS);
  ASSERT_EQ(SetText(shelf.get(), "ValueName", "12345678"), ERROR_SUCCESS);
  ASSERT_EQ(SetBytes(shelf.get(), "V", REG_BINARY, "ab"), ERROR_SUCCESS);
  char class_name[16];
  DWORD class_count = sizeof class_name;
  DWORD subkeys = 0, max_subkey = 0, max_class = 0, values = 0, max_name = 0, max_data = 0;
  FILETIME written{};
  ASSERT_EQ(RegQueryInfoKeyA(shelf.get(), class_name, &class_count, nullptr, &subkeys, &max_subkey,
                             &max_class, &values, &max_name, &max_data, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_STREQ(class_name, "Shelf");
  EXPECT_EQ(
      (std::vector<DWORD>{class_count, subkeys, max_subkey, max_class, values, max_name, max_data}),
      (std::vector<DWORD>{5, 2, 9, 11, 2, 9, 18}));
  EXPECT_NE(written.dwHighDateTime, 0u);
  class_count = 5;  // no room for the NUL: what fits, terminated
  EXPECT_EQ(RegQueryInfoKeyA(shelf.get(), class_name, &class_count, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(class_count, 4u);
  EXPECT_STREQ(class_name, "Shel");
}

TEST_F(RegistryContract, DeletionAndDeletedKeys) {
  for (const char* path : {"Tree\\A\\A1", "Tree\\A\\A2\\Deep", "Tree\\B", "Other"}) {
    ScopedKey key;
    ASSERT_EQ(Create(base(), path, &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key.get(), "v", path), ERROR_SUCCESS);
  }
  ScopedKey tree;
  ASSERT_EQ(Open(base(), "Tree", &tree), ERROR_SUCCESS);
  std::tuple<const char*, std::function<LONG()>, LONG> steps[] = {
      {"key with subkeys", [&] { return RegDeleteKeyA(base(), "Tree\\A"); }, ERROR_ACCESS_DENIED},
      {"missing key", [&] { return RegDeleteKeyA(base(), "Tree\\Z"); }, ERROR_FILE_NOT_FOUND},
      {"null subkey", [&] { return RegDeleteKeyA(base(), nullptr); }, ERROR_INVALID_PARAMETER},
      {"leaf with values", [&] { return RegDeleteKeyA(base(), "tree\\a\\A1\\"); }, ERROR_SUCCESS},
      {"a tree", [&] { return RegDeleteTreeA(tree.get(), "A"); }, ERROR_SUCCESS},
      {"missing tree", [&] { return RegDeleteTreeA(tree.get(), "A"); }, ERROR_FILE_NOT_FOUND},
      {"missing value", [&] { return RegDeleteValueA(tree.get(), "w"); }, ERROR_FILE_NOT_FOUND},
  };
  for (const auto& [what, call, result] : steps) EXPECT_EQ(call(), result) << what;
  EXPECT_EQ(SubkeyNames(tree.get()), Names{"B"});

  for (const char* no_subkey : {static_cast<const char*>(nullptr), ""}) {
    ScopedKey below;
    ASSERT_EQ(Create(tree.get(), "B\\C", &below), ERROR_SUCCESS);
    ASSERT_EQ(SetText(tree.get(), "own", "x"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(tree.get(), no_subkey), ERROR_SUCCESS);
    EXPECT_TRUE(SubkeyNames(tree.get()).empty()) << "no subkey: empties the key";
    EXPECT_TRUE(ValueNames(tree.get()).empty());
    EXPECT_EQ(SubkeyNames(base()), (Names{"Other", "Tree"})) << "and keeps it";
  }
  EXPECT_EQ(RegDeleteKeyA(tree.get(), ""), ERROR_SUCCESS) << "\"\" deletes the key itself";
  EXPECT_EQ(SubkeyNames(base()), Names{"Other"});

  // Every call on a deleted key answers ERROR_KEY_DELETED, whether the key went alone or with its
  // tree; a key made later under the same name is another key.
  for (bool alone : {true, false}) {
    SCOPED_TRACE(alone ? "alone" : "with its tree");
    ScopedKey stale;
    ASSERT_EQ(Create(base(), "Gone\\Stale", &stale), ERROR_SUCCESS);
    ASSERT_EQ(SetText(stale.get(), "v", "x"), ERROR_SUCCESS);
    ASSERT_EQ(alone ? RegDeleteKeyA(base(), "Gone\\Stale") : RegDeleteTreeA(base(), "Gone"),
              ERROR_SUCCESS);
    ScopedKey successor;
    ASSERT_EQ(Create(base(), "Gone\\Stale", &successor), ERROR_SUCCESS);
    ASSERT_EQ(SetText(successor.get(), "v", "new"), ERROR_SUCCESS);

    HKEY key = stale.get();
    char name[16];
    DWORD count = sizeof name;
    ScopedKey out;
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &count), ERROR_KEY_DELETED);
    EXPECT_EQ(SetText(key, "v", "y"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumValueA(key, 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(Open(key, "", &out), ERROR_KEY_DELETED);
    EXPECT_EQ(Create(key, "x", &out), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(key, ""), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteTreeA(key, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegFlushKey(key), ERROR_KEY_DELETED);
    EXPECT_EQ(ReadBytes(successor.get(), "v"), "new\0"s);
    EXPECT_EQ(RegCloseKey(stale.Release()), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeA(base(), "Gone"), ERROR_SUCCESS);
  }
}

TEST_F(RegistryContract, HandleRightsAreEnforced) {
  ASSERT_EQ(SetText(base(), "v", "x"), ERROR_SUCCESS);
  std::tuple<REGSAM, bool, bool, bool> cases[] = {
      {KEY_READ, true, false, true},         {KEY_WRITE, false, true, false},
      {KEY_QUERY_VALUE, true, false, false}, {GENERIC_READ, true, false, true},
      {MAXIMUM_ALLOWED, true, true, true},   {0, false, false, false},
  };
  auto expect = [](bool allowed) { return allowed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED; };
  for (const auto& [access, query, set, enumerate] : cases) {
    SCOPED_TRACE(access);
    ScopedKey key;
    ASSERT_EQ(Open(base(), "", &key, access), ERROR_SUCCESS);
    char name[8];
    DWORD count = sizeof name;
    EXPECT_EQ(RegQueryValueExA(key.get(), "v", nullptr, nullptr, nullptr, nullptr), expect(query));
    EXPECT_EQ(SetText(key.get(), "w", "y"), expect(set));
    EXPECT_EQ(RegEnumKeyExA(key.get(), 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              enumerate ? ERROR_NO_MORE_ITEMS : ERROR_ACCESS_DENIED);
    ScopedKey below;
    EXPECT_EQ(Create(key.get(), "Sub", &below, nullptr, KEY_READ), ERROR_SUCCESS)
        << "working below a handle needs no right on it";
    RegDeleteKeyA(base(), "Sub");
  }
}

}  // namespace
}  // namespace opossvc::registry_test
