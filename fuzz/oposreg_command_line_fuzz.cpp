// oposreg's command line and key paths: the input, split at NUL bytes, is
// the argument vector. Parsing ends with an invocation or a message; every
// operand comes through in order; each command's own options fit it; a key
// path that parses names its root and non-empty sub-keys and parses again
// from its full name to the same key; names shown on a terminal or in JSON
// hold no control characters.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tools/oposreg/command_line.h"
#include "tools/oposreg/json_writer.h"
#include "tools/oposreg/key_path.h"
#include "tools/oposreg/serial_ports.h"
#include "tools/oposreg/value_text.h"

namespace {

using opossvc::fuzz::Check;
namespace oposreg = opossvc::oposreg;

void CheckKeyPath(const std::string& text) {
  oposreg::KeyPath path;
  std::string error;
  if (!oposreg::ParseKeyPath(text, &path, &error)) {
    Check(!error.empty(), "a refused key path says why");
    return;
  }
  Check(path.root != nullptr && oposreg::RootName(path.root) == path.root_name,
        "a parsed key path names a predefined root");
  const std::string& sub = path.sub_key;
  Check(sub.find("\\\\") == std::string::npos && (sub.empty() || sub.front() != '\\') &&
            (sub.empty() || sub.back() != '\\'),
        "no empty key name in a parsed key path");
  oposreg::KeyPath again;
  Check(oposreg::ParseKeyPath(path.FullName(), &again, &error) && again.root == path.root &&
            again.sub_key == path.sub_key,
        "a key path parses again from its full name");
}

void CheckShown(const std::string& text) {
  for (unsigned char c : oposreg::Escaped(text)) {
    Check(c >= 0x20 && c != 0x7F, "an escaped name holds no control character");
  }
  oposreg::JsonWriter json;
  json.String(text);
  const std::string out = json.Text();
  Check(out.size() >= 3 && out.front() == '"' && out[out.size() - 2] == '"' && out.back() == '\n',
        "a JSON string is quoted");
  for (size_t i = 1; i + 2 < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    Check(c >= 0x20 && c < 0x7F, "JSON output is printable ASCII");
    if (c == '\\') {
      ++i;  // the escaped character, itself checked above
    } else {
      Check(c != '"', "no bare quote inside a JSON string");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"oposreg"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());

  oposreg::Invocation invocation;
  std::string error;
  const bool parsed =
      oposreg::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &invocation, &error);
  Check(parsed || !error.empty(), "a refused command line says why");
  if (parsed) {
    // The operands are the arguments that are not options, in order.
    size_t next = 1;
    std::vector<std::string> operands;
    if (!invocation.command.empty()) operands.push_back(invocation.command);
    operands.insert(operands.end(), invocation.args.begin(), invocation.args.end());
    for (const std::string& operand : operands) {
      while (next < args.size() && args[next] != operand) ++next;
      Check(next < args.size(), "every operand was given, in order");
      ++next;
    }
    size_t min_args = 0, max_args = 0;
    if (oposreg::KnownCommand(invocation.command, &min_args, &max_args)) {
      Check(min_args <= max_args, "a command's operand counts are ordered");
      Check(oposreg::UsageText(invocation.command).find(invocation.command) != std::string::npos,
            "a command's usage names it");
    }
    std::string unfit;
    if (!oposreg::OptionsFit(invocation, &unfit)) Check(!unfit.empty(), "an unfit option is named");
    if (!invocation.remove.empty()) {
      const int number = oposreg::ParseComNumber(invocation.remove);
      Check(number >= 0 && number <= 255, "a COM number is 0 or 1..255");
      if (number > 0) {
        Check(oposreg::ParseComNumber("COM" + std::to_string(number)) == number,
              "a COM number names itself again");
      }
    }
    if (invocation.args.size() >= 4) {
      oposreg::RegValue value;
      if (oposreg::ParseTypedData(invocation.args[2], invocation.args[3], &value, &unfit)) {
        Check(value.type != REG_DWORD || value.data.size() == 4, "a number is four bytes");
        Check(value.type != REG_SZ || (!value.data.empty() && value.data.back() == '\0'),
              "a string ends in NUL");
      }
    }
  }
  for (size_t i = 1; i < args.size(); ++i) {
    CheckKeyPath(args[i]);
    CheckShown(args[i]);
  }
  return 0;
}
