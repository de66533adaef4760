#include "tools/oposreg/regedit4_writer.h"

#include <strings.h>

#include <cstdio>

#include "tools/oposreg/value_text.h"

namespace opossvc::oposreg {
namespace {

// Byte lists are broken so that no line is much longer than this.
constexpr size_t kLineWidth = 76;
// ImportRegistry skips longer lines, continuations joined (util.h).
constexpr size_t kMaxImportLine = 4u << 20;
// The import reads a text file, which ends at this byte.
constexpr char kCtrlZ = '\x1a';

// Why a key or value name cannot stand in the file, or null.
const char* NameProblem(std::string_view name) {
  if (name.find_first_of("\r\n") != std::string_view::npos) return "its name holds a line break";
  if (name.find(kCtrlZ) != std::string_view::npos) return "its name holds a Ctrl-Z";
  if (name.find('\0') != std::string_view::npos) return "its name holds a NUL";
  return nullptr;
}

// Whether REG_SZ data can be written as a quoted string that reads back as
// it is: its terminating NUL (which the import adds) and nothing that ends
// a line or the text before it. Other data is written as hex(1).
bool QuotableText(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  data.remove_suffix(1);
  return data.find_first_of(std::string_view("\n\x1a\0", 3)) == std::string_view::npos;
}

// `text` with control characters escaped, for messages.
std::string Shown(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

// `word` ("hex:", "hex(2):") followed by the bytes, continued where the line
// grows long. `prefix_width` is what stands before it on the first line;
// *breaks counts the continuations.
std::string HexData(std::string out, std::string_view bytes, size_t prefix_width, size_t* breaks) {
  out.reserve(out.size() + 3 * bytes.size() + 4 * (3 * bytes.size() / kLineWidth + 1));
  size_t column = prefix_width + out.size();
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
        ++*breaks;
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

bool FormatValueLine(const RegValue& value, std::string* line, std::string* why) {
  auto refuse = [why](std::string reason) {
    if (why != nullptr) *why = std::move(reason);
    return false;
  };
  if (const char* problem = NameProblem(value.name)) return refuse(problem);
  std::string name = value.name.empty() ? "@" : QuoteText(value.name);
  name += '=';
  size_t breaks = 0;
  if (value.type == REG_SZ && QuotableText(value.data)) {
    *line = name + QuoteText(std::string_view(value.data).substr(0, value.data.size() - 1));
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(value.data.data());
    DWORD number = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<DWORD>(b[3]) << 24);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
    *line = name + text;
  } else if (value.type == REG_BINARY) {
    *line = name + HexData("hex:", value.data, name.size(), &breaks);
  } else {
    // Any other type, and data that the forms above cannot carry, keep
    // their type as hex(N).
    char word[24];
    std::snprintf(word, sizeof word, "hex(%x):", static_cast<unsigned>(value.type));
    *line = name + HexData(word, value.data, name.size(), &breaks);
  }
  // The import joins continued lines after taking off "\" and the indent.
  if (line->size() - 4 * breaks > kMaxImportLine) {
    line->clear();
    return refuse("its line would be longer than the 4 MiB an import reads");
  }
  return true;
}

std::vector<std::string> ExportProblems(const std::vector<RegKey>& keys) {
  std::vector<std::string> problems;
  KeyPaths paths;
  std::string line, why;
  for (const RegKey& key : keys) {
    const std::string& path = paths.Next(key);
    const char* problem = NameProblem(key.name);
    if (problem == nullptr && path.size() + 2 > kMaxImportLine) {
      problem = "its section line would be longer than the 4 MiB an import reads";
    }
    if (problem != nullptr) problems.push_back(Shown(path) + ": " + problem);
    for (const RegValue& value : key.values) {
      if (!FormatValueLine(value, &line, &why)) {
        problems.push_back(Shown(path) + ": value " + Shown(QuoteText(value.name)) + ": " + why);
      }
    }
  }
  return problems;
}

bool WriteRegedit4(const std::vector<RegKey>& keys,
                   const std::function<bool(std::string_view)>& write) {
  if (!write("REGEDIT4\n")) return false;
  KeyPaths paths;
  std::string section, line;
  for (const RegKey& key : keys) {
    section = "\n[" + SectionName(paths.Next(key)) + "]\n";
    for (const RegValue& value : key.values) {
      if (FormatValueLine(value, &line)) section += line + "\n";
    }
    if (!write(section)) return false;
  }
  return write("\n");
}

}  // namespace opossvc::oposreg
