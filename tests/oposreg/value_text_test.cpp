#include "tools/oposreg/value_text.h"

#include <string>

#include <gtest/gtest.h>

#include <opossvc/win32/registry.h>

#include "tools/oposreg/command_line.h"
#include "tools/oposreg/json_writer.h"
#include "tools/oposreg/key_path.h"

namespace opossvc::oposreg {
namespace {

using std::string_literals::operator""s;

TEST(ValueText, ParseTypedData) {
  struct Case {
    const char* type;
    const char* data;
    bool ok;
    DWORD parsed_type;
    std::string bytes;
  };
  const Case cases[] = {
      {"REG_SZ", "COM3", true, REG_SZ, "COM3\0"s},
      {"REG_DWORD", "10", true, REG_DWORD, "\x0a\0\0\0"s},
      {"dword", "0x80000001", true, REG_DWORD, "\x01\0\0\x80"s},
      {"dword", "-1", true, REG_DWORD, "\xff\xff\xff\xff"s},
      {"dword", "4294967296", false, 0, ""},
      {"dword", "-2147483649", false, 0, ""},
      {"dword", "12abc", false, 0, ""},
      {"dword", "010", true, REG_DWORD, "\x0a\0\0\0"s},
      {"dword", "0x", false, 0, ""},
      {"dword", "", false, 0, ""},
      {"REG_BINARY", "01,2,ff", true, REG_BINARY, "\x01\x02\xff"s},
      {"binary", "", true, REG_BINARY, ""},
      {"hex", "01,,02", false, 0, ""},
      {"hex", "0g", false, 0, ""},
      {"REG_QWORD", "1", false, 0, ""},
  };
  for (const Case& c : cases) {
    RegValue value;
    std::string error;
    ASSERT_EQ(ParseTypedData(c.type, c.data, &value, &error), c.ok) << c.type << " " << c.data;
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(value.type, c.parsed_type) << c.data;
    EXPECT_EQ(value.data, c.bytes) << c.data;
  }
}

TEST(ValueText, ShowsDataAsUsersReadIt) {
  EXPECT_EQ(DataText({"", REG_SZ, "abc\0junk"s}), "abc");
  EXPECT_EQ(DataText({"", REG_DWORD, "\xff\xff\xff\xff"s}), "4294967295");
  EXPECT_EQ(DataText({"", REG_BINARY, "\x00\x0a"s}), "00,0a");
  EXPECT_EQ(ValueLine({"", REG_DWORD, "\x06\0\0\0"s}), "@ = REG_DWORD 6 (0x00000006)");
  EXPECT_EQ(ValueLine({"a\nb\x1b[2J\x7f", REG_SZ, "x\ty\0"s}),
            "a\\nb\\x1b[2J\\x7f = REG_SZ \"x\\ty\"");
}

TEST(ValueText, JsonEscapesWhatNoStringMayHold) {
  JsonWriter json;
  json.BeginObject();
  json.Key("q\"b\\n\n\x01\xc3\xa9\xff");
  json.BeginArray();
  WriteValueJson({"", REG_DWORD, "\xff\xff\xff\xff"s}, &json);
  json.Bool(true);
  json.Null();
  json.EndArray();
  json.Member("k", "");
  json.EndObject();
  EXPECT_EQ(json.Text(),
            "{\"q\\\"b\\\\n\\n\\u0001\\u00e9\\ufffd\":"
            "[{\"name\":\"\",\"type\":\"REG_DWORD\",\"data\":4294967295},true,null],"
            "\"k\":\"\"}\n");
}

TEST(KeyPathText, ParseKeyPath) {
  struct Case {
    const char* text;
    bool ok;
    HKEY root;
    const char* sub_key;
  };
  const Case cases[] = {
      {"HKLM\\SOFTWARE\\OLEforRetail", true, HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail"},
      {"hkey_local_machine\\A\\", true, HKEY_LOCAL_MACHINE, "A"},
      {"HKLM", true, HKEY_LOCAL_MACHINE, ""},
      {"SOFTWARE\\OLEforRetail", false, nullptr, ""},
      {"HKLM\\A\\\\B", false, nullptr, ""},
      {"", false, nullptr, ""},
  };
  for (const Case& c : cases) {
    KeyPath path;
    std::string error;
    ASSERT_EQ(ParseKeyPath(c.text, &path, &error), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(path.root, c.root) << c.text;
    EXPECT_EQ(path.sub_key, c.sub_key) << c.text;
  }
}

TEST(CommandLineParsing, OptionsAnywhereAndNegativeNumbersAsData) {
  const char* argv[] = {"oposreg", "set", "--root", "/r", "HKLM\\K", "V", "dword", "-1", "--write"};
  Invocation invocation;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(9, argv, &invocation, &error)) << error;
  EXPECT_EQ(invocation.command, "set");
  EXPECT_EQ(invocation.root, "/r");
  EXPECT_TRUE(invocation.write);
  EXPECT_EQ(invocation.args, (std::vector<std::string>{"HKLM\\K", "V", "dword", "-1"}));

  const char* missing[] = {"oposreg", "tree", "--root"};
  EXPECT_FALSE(ParseCommandLine(3, missing, &invocation, &error));
  const char* unknown[] = {"oposreg", "tree", "--frobnicate"};
  EXPECT_FALSE(ParseCommandLine(3, unknown, &invocation, &error));
  const char* empty_remove[] = {"oposreg", "ports", "--remove="};
  EXPECT_FALSE(ParseCommandLine(3, empty_remove, &invocation, &error));
}

TEST(CommandLineParsing, EachCommandTakesOnlyItsOptions) {
  struct Case {
    std::vector<const char*> argv;
    bool fits;
  };
  const Case cases[] = {
      {{"oposreg", "ports", "--remove=COM3", "--json"}, true},
      {{"oposreg", "ports", "--remove", "COM3", "--write"}, false},
      {{"oposreg", "export", "-f", "out.reg"}, true},
      {{"oposreg", "tree", "--force"}, false},
      {{"oposreg", "delete", "-y", "HKLM\\K"}, true},
      {{"oposreg", "set", "--json", "HKLM\\K", "V", "sz", "x"}, false},
      {{"oposreg", "check", "--json", "Scanner", "S1"}, true},
      {{"oposreg", "get", "--dev", "/tmp", "HKLM\\K"}, false},
  };
  for (const Case& c : cases) {
    Invocation invocation;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(static_cast<int>(c.argv.size()), c.argv.data(), &invocation,
                                 &error))
        << c.argv[1] << " " << c.argv[2];
    EXPECT_EQ(OptionsFit(invocation, &error), c.fits) << c.argv[1] << " " << c.argv[2];
  }
}

}  // namespace
}  // namespace opossvc::oposreg
