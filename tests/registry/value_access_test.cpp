// Reading, writing, enumerating and deleting values; ReadRegValue.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>
#include <tuple>

#include "tests/registry/registry_fixture.h"

namespace opossvc::registry_info_test {
namespace {

using std::string_literals::operator""s;

class ValueAccess : public RegistryInfoTest {
 protected:
  static constexpr const char* kKey = "ServiceInfo\\Cfg";
  void SetUp() override { MakeKey(kKey); }
};

TEST_F(ValueAccess, ReadsByType) {
  // The value stored, the type ReadValue gives, and what reads as a string or as a number.
  const std::tuple<const char*, DWORD, std::string, DWORD, const char*, DWORD> cases[] = {
      {"sz", REG_SZ, "text\0"s, REG_SZ, "text", 0},
      {"sz without NUL", REG_SZ, "abc"s, REG_SZ, "abc", 0},
      {"sz with inner NUL", REG_SZ, "ab\0cd\0"s, REG_SZ, "ab", 0},
      {"empty sz", REG_SZ, ""s, REG_SZ, "", 0},
      {"dword", REG_DWORD, "\x78\x56\x34\x12"s, REG_DWORD, nullptr, 0x12345678},
      {"short dword", REG_DWORD, "\x34\x12"s, REG_DWORD, nullptr, 0x1234},
      {"long dword", REG_DWORD, "\x01\x00\x00\x00\xFF"s, REG_DWORD, nullptr, 1},
      {"binary", REG_BINARY, "\x01\x00\xFF"s, REG_BINARY, nullptr, 0},
      {"expand", REG_EXPAND_SZ, "%PATH%\0"s, 0, nullptr, 0},
  };
  for (const auto& [name, type, stored, read_type, as_text, as_number] : cases) {
    MakeValue(kKey, name, type, stored);
  }

  CRegistryInfo info("Cfg", KC_SERVICEINFO_SUBKEY, FALSE);
  for (const auto& [name, type, stored, read_type, as_text, as_number] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(info.ReadValue(KC_SERVICEINFO_SUBKEY, name), read_type);
    const bool sz = read_type == REG_SZ, dword = read_type == REG_DWORD,
               binary = read_type == REG_BINARY;
    // Each getter succeeds for its own type only, and empties its output.
    CString text = "stale";
    unsigned long number = 7;
    CByteArray bytes;
    bytes.SetSize(3);
    EXPECT_EQ(info.GetString(KC_SERVICEINFO_SUBKEY, name, text), int{sz});
    EXPECT_EQ(info.GetDWORD(KC_SERVICEINFO_SUBKEY, name, number), int{dword});
    EXPECT_EQ(info.GetBinary(KC_SERVICEINFO_SUBKEY, name, bytes), int{binary});
    EXPECT_STREQ(text, sz ? as_text : "");
    EXPECT_EQ(number, dword ? as_number : 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.GetData()),
                          static_cast<size_t>(bytes.GetSize())),
              binary ? stored : "");
  }
}

TEST_F(ValueAccess, WrittenBytes) {
  CRegistryInfo info("Cfg", KC_SERVICEINFO_SUBKEY, TRUE);
  unsigned char raw[] = {9, 8, 7};
  CByteArray empty;
  // The value, what the call returned, and what is stored (<none> when nothing may be) as what
  // type.
  const std::tuple<const char*, int, std::string, DWORD> cases[] = {
      {"text", info.SetString(KC_SERVICEINFO_SUBKEY, "text", "abc"), "abc\0"s, REG_SZ},
      {"null", info.SetString(KC_SERVICEINFO_SUBKEY, "null", nullptr), "\0"s, REG_SZ},
      {"dword", info.SetDWORD(KC_SERVICEINFO_SUBKEY, "dword", 0x01020304), "\4\3\2\1"s, REG_DWORD},
      {"wide dword", info.SetDWORD(KC_SERVICEINFO_SUBKEY, "wide dword", 0x100000005ul), "\5\0\0\0"s,
       REG_DWORD},
      {"raw", info.SetBinary(KC_SERVICEINFO_SUBKEY, "raw", raw, 3), "\t\b\a"s, REG_BINARY},
      {"raw empty", info.SetBinary(KC_SERVICEINFO_SUBKEY, "raw empty", nullptr, 0), ""s,
       REG_BINARY},
      {"array empty", info.SetBinary(KC_SERVICEINFO_SUBKEY, "array empty", empty), "<none>",
       REG_NONE},
      {"null data", info.SetValue(KC_SERVICEINFO_SUBKEY, "null data", REG_BINARY, nullptr, 4),
       "<none>", REG_NONE},
  };
  for (const auto& [name, result, bytes, stored_type] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(result, int{bytes != "<none>"});
    DWORD type = REG_NONE;
    auto stored = registry_.GetValue(HKEY_LOCAL_MACHINE, Opos(kKey), name, &type);
    EXPECT_EQ(stored.value_or("<none>"), bytes);
    if (stored) {
      EXPECT_EQ(type, stored_type);
    }
  }
  EXPECT_EQ(Access::Modified(info), TRUE);
}

TEST_F(ValueAccess, EnumValueWalksEveryValue) {
  const std::string long_name(300, 'n');
  MakeString(kKey, "first", "1");
  MakeValue(kKey, "multi", REG_MULTI_SZ, "a\0\0"s);
  MakeString(kKey, long_name, "long");
  MakeValue(kKey, "last", REG_DWORD, "\2\0\0\0"s);
  CRegistryInfo info("Cfg", KC_SERVICEINFO_SUBKEY, FALSE);
  // Values are listed in no defined order (Windows keeps none): compare sorted.
  std::vector<std::pair<unsigned long, std::string>> listed;
  unsigned int index = 0;
  for (; index < 4; ++index) {
    CString name = "stale";
    const unsigned long type = info.EnumValue(KC_SERVICEINFO_SUBKEY, index, name);
    listed.emplace_back(type, std::string(name));
  }
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (decltype(listed){
                        {0, ""}, {REG_SZ, "first"}, {REG_SZ, long_name}, {REG_DWORD, "last"}}));
  CString name = "untouched";
  EXPECT_EQ(info.EnumValue(KC_SERVICEINFO_SUBKEY, index, name), kReadFailed);
  EXPECT_EQ(info.EnumValue(KC_POSPRINTER, 0, name), kReadFailed);
  EXPECT_STREQ(name, "");
}

TEST_F(ValueAccess, DeleteValueOneOrAll) {
  CRegistryInfo info("Cfg", KC_SERVICEINFO_SUBKEY, TRUE);
  // No values at all: nothing failed.
  EXPECT_EQ(info.DeleteValue(KC_SERVICEINFO_SUBKEY, OPOSSVC_ALL_VALUES), TRUE);
  EXPECT_EQ(Access::Modified(info), TRUE);

  MakeString(kKey, "a", "1");
  MakeString(kKey, std::string(200, 'x'), "long name");
  MakeString(kKey, "z", "2");
  EXPECT_EQ(info.DeleteValue(KC_SERVICEINFO_SUBKEY, "a"), TRUE);
  EXPECT_EQ(info.DeleteValue(KC_SERVICEINFO_SUBKEY, "a"), FALSE);
  // A name longer than a short listing buffer must not end the deletion
  // early while reporting success.
  EXPECT_EQ(info.DeleteValue(KC_SERVICEINFO_SUBKEY, OPOSSVC_ALL_VALUES), TRUE);
  EXPECT_EQ(ValueOf(kKey, std::string(200, 'x')), "<none>");
  EXPECT_EQ(ValueOf(kKey, "z"), "<none>");
}

TEST_F(ValueAccess, ReadRegValueSizes) {
  const std::tuple<const char*, DWORD, std::string> cases[] = {
      {"sz", REG_SZ, "abc\0"s}, {"big", REG_BINARY, std::string(100000, '\x5A')}};
  for (const auto& [name, type, bytes] : cases) MakeValue(kKey, name, type, bytes);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, Opos(kKey).c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  for (const auto& [name, stored_type, bytes] : cases) {
    SCOPED_TRACE(name);
    unsigned long type = 0;
    unsigned long size = 12345;
    unsigned char* data = nullptr;
    ASSERT_EQ(ReadRegValue(key, name, &type, data, &size), TRUE);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(type, stored_type);
    ASSERT_EQ(size, bytes.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), bytes);
    ::operator delete(data);
  }
  // Failures leave no pointer behind: a missing value, then a closed handle.
  for (const char* name : {"missing", "sz"}) {
    unsigned long type = 0;
    unsigned char* data = reinterpret_cast<unsigned char*>(&type);
    EXPECT_EQ(ReadRegValue(key, name, &type, data, nullptr), FALSE) << name;
    EXPECT_EQ(data, nullptr);
    RegCloseKey(key);
  }
}

}  // namespace
}  // namespace opossvc::registry_info_test
