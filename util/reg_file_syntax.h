// The pieces of the registry export format that need no registry: quoted
// tokens, hexadecimal numbers and byte lists, and section paths.
#ifndef OPOSSVC_UTIL_REG_FILE_SYNTAX_H_
#define OPOSSVC_UTIL_REG_FILE_SYNTAX_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <opossvc/win32/registry.h>
#include <opossvc/win32/types.h>

namespace opossvc::detail {

// The registry root that every imported section must name.
inline constexpr std::string_view kDatabaseRoot = "SOFTWARE\\OLEforRetail";

bool IsBlank(char c);
void TrimLeft(std::string& text);
void TrimRight(std::string& text);

// Reads a token in double quotes from the start of `text`; a backslash makes
// the next character literal. On success the token is stored and `text`
// becomes what follows the closing quote. Without an opening quote it fails
// leaving `text` as it was; without a closing quote it fails and empties
// `text`.
bool ReadQuotedToken(std::string& text, std::string& token);

// The data of a dword value: blanks, hexadecimal digits whose value fits in
// 32 bits, blanks, and optionally a ";" comment. Nothing for anything else
// (no digit, a sign, "0x", another character after the digits, overflow).
std::optional<DWORD> ParseDwordData(std::string_view text);

// Hexadecimal digits shifted into bytes: two digits make a byte, a non-digit
// after one digit (or the end) completes it, other non-digits separate.
std::vector<BYTE> HexToBytes(std::string_view text);

// A section line: "[" path "]" after trailing blanks are removed.
struct Section {
  bool well_formed = false;  // ends with "]"; otherwise the line is ignored
  bool deletion = false;     // "[-path]": a request to delete the key
  bool in_database = false;  // names the database root or a key below it
  std::string below_root;    // the path below the root; empty for the root itself
};
// The path holds the root text (exact case) anywhere, followed by "\" or its
// end; what stands before it is ignored. A deletion is never in the database:
// it names no key to write to. Below the root, components must be
// non-empty and free of NUL bytes.
Section ParseSectionLine(std::string_view line);

// The data of a value line after its name and "=".
struct ValueSyntax {
  bool typed_hex = false;  // "hex(N):" gives type N rather than REG_BINARY
  bool deletions = false;  // "=-" deletes the value
};
struct ValueLine {
  std::string name;         // "" for the default value ("@")
  bool deletion = false;    // "=-"
  DWORD type = REG_NONE;
  bool from_hex = false;    // the data came from a "hex...:" byte list
  std::vector<BYTE> data;
};
// Parses a value line as SetRegistryValue reads it, consuming `text` the
// same way: null when `value` holds what to write, else why the line cannot
// be written (and then `value` is partly filled).
const char* ParseValueLine(std::string& text, const ValueSyntax& syntax, ValueLine* value);

// A section line as it stands: the key below HKEY_LOCAL_MACHINE that it
// names, in one of the areas that are imported (reg_import.h).
struct LiteralSection {
  bool well_formed = false;         // ends with "]"; otherwise the line is ignored
  bool deletion = false;            // "[-path]"
  const char* problem = nullptr;    // why no key is named, or null
  std::string key;                  // below HKEY_LOCAL_MACHINE
};
LiteralSection ParseLiteralSection(std::string_view line);

}  // namespace opossvc::detail

#endif  // OPOSSVC_UTIL_REG_FILE_SYNTAX_H_
