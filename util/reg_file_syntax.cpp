#include "util/reg_file_syntax.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace opossvc::detail {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool SoundComponents(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return false;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    size_t length = (end == std::string_view::npos ? path.size() : end) - start;
    if (length == 0) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Takes `prefix` (any letter case) off the front of `text` when it stands
// there whole: followed by the end or a backslash, which goes too.
bool TakePrefix(std::string_view& text, std::string_view prefix) {
  if (text.size() < prefix.size() || !EqualsIgnoringCase(text.substr(0, prefix.size()), prefix)) {
    return false;
  }
  if (text.size() > prefix.size() && text[prefix.size()] != '\\') return false;
  text.remove_prefix(std::min(text.size(), prefix.size() + 1));
  return true;
}

// The type word of "hex(N)": N, hexadecimal; nothing for another word.
std::optional<DWORD> TypedHex(std::string_view word) {
  if (word.size() < 6 || !EqualsIgnoringCase(word.substr(0, 4), "hex(") || word.back() != ')') {
    return std::nullopt;
  }
  word = word.substr(4, word.size() - 5);
  if (word.empty() || word.size() > 8) return std::nullopt;
  DWORD type = 0;
  for (char c : word) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    type = type * 16 + static_cast<DWORD>(digit);
  }
  return type;
}

}  // namespace

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

void TrimLeft(std::string& text) {
  size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  text.erase(0, first);
}

void TrimRight(std::string& text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  text.resize(end);
}

bool ReadQuotedToken(std::string& text, std::string& token) {
  token.clear();
  if (text.empty() || text[0] != '"') return false;
  for (size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\') {
      if (++i == text.size()) break;
      token += text[i];
    } else if (c == '"') {
      text.erase(0, i + 1);
      return true;
    } else {
      token += c;
    }
  }
  text.clear();
  return false;
}

std::optional<DWORD> ParseDwordData(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const size_t first_digit = i;
  uint64_t value = 0;
  for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
    value = value * 16 + static_cast<unsigned>(HexDigit(text[i]));
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  if (i == first_digit) return std::nullopt;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i < text.size() && text[i] != ';') return std::nullopt;
  return static_cast<DWORD>(value);
}

std::vector<BYTE> HexToBytes(std::string_view text) {
  std::vector<BYTE> bytes;
  bytes.reserve((text.size() + 1) / 2);
  unsigned current = 0;
  int digits = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit >= 0) {
      current = current * 16 + static_cast<unsigned>(digit);
      if (++digits == 2) {
        bytes.push_back(static_cast<BYTE>(current));
        current = 0;
        digits = 0;
      }
    } else if (digits == 1) {
      bytes.push_back(static_cast<BYTE>(current));
      current = 0;
      digits = 0;
    }
  }
  if (digits == 1) bytes.push_back(static_cast<BYTE>(current));
  return bytes;
}

namespace {

// The text between the brackets of a section line (blanks after the closing
// bracket ignored); nothing when the line is no section line.
std::optional<std::string_view> BracketedPath(std::string_view line) {
  size_t end = line.size();
  while (end > 0 && IsBlank(line[end - 1])) --end;
  line = line.substr(0, end);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
  return line.substr(1, line.size() - 2);
}

}  // namespace

Section ParseSectionLine(std::string_view line) {
  Section section;
  const std::optional<std::string_view> bracketed = BracketedPath(line);
  if (!bracketed) return section;
  section.well_formed = true;
  std::string_view path = *bracketed;
  section.deletion = !path.empty() && path[0] == '-';
  if (section.deletion) return section;
  size_t found = path.find(kDatabaseRoot);
  if (found == std::string_view::npos) return section;
  std::string_view rest = path.substr(found + kDatabaseRoot.size());
  // "SOFTWARE\OLEforRetailX" is another key: the root must end there.
  if (!rest.empty() && rest[0] != '\\') return section;
  if (!rest.empty()) rest.remove_prefix(1);
  if (!rest.empty() && !SoundComponents(rest)) return section;
  section.in_database = true;
  section.below_root = std::string(rest);
  return section;
}

const char* ParseValueLine(std::string& text, const ValueSyntax& syntax, ValueLine* value) {
  const bool default_value = !text.empty() && text[0] == '@';
  const bool quoted = !text.empty() && text[0] == '"';
  if (!ReadQuotedToken(text, value->name)) {
    if (!default_value) {
      return quoted ? "the value name has no closing double quote"
                    : "the value name is neither in double quotes nor \"@\"";
    }
    text.erase(0, 1);
    value->name.clear();
  }
  TrimLeft(text);
  if (!text.empty()) text.erase(0, 1);  // the equals sign
  TrimLeft(text);

  std::string token;
  const bool string_data = !text.empty() && text[0] == '"';
  if (ReadQuotedToken(text, token)) {
    value->type = REG_SZ;
    value->data.assign(token.begin(), token.end());
    value->data.push_back(0);
  } else if (string_data) {
    return "the string has no closing double quote";
  } else {
    std::string rest = text;
    TrimRight(rest);
    if (rest == "-") {
      if (!syntax.deletions) return "deleting a value (\"=-\") is not carried out here";
      value->deletion = true;
      text.clear();
      return nullptr;
    }
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) {
      return "the data is neither \"text\" nor TYPE:DATA (dword:, hex:, hex(N):)";
    }
    const std::string word = text.substr(0, colon);
    const std::string data_text = text.substr(colon + 1);
    text.clear();
    const char kind = word[0];
    if (std::optional<DWORD> type = syntax.typed_hex ? TypedHex(word) : std::nullopt) {
      value->type = *type;
      value->from_hex = true;
      value->data = HexToBytes(data_text);
    } else if (kind == 'D' || kind == 'd') {
      // A malformed number writes nothing rather than what a lenient
      // reading of it would give.
      std::optional<DWORD> number = ParseDwordData(data_text);
      if (!number) return "the dword data is not 1 to 8 hexadecimal digits";
      value->type = REG_DWORD;
      for (int shift = 0; shift < 32; shift += 8) value->data.push_back(static_cast<BYTE>(*number >> shift));
    } else if (kind == 'H' || kind == 'h') {
      value->type = REG_BINARY;
      value->from_hex = true;
      value->data = HexToBytes(data_text);
    } else {
      return "unknown data type (dword:, hex: or hex(N): expected)";
    }
  }
  // A NUL would cut the name short and write some other value.
  if (value->name.find('\0') != std::string::npos) return "the value name holds a NUL byte";
  return nullptr;
}

LiteralSection ParseLiteralSection(std::string_view line) {
  LiteralSection section;
  const std::optional<std::string_view> bracketed = BracketedPath(line);
  if (!bracketed) return section;
  section.well_formed = true;
  std::string_view path = *bracketed;
  section.deletion = !path.empty() && path[0] == '-';
  if (section.deletion) path.remove_prefix(1);
  static constexpr struct {
    std::string_view spelled;
    std::string_view key;
  } kAreas[] = {
      {"SOFTWARE\\OLEforRetail", "SOFTWARE\\OLEforRetail"},
      {"SOFTWARE\\WOW6432Node\\OLEforRetail", "SOFTWARE\\OLEforRetail"},
      {"HARDWARE\\DEVICEMAP\\SERIALCOMM", "HARDWARE\\DEVICEMAP\\SERIALCOMM"},
  };
  const char* outside =
      "the section is outside HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail and "
      "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
  if (!TakePrefix(path, "HKEY_LOCAL_MACHINE") && !TakePrefix(path, "HKLM")) {
    section.problem = outside;
    return section;
  }
  for (const auto& area : kAreas) {
    std::string_view rest = path;
    if (!TakePrefix(rest, area.spelled)) continue;
    if (!rest.empty() && !SoundComponents(rest)) {
      section.problem = "the section names a key with an empty name or a NUL byte";
      return section;
    }
    section.key = std::string(area.key);
    if (!rest.empty()) section.key += "\\" + std::string(rest);
    return section;
  }
  section.problem = outside;
  return section;
}

}  // namespace opossvc::detail
