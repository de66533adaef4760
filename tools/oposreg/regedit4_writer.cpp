#include "tools/oposreg/regedit4_writer.h"

#include <strings.h>

#include <cstdio>

namespace opossvc::oposreg {
namespace {

// Byte lists are broken so that no line is much longer than this.
constexpr size_t kLineWidth = 76;

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// REG_SZ data that a quoted string gives back as it is: text without NULs or
// line breaks, followed by at most one NUL (the importer adds it again, and
// readers treat a missing one as present).
bool IsPlainString(std::string_view data) {
  if (!data.empty() && data.back() == '\0') data.remove_suffix(1);
  return data.find('\0') == std::string_view::npos && !HasLineBreak(data);
}

// "hex:" or "hex(7):" followed by the bytes, continued where the line grows
// long. `prefix_width` is what stands before it on the first line.
std::string HexData(const std::string& prefix, std::string_view bytes, size_t prefix_width) {
  std::string out = prefix;
  size_t column = prefix_width + prefix.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(bytes[i]));
    out += byte;
    column += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      ++column;
      if (column >= kLineWidth) {
        out += "\\\n  ";
        column = 2;
      }
    }
  }
  return out;
}

}  // namespace

std::string QuoteText(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string SectionName(std::string_view path) {
  static constexpr std::string_view kMachine = "HKEY_LOCAL_MACHINE\\";
  static constexpr std::string_view kDatabase = "SOFTWARE\\OLEforRetail";
  std::string out(path);
  if (out.size() < kMachine.size() + kDatabase.size()) return out;
  if (strncasecmp(out.c_str(), kMachine.data(), kMachine.size()) != 0) return out;
  std::string_view rest = std::string_view(out).substr(kMachine.size());
  if (rest.size() > kDatabase.size() && rest[kDatabase.size()] != '\\') return out;
  if (strncasecmp(rest.data(), kDatabase.data(), kDatabase.size()) != 0) return out;
  out.replace(0, kMachine.size() + kDatabase.size(),
              std::string(kMachine) + std::string(kDatabase));
  return out;
}

bool FormatValueLine(const RegValue& value, std::string* line) {
  if (HasLineBreak(value.name)) return false;
  std::string name = value.name.empty() ? "@" : QuoteText(value.name);
  name += '=';
  if (value.type == REG_SZ && IsPlainString(value.data)) {
    std::string_view text = value.data;
    if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
    *line = name + QuoteText(text);
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(value.data.data());
    DWORD number = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<DWORD>(b[3]) << 24);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
    *line = name + text;
  } else if (value.type == REG_BINARY) {
    *line = name + HexData("hex:", value.data, name.size());
  } else {
    std::string prefix = "hex(" + std::to_string(value.type) + "):";
    *line = name + HexData(prefix, value.data, name.size());
  }
  return true;
}

ExportText FormatRegedit4(const std::vector<RegKey>& keys) {
  ExportText out;
  out.text = "REGEDIT4\n";
  for (const RegKey& key : keys) {
    out.text += "\n[" + SectionName(key.path) + "]\n";
    for (const RegValue& value : key.values) {
      std::string line;
      if (FormatValueLine(value, &line)) {
        out.text += line + "\n";
      } else {
        out.skipped.push_back(key.path + ": " + QuoteText(value.name));
      }
    }
  }
  out.text += "\n";
  return out;
}

}  // namespace opossvc::oposreg
