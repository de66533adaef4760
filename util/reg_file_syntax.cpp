#include "util/reg_file_syntax.h"

#include <cstdint>

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

Section ParseSectionLine(std::string_view line) {
  Section section;
  size_t end = line.size();
  while (end > 0 && IsBlank(line[end - 1])) --end;
  line = line.substr(0, end);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return section;
  section.well_formed = true;
  std::string_view path = line.substr(1, line.size() - 2);
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

}  // namespace opossvc::detail
