#include "tools/oposreg/value_text.h"

#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/testing/scoped_code_page.h>
#include <opossvc/win32/registry.h>

#include "tools/oposreg/command_line.h"
#include "tools/oposreg/json_writer.h"

namespace opossvc::oposreg {
namespace {

using std::string_literals::operator""s;

TEST(ValueText, ParseAndShowTypedData) {
  const std::tuple<const char*, const char*, bool, DWORD, std::string> cases[] = {
      {"REG_SZ", "COM3", true, REG_SZ, "COM3\0"s},
      {"dword", "0x80000001", true, REG_DWORD, "\x01\0\0\x80"s},
      {"dword", "-1", true, REG_DWORD, "\xff\xff\xff\xff"s},
      {"dword", "4294967296", false, 0, ""},
      {"dword", "12abc", false, 0, ""},
      {"dword", "010", true, REG_DWORD, "\x0a\0\0\0"s},
      {"dword", "0x", false, 0, ""},
      {"REG_BINARY", "01,2,ff", true, REG_BINARY, "\x01\x02\xff"s},
      {"binary", "", true, REG_BINARY, ""},
      {"hex", "01,,02", false, 0, ""},
      {"REG_QWORD", "1", false, 0, ""},
  };
  for (const auto& [type, data, ok, parsed_type, bytes] : cases) {
    RegValue value;
    std::string error;
    ASSERT_EQ(ParseTypedData(type, data, &value, &error), ok) << type << " " << data;
    if (!ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(value.type, parsed_type) << data;
    EXPECT_EQ(value.data, bytes) << data;
  }
  // Data as users read it.
  EXPECT_EQ(DataText({"", REG_SZ, "abc\0junk"s}), "abc");
  EXPECT_EQ(DataText({"", REG_DWORD, "\xff\xff\xff\xff"s}), "4294967295");
  EXPECT_EQ(DataText({"", REG_BINARY, "\x00\x0a"s}), "00,0a");
  EXPECT_EQ(ValueLine({"", REG_DWORD, "\x06\0\0\0"s}), "@ = REG_DWORD 6 (0x00000006)");
  EXPECT_EQ(ValueLine({"a\nb\x1b[2J\x7f", REG_SZ, "x\ty\0"s}),
            "a\\nb\\x1b[2J\\x7f = REG_SZ \"x\\ty\"");
}

TEST(ValueText, JsonEscapesWhatNoStringMayHold) {
  // Keys are in the ANSI code page; Windows fixes it for the whole system.
  testing::ScopedCodePage code_page(65001);
  const bool utf8 = code_page.applied();
  JsonWriter json;
  json.BeginObject();
  json.Key(std::string("q\"b\\n\n\x01") + (utf8 ? "\xc3\xa9\xff" : ""));
  json.BeginArray();
  WriteValueJson({"", REG_DWORD, "\xff\xff\xff\xff"s}, &json);
  json.Bool(true);
  json.Null();
  json.EndArray();
  json.Member("k", "");
  json.EndObject();
  EXPECT_EQ(json.Text(),
            std::string("{\"q\\\"b\\\\n\\n\\u0001") + (utf8 ? "\\u00e9\\ufffd" : "") +
                "\":[{\"name\":\"\",\"type\":\"REG_DWORD\",\"data\":4294967295},true,null],"
                "\"k\":\"\"}\n");
}

// Options stand anywhere, a negative number is data, and each command takes
// only its own options.
TEST(CommandLineParsing, OptionsAnywhereAndEachCommandOnlyItsOwn) {
  enum Outcome { kRefused, kNotItsOption, kFits };
  const std::pair<std::vector<const char*>, Outcome> cases[] = {
      {{"oposreg", "set", "HKLM\\K", "V", "dword", "-1", "--root", "/r"}, kFits},
      {{"oposreg", "tree", "--root"}, kRefused},
      {{"oposreg", "tree", "--frobnicate"}, kRefused},
      {{"oposreg", "ports", "--remove="}, kRefused},
      {{"oposreg", "ports", "--remove=COM3", "--json"}, kFits},
      {{"oposreg", "ports", "--remove", "COM3", "--write"}, kNotItsOption},
      {{"oposreg", "export", "-f", "out.reg"}, kFits},
      {{"oposreg", "tree", "--force"}, kNotItsOption},
      {{"oposreg", "delete", "-y", "HKLM\\K"}, kFits},
      {{"oposreg", "set", "--json", "HKLM\\K", "V", "sz", "x"}, kNotItsOption},
      {{"oposreg", "check", "--json", "Scanner", "S1"}, kFits},
      {{"oposreg", "get", "--dev", "/tmp", "HKLM\\K"}, kNotItsOption},
  };
  for (const auto& [argv, outcome] : cases) {
    Invocation invocation;
    std::string error;
    const bool parsed =
        ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &invocation, &error);
    ASSERT_EQ(parsed, outcome != kRefused) << argv[1] << " " << argv[2];
    if (!parsed) continue;
    EXPECT_EQ(OptionsFit(invocation, &error), outcome == kFits) << argv[1] << " " << argv[2];
    if (argv.back() == std::string("/r")) {
      EXPECT_EQ(invocation.root, "/r");
      EXPECT_EQ(invocation.args, (std::vector<std::string>{"HKLM\\K", "V", "dword", "-1"}));
    }
  }
}

}  // namespace
}  // namespace opossvc::oposreg
