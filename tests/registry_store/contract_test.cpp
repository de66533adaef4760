// The Win32 contract of the Reg* subset. Uses nothing but the Reg* calls and
// a private store, so that it can run against any registry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/win32/registry.h>

#include "tests/registry_store/registry_test_support.h"

namespace opossvc::registry_test {
namespace {

using std::string_literals::operator""s;

class RegistryContract : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Contract", &base_), ERROR_SUCCESS);
  }

  HKEY base() const { return base_.get(); }

  opossvc::testing::TempRegistry registry_;
  ScopedKey base_;
};

TEST_F(RegistryContract, PathSyntax) {
  ScopedKey made;
  ASSERT_EQ(Create(base(), "Alpha\\Beta", &made), ERROR_SUCCESS);
  struct Case {
    const char* path;
    LONG open;
  } cases[] = {
      {"Alpha\\Beta", ERROR_SUCCESS},
      {"Alpha\\Beta\\", ERROR_SUCCESS},     // trailing backslashes are ignored
      {"Alpha\\Beta\\\\\\", ERROR_SUCCESS},
      {"Alpha\\\\Beta", ERROR_SUCCESS},     // a run of backslashes separates once
      {"ALPHA\\beta", ERROR_SUCCESS},       // names ignore letter case
      {"\\Alpha\\Beta", ERROR_BAD_PATHNAME},
      {"\\", ERROR_BAD_PATHNAME},
      {"Alpha\\Gamma", ERROR_FILE_NOT_FOUND},
      {"Alph", ERROR_FILE_NOT_FOUND},
      {"Alpha/Beta", ERROR_FILE_NOT_FOUND},  // a slash is part of a name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    HKEY opened = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExA(base(), c.path, 0, KEY_READ, &opened), c.open);
    if (c.open == ERROR_SUCCESS) {
      EXPECT_NE(opened, nullptr);
      RegCloseKey(opened);
    } else {
      EXPECT_EQ(opened, nullptr) << "a failed open leaves a null handle";
    }
  }
  ScopedKey bad;
  EXPECT_EQ(Create(base(), "\\Leading", &bad), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegDeleteKeyA(base(), "\\Alpha"), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegDeleteTreeA(base(), "\\Alpha"), ERROR_BAD_PATHNAME);
}

TEST_F(RegistryContract, CreateDispositionAndIntermediateKeys) {
  struct Step {
    const char* path;
    DWORD disposition;
  } steps[] = {
      {"One\\Two\\Three", REG_CREATED_NEW_KEY},  // makes One and Two on the way
      {"One\\Two\\Three", REG_OPENED_EXISTING_KEY},
      {"one\\TWO", REG_OPENED_EXISTING_KEY},
      {"One\\Two\\Four\\", REG_CREATED_NEW_KEY},
      {"", REG_OPENED_EXISTING_KEY},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.path);
    ScopedKey key;
    DWORD disposition = 0;
    ASSERT_EQ(Create(base(), step.path, &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, step.disposition);
  }
  ScopedKey two;
  ASSERT_EQ(Open(base(), "One\\Two", &two), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(two.get()), (std::vector<std::string>{"Four", "Three"}));
}

TEST_F(RegistryContract, NullOrEmptySubkeyOpensANewHandleToTheSameKey) {
  for (const char* path : {static_cast<const char*>(nullptr), ""}) {
    SCOPED_TRACE(path == nullptr ? "null" : "empty");
    ScopedKey again;
    ASSERT_EQ(Open(base(), path, &again), ERROR_SUCCESS);
    EXPECT_NE(again.get(), base());
    ASSERT_EQ(SetText(again.get(), "Seen", "yes"), ERROR_SUCCESS);
    EXPECT_EQ(ReadBytes(base(), "Seen"), "yes\0"s);
    again.Reset();
    EXPECT_EQ(ReadBytes(base(), "Seen"), "yes\0"s) << "closing one handle leaves the other";
  }
  ScopedKey root;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, nullptr, &root), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(root.get()), std::vector<std::string>{"SOFTWARE"});
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), std::vector<std::string>{"SOFTWARE"})
      << "closing a root changes nothing";
}

TEST_F(RegistryContract, BogusHandles) {
  HKEY closed = nullptr;
  ASSERT_EQ(RegOpenKeyExA(base(), nullptr, 0, KEY_READ, &closed), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  const HKEY bogus[] = {
      nullptr,
      closed,
      reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)),
      reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000004u)),  // no such root here
      reinterpret_cast<HKEY>(&closed),
  };
  for (HKEY key : bogus) {
    SCOPED_TRACE(reinterpret_cast<ULONG_PTR>(key));
    ScopedKey out;
    DWORD size = 4;
    char name[4];
    BYTE data[4];
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Open(key, "x", &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Create(key, "x", &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(key, "x", nullptr, nullptr, data, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetText(key, "x", "y"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteKeyA(key, "x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueA(key, "x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteTreeA(key, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegFlushKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
  }
}

TEST_F(RegistryContract, NameLengthLimits) {
  const std::string key255(255, 'k');
  const std::string key256(256, 'k');
  ScopedKey key;
  EXPECT_EQ(Create(base(), key255.c_str(), &key), ERROR_SUCCESS);
  EXPECT_EQ(Create(base(), (key256 + "\\below").c_str(), &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(base(), key256.c_str(), &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SubkeyNames(base()), std::vector<std::string>{key255});

  const std::string value16383(16383, 'v');
  const std::string value16384(16384, 'v');
  EXPECT_EQ(SetText(base(), value16383.c_str(), "ok"), ERROR_SUCCESS);
  EXPECT_EQ(SetText(base(), value16384.c_str(), "no"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ReadBytes(base(), value16384.c_str()), std::nullopt);
  EXPECT_EQ(ValueNames(base()), std::vector<std::string>{value16383});
}

TEST_F(RegistryContract, NamesKeepTheirFirstLetterCase) {
  ScopedKey key;
  ASSERT_EQ(Create(base(), "MixedCase", &key), ERROR_SUCCESS);
  ScopedKey again;
  ASSERT_EQ(Create(base(), "MIXEDCASE", &again), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(base()), std::vector<std::string>{"MixedCase"});

  ASSERT_EQ(SetText(key.get(), "First", "1"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key.get(), "Second", "2"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(again.get(), "FIRST", "one"), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key.get()), (std::vector<std::string>{"First", "Second"}))
      << "overwriting keeps the name's case and its place";
  EXPECT_EQ(ReadBytes(key.get(), "first"), "one\0"s);
}

TEST_F(RegistryContract, ListingOrder) {
  // Subkeys in case-insensitive order, upper-case based as on Windows
  // ('_' sorts after the letters); values in order of creation.
  for (const char* name : {"b", "_x", "C", "a1", "A"}) {
    ScopedKey key;
    ASSERT_EQ(Create(base(), name, &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(base(), name, name), ERROR_SUCCESS);
  }
  EXPECT_EQ(SubkeyNames(base()), (std::vector<std::string>{"A", "a1", "b", "C", "_x"}));
  EXPECT_EQ(ValueNames(base()), (std::vector<std::string>{"b", "_x", "C", "a1", "A"}));

  ASSERT_EQ(RegDeleteValueA(base(), "_X"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(base(), "_x", "again"), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(base()), (std::vector<std::string>{"b", "C", "a1", "A", "_x"}))
      << "a value deleted and set again comes last";
}

TEST_F(RegistryContract, QueryValueBuffers) {
  constexpr DWORD kSentinel = 0xBD;
  struct Case {
    const char* what;
    DWORD type;
    std::string stored;
    DWORD buffer;
    LONG result;
    DWORD size;           // reported
    std::string written;  // bytes expected at the start of the buffer
  } cases[] = {
      {"string fits", REG_SZ, "abc\0"s, 4, ERROR_SUCCESS, 4, "abc\0"s},
      {"string one short", REG_SZ, "abc\0"s, 3, ERROR_MORE_DATA, 4, ""},
      {"unterminated, exact", REG_SZ, "abc", 3, ERROR_SUCCESS, 3, "abc\xBD"},
      {"unterminated, room", REG_SZ, "abc", 4, ERROR_SUCCESS, 3, "abc\0"s},
      {"unterminated, ample", REG_EXPAND_SZ, "abc", 9, ERROR_SUCCESS, 3, "abc\0\xBD"s},
      {"multi-string without final NUL", REG_MULTI_SZ, "a\0b\0"s, 5, ERROR_SUCCESS, 4,
       "a\0b\0\0\xBD"s},
      {"multi-string without any NUL", REG_MULTI_SZ, "a\0b"s, 9, ERROR_SUCCESS, 3,
       "a\0b\0\0\xBD"s},
      {"multi-string, room for one", REG_MULTI_SZ, "a\0b"s, 4, ERROR_SUCCESS, 3, "a\0b\0"s},
      {"multi-string complete", REG_MULTI_SZ, "a\0\0"s, 9, ERROR_SUCCESS, 3, "a\0\0\xBD"s},
      {"empty string", REG_SZ, "", 2, ERROR_SUCCESS, 0, "\0\xBD"s},
      {"binary gets no NUL", REG_BINARY, "abc", 9, ERROR_SUCCESS, 3, "abc\xBD"},
      {"binary too small", REG_BINARY, "abcdef", 5, ERROR_MORE_DATA, 6, ""},
      {"dword", REG_DWORD, "\x01\x02\x03\x04", 4, ERROR_SUCCESS, 4, "\x01\x02\x03\x04"},
      {"odd type", 0x12345, "zz", 2, ERROR_SUCCESS, 2, "zz"},
      {"empty binary, no room", REG_BINARY, "", 0, ERROR_SUCCESS, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(SetBytes(base(), "v", c.type, c.stored), ERROR_SUCCESS);

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(base(), "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, c.stored.size()) << "null data asks for the size";
    EXPECT_EQ(type, c.type);

    std::vector<BYTE> buffer(c.buffer + 8, kSentinel);
    size = c.buffer;
    type = 0;
    EXPECT_EQ(RegQueryValueExA(base(), "v", nullptr, &type, buffer.data(), &size), c.result);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + c.written.size()), c.written);
  }
}

TEST_F(RegistryContract, QueryValueArguments) {
  ASSERT_EQ(SetText(base(), "", "default"), ERROR_SUCCESS);
  BYTE data[16];
  DWORD size = sizeof data;
  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExA(base(), nullptr, nullptr, nullptr, data, &size), ERROR_SUCCESS)
      << "a null name is the default value";
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "default\0"s);
  EXPECT_EQ(RegQueryValueExA(base(), "", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(base(), "", nullptr, nullptr, data, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(base(), "", &reserved, nullptr, nullptr, &size),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(base(), "missing", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(base(), "missing", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryContract, SetValueArguments) {
  EXPECT_EQ(RegSetValueExA(base(), "v", 0, REG_BINARY, nullptr, 1), ERROR_NOACCESS);
  EXPECT_EQ(ReadBytes(base(), "v"), std::nullopt);
  EXPECT_EQ(RegSetValueExA(base(), "v", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(ReadBytes(base(), "v", &type), "");
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  const std::string big(3 << 20, 'x');
  EXPECT_EQ(SetBytes(base(), "big", REG_BINARY, big), ERROR_SUCCESS);
  EXPECT_EQ(ReadBytes(base(), "big"), big);
}

TEST_F(RegistryContract, EnumKeyNameBuffers) {
  ScopedKey key;
  ASSERT_EQ(Create(base(), "Name5", &key, nullptr), ERROR_SUCCESS);
  struct Case {
    DWORD count;
    LONG result;
    DWORD count_after;
  } cases[] = {
      {6, ERROR_SUCCESS, 5},
      {100, ERROR_SUCCESS, 5},
      {5, ERROR_MORE_DATA, 5},  // no room for the terminator
      {1, ERROR_MORE_DATA, 1},
      {0, ERROR_MORE_DATA, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    char name[128];
    std::memset(name, 'z', sizeof name);
    DWORD count = c.count;
    EXPECT_EQ(RegEnumKeyExA(base(), 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              c.result);
    EXPECT_EQ(count, c.count_after);
    if (c.result == ERROR_SUCCESS) {
      EXPECT_STREQ(name, "Name5");
    }
  }
  char name[16];
  DWORD count = sizeof name;
  DWORD reserved = 0;
  EXPECT_EQ(RegEnumKeyExA(base(), 1, name, &count, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumKeyExA(base(), 0, nullptr, &count, nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegEnumKeyExA(base(), 0, name, &count, &reserved, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryContract, EnumKeyClassAndTime) {
  HKEY raw = nullptr;
  char klass[] = "Shelf";
  ASSERT_EQ(RegCreateKeyExA(base(), "Classy", 0, klass, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(raw);
  char name[16];
  char class_name[16];
  DWORD count = sizeof name;
  DWORD class_count = sizeof class_name;
  FILETIME written{};
  ASSERT_EQ(RegEnumKeyExA(base(), 0, name, &count, nullptr, class_name, &class_count, &written),
            ERROR_SUCCESS);
  EXPECT_STREQ(class_name, "Shelf");
  EXPECT_EQ(class_count, 5u);
  EXPECT_NE(written.dwHighDateTime, 0u);
  count = sizeof name;
  class_count = 5;
  EXPECT_EQ(RegEnumKeyExA(base(), 0, name, &count, nullptr, class_name, &class_count, nullptr),
            ERROR_MORE_DATA);
}

TEST_F(RegistryContract, EnumValueBuffers) {
  ASSERT_EQ(SetText(base(), "Test", "foobar"), ERROR_SUCCESS);  // 4-char name, 7 data bytes
  struct Case {
    const char* what;
    DWORD name_count;
    DWORD data_count;
    bool with_data;
    LONG result;
    DWORD name_after;
    DWORD data_after;
  } cases[] = {
      {"all fits", 20, 20, true, ERROR_SUCCESS, 4, 7},
      {"name without room for NUL", 4, 20, true, ERROR_MORE_DATA, 4, 7},
      {"empty name buffer", 0, 20, true, ERROR_MORE_DATA, 0, 7},
      {"data too small", 20, 6, true, ERROR_MORE_DATA, 20, 7},
      {"no data buffer: size only", 20, 0, false, ERROR_SUCCESS, 4, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    char name[32];
    BYTE data[32];
    std::memset(data, 'x', sizeof data);
    DWORD name_count = c.name_count;
    DWORD data_count = c.data_count;
    DWORD type = 1234;
    EXPECT_EQ(RegEnumValueA(base(), 0, name, &name_count, nullptr, &type,
                            c.with_data ? data : nullptr, &data_count),
              c.result);
    EXPECT_EQ(name_count, c.name_after);
    EXPECT_EQ(data_count, c.data_after);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    if (c.result == ERROR_SUCCESS) {
      EXPECT_STREQ(name, "Test");
      if (c.with_data) {
        EXPECT_STREQ(reinterpret_cast<char*>(data), "foobar");
      }
    } else {
      EXPECT_EQ(data[0], 'x') << "nothing is copied when a buffer is too small";
    }
  }
  char name[8];
  DWORD count = sizeof name;
  BYTE data[8];
  EXPECT_EQ(RegEnumValueA(base(), 1, name, &count, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumValueA(base(), 0, name, &count, nullptr, nullptr, data, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryContract, DeleteKeyRules) {
  ScopedKey key;
  ASSERT_EQ(Create(base(), "Parent\\Child", &key), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key.get(), "v", "x"), ERROR_SUCCESS);
  struct Step {
    const char* path;
    LONG result;
  } steps[] = {
      {"Parent", ERROR_ACCESS_DENIED},  // still has a subkey
      {"Missing", ERROR_FILE_NOT_FOUND},
      {"Parent\\Missing", ERROR_FILE_NOT_FOUND},
      {"parent\\CHILD", ERROR_SUCCESS},  // with its values
      {"Parent\\Child", ERROR_FILE_NOT_FOUND},
      {"Parent\\", ERROR_SUCCESS},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.path);
    EXPECT_EQ(RegDeleteKeyA(base(), step.path), step.result);
  }
  EXPECT_TRUE(SubkeyNames(base()).empty());
  EXPECT_EQ(RegDeleteKeyA(base(), nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED) << "roots stay";

  ASSERT_EQ(Create(base(), "Self", &key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(key.get(), ""), ERROR_SUCCESS) << "an empty path deletes the key itself";
  EXPECT_TRUE(SubkeyNames(base()).empty());
}

TEST_F(RegistryContract, DeleteValueRules) {
  ASSERT_EQ(SetText(base(), "", "default"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(base(), "Named", "x"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(base(), "NAMED"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(base(), "Named"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(base(), nullptr), ERROR_SUCCESS) << "null names the default value";
  EXPECT_TRUE(ValueNames(base()).empty());
}

TEST_F(RegistryContract, DeleteTree) {
  for (const char* path : {"T\\A\\A1", "T\\A\\A2\\Deep", "T\\B", "Other"}) {
    ScopedKey key;
    ASSERT_EQ(Create(base(), path, &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key.get(), "v", path), ERROR_SUCCESS);
  }
  ScopedKey t;
  ASSERT_EQ(Open(base(), "T", &t), ERROR_SUCCESS);
  ASSERT_EQ(SetText(t.get(), "own", "x"), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteTreeA(t.get(), "A"), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(t.get()), std::vector<std::string>{"B"});
  EXPECT_EQ(RegDeleteTreeA(t.get(), "A"), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegDeleteTreeA(t.get(), nullptr), ERROR_SUCCESS)
      << "without a subkey: everything below and the values go, the key stays";
  EXPECT_TRUE(SubkeyNames(t.get()).empty());
  EXPECT_TRUE(ValueNames(t.get()).empty());
  EXPECT_EQ(SubkeyNames(base()), (std::vector<std::string>{"Other", "T"}));

  EXPECT_EQ(RegDeleteTreeA(base(), "T"), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(base()), std::vector<std::string>{"Other"});
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SubkeyNames(base()), std::vector<std::string>{"Other"}) << "nothing went";
}

TEST_F(RegistryContract, EveryCallOnADeletedKeyAnswersKeyDeleted) {
  enum Way { kDeleteKey, kDeleteTree, kDeleteParentTree };
  for (Way way : {kDeleteKey, kDeleteTree, kDeleteParentTree}) {
    SCOPED_TRACE(way);
    ScopedKey stale;
    ASSERT_EQ(Create(base(), "Gone\\Stale", &stale), ERROR_SUCCESS);
    ASSERT_EQ(SetText(stale.get(), "v", "x"), ERROR_SUCCESS);
    switch (way) {
      case kDeleteKey:
        ASSERT_EQ(RegDeleteKeyA(base(), "Gone\\Stale"), ERROR_SUCCESS);
        break;
      case kDeleteTree:
        ASSERT_EQ(RegDeleteTreeA(base(), "Gone\\Stale"), ERROR_SUCCESS);
        break;
      case kDeleteParentTree:
        ASSERT_EQ(RegDeleteTreeA(base(), "Gone"), ERROR_SUCCESS);
        break;
    }
    // A new key of the same name is another key.
    ScopedKey successor;
    ASSERT_EQ(Create(base(), "Gone\\Stale", &successor), ERROR_SUCCESS);
    ASSERT_EQ(SetText(successor.get(), "v", "new"), ERROR_SUCCESS);

    HKEY key = stale.get();
    char name[16];
    DWORD count = sizeof name;
    BYTE data[16];
    DWORD size = sizeof data;
    ScopedKey out;
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, data, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryValueExA(key, "none", nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
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
    EXPECT_EQ(Open(key, "x", &out), ERROR_KEY_DELETED);
    EXPECT_EQ(Create(key, "x", &out), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(key, ""), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(key, "x"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteTreeA(key, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegFlushKey(key), ERROR_KEY_DELETED);
    EXPECT_EQ(ReadBytes(successor.get(), "v"), "new\0"s);
    EXPECT_EQ(RegCloseKey(stale.Release()), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeA(base(), "Gone"), ERROR_SUCCESS);
  }
}

TEST_F(RegistryContract, HandleRightsAreEnforced) {
  ASSERT_EQ(SetText(base(), "v", "x"), ERROR_SUCCESS);
  ScopedKey sub;
  ASSERT_EQ(Create(base(), "Sub", &sub), ERROR_SUCCESS);
  struct Case {
    REGSAM access;
    bool query, set, enumerate;
  } cases[] = {
      {KEY_READ, true, false, true},
      {KEY_WRITE, false, true, false},
      {KEY_QUERY_VALUE, true, false, false},
      {KEY_ENUMERATE_SUB_KEYS, false, false, true},
      {GENERIC_READ, true, false, true},
      {GENERIC_ALL, true, true, true},
      {MAXIMUM_ALLOWED, true, true, true},
      {0, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.access);
    ScopedKey key;
    ASSERT_EQ(Open(base(), "", &key, c.access), ERROR_SUCCESS);
    DWORD size = 0;
    char name[8];
    DWORD count = sizeof name;
    auto expect = [](bool allowed) { return allowed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED; };
    EXPECT_EQ(RegQueryValueExA(key.get(), "v", nullptr, nullptr, nullptr, &size),
              expect(c.query));
    EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              expect(c.query));
    EXPECT_EQ(SetText(key.get(), "w", "y"), expect(c.set));
    EXPECT_EQ(RegDeleteValueA(key.get(), "w"), expect(c.set));
    count = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key.get(), 0, name, &count, nullptr, nullptr, nullptr, nullptr),
              expect(c.enumerate));
    ScopedKey below;
    EXPECT_EQ(Open(key.get(), "Sub", &below, KEY_READ), ERROR_SUCCESS)
        << "opening below a handle needs no right on it";
  }
}

TEST_F(RegistryContract, QueryInfoKey) {
  HKEY raw = nullptr;
  char klass[] = "Klass";
  ASSERT_EQ(RegCreateKeyExA(base(), "Info", 0, klass, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  ScopedKey info;
  *info.out() = raw;
  char child_class[] = "LongerClass";
  ASSERT_EQ(RegCreateKeyExA(info.get(), "ChildName", 0, child_class, 0, KEY_ALL_ACCESS, nullptr,
                            &raw, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(raw);
  ScopedKey other;
  ASSERT_EQ(Create(info.get(), "B", &other), ERROR_SUCCESS);
  ASSERT_EQ(SetText(info.get(), "ValueName", "12345678"), ERROR_SUCCESS);
  ASSERT_EQ(SetBytes(info.get(), "V", REG_BINARY, "ab"), ERROR_SUCCESS);

  char class_name[16];
  DWORD class_count = sizeof class_name;
  DWORD subkeys = 0, max_subkey = 0, max_class = 0, values = 0, max_name = 0, max_data = 0;
  FILETIME written{};
  ASSERT_EQ(RegQueryInfoKeyA(info.get(), class_name, &class_count, nullptr, &subkeys, &max_subkey,
                             &max_class, &values, &max_name, &max_data, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_STREQ(class_name, "Klass");
  EXPECT_EQ(class_count, 5u);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(max_subkey, 9u);  // "ChildName"
  EXPECT_EQ(max_class, 11u);  // "LongerClass"
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(max_name, 9u);  // "ValueName"
  EXPECT_EQ(max_data, 9u);  // "12345678" and its NUL
  EXPECT_NE(written.dwHighDateTime, 0u);

  class_count = 5;
  EXPECT_EQ(RegQueryInfoKeyA(info.get(), class_name, &class_count, nullptr, &subkeys, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(class_count, 5u);
  class_count = 0;
  EXPECT_EQ(RegQueryInfoKeyA(info.get(), nullptr, &class_count, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(class_count, 5u) << "no buffer: the length alone";
}

TEST_F(RegistryContract, WritesMoveTheLastWriteTime) {
  ScopedKey key;
  ASSERT_EQ(Create(base(), "Timed", &key), ERROR_SUCCESS);
  auto written = [&](HKEY k) {
    FILETIME time{};
    RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, &time);
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  uint64_t created = written(key.get());
  uint64_t parent_before = written(base());
  ASSERT_EQ(SetText(key.get(), "v", "x"), ERROR_SUCCESS);
  uint64_t after_value = written(key.get());
  EXPECT_GE(after_value, created);
  ScopedKey child;
  ASSERT_EQ(Create(key.get(), "Child", &child), ERROR_SUCCESS);
  EXPECT_GE(written(key.get()), after_value);
  EXPECT_EQ(written(base()), parent_before) << "only the changed key's time moves";
}

TEST_F(RegistryContract, FlushSucceedsOnEveryLiveKey) {
  ASSERT_EQ(SetText(base(), "v", "x"), ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(base()), ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(ReadBytes(base(), "v"), "x\0"s);
}

TEST_F(RegistryContract, RootsAreSeparate) {
  const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
  for (HKEY root : roots) {
    ScopedKey key;
    ASSERT_EQ(Create(root, "Shared", &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key.get(), "owner", std::to_string(reinterpret_cast<ULONG_PTR>(root))),
              ERROR_SUCCESS);
  }
  for (HKEY root : roots) {
    ScopedKey key;
    ASSERT_EQ(Open(root, "Shared", &key, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(ReadBytes(key.get(), "owner"),
              std::to_string(reinterpret_cast<ULONG_PTR>(root)) + '\0');
  }
}

}  // namespace
}  // namespace opossvc::registry_test
