// The pieces of the registry export format that need no registry: quoted
// tokens, hexadecimal numbers and byte lists, and section paths.
#ifndef OPOSSVC_UTIL_REG_FILE_SYNTAX_H_
#define OPOSSVC_UTIL_REG_FILE_SYNTAX_H_

#include <string>
#include <string_view>
#include <vector>

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

// A hexadecimal number as the C library's strtoul with base 16 reads it on
// a platform with 32-bit longs: leading blanks, a sign, an optional 0x,
// digits up to the first other character; past 0xFFFFFFFF it saturates; a
// minus sign negates modulo 2^32; no digits give 0.
DWORD HexToDword(std::string_view text);

// Hexadecimal digits shifted into bytes: two digits make a byte, a non-digit
// after one digit (or the end) completes it, other non-digits separate.
std::vector<BYTE> HexToBytes(std::string_view text);

// A section line: "[" path "]" after trailing blanks are removed.
struct Section {
  bool well_formed = false;  // ends with "]"; otherwise the line is ignored
  bool in_database = false;  // names the database root or a key below it
  std::string below_root;    // the path below the root; empty for the root itself
};
// The path holds the root text (exact case) anywhere, followed by "\" or its
// end; what stands before it is ignored. Below the root, components must be
// non-empty and free of NUL bytes.
Section ParseSectionLine(std::string_view line);

}  // namespace opossvc::detail

#endif  // OPOSSVC_UTIL_REG_FILE_SYNTAX_H_
