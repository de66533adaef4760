#include "tools/oposreg/value_text.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <opossvc/win32/registry.h>

namespace opossvc::oposreg {
namespace {

std::string HexBytes(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i ? ",%02x" : "%02x", static_cast<unsigned char>(bytes[i]));
    out += byte;
  }
  return out;
}

DWORD DwordOf(std::string_view data) {
  const auto* b = reinterpret_cast<const unsigned char*>(data.data());
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<DWORD>(b[3]) << 24);
}

bool Is(std::string_view type, const char* a, const char* b, const char* c) {
  std::string t(type);
  return strcasecmp(t.c_str(), a) == 0 || strcasecmp(t.c_str(), b) == 0 ||
         strcasecmp(t.c_str(), c) == 0;
}

bool ParseNumber(std::string_view text, DWORD* number) {
  std::string t(text);
  if (t.empty()) return false;
  bool negative = t[0] == '-';
  const char* start = t.c_str() + (negative ? 1 : 0);
  if (*start < '0' || *start > '9') return false;
  // Decimal, or hexadecimal after 0x; a leading 0 is not octal.
  bool hex = start[0] == '0' && (start[1] == 'x' || start[1] == 'X');
  if (hex && start[2] == '\0') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(start, &end, hex ? 16 : 10);
  if (*end != '\0' || errno == ERANGE) return false;
  if (negative ? value > 0x80000000ull : value > 0xFFFFFFFFull) return false;
  *number = static_cast<DWORD>(negative ? 0u - value : value);
  return true;
}

bool ParseHexBytes(std::string_view text, std::string* bytes) {
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find_first_of(", ", i);
    std::string_view item = text.substr(i, end == std::string_view::npos ? end : end - i);
    if (item.empty() || item.size() > 2) return false;
    int byte = 0;
    for (char c : item) {
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) return false;
      byte = byte * 16 + digit;
    }
    bytes->push_back(static_cast<char>(byte));
    if (end == std::string_view::npos) break;
    i = end + 1;
  }
  return true;
}

}  // namespace

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "REG_(" + std::to_string(type) + ")";
  }
}

std::string DataText(const RegValue& value) {
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
    return value.data.substr(0, value.data.find('\0'));
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    return std::to_string(DwordOf(value.data));
  }
  return HexBytes(value.data);
}

std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out += c;
    } else if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      out += escape;
    }
  }
  return out;
}

std::string ValueLine(const RegValue& value) {
  std::string name = value.name.empty() ? "@" : Escaped(value.name);
  std::string line = name + " = " + TypeName(value.type) + " ";
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
    return line + "\"" + Escaped(DataText(value)) + "\"";
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(DwordOf(value.data)));
    return line + DataText(value) + " (" + hex + ")";
  }
  return line + (value.data.empty() ? "(empty)" : HexBytes(value.data));
}

void WriteValueJson(const RegValue& value, JsonWriter* json) {
  json->BeginObject();
  json->Member("name", value.name);
  json->Member("type", TypeName(value.type));
  json->Key("data");
  if (value.type == REG_DWORD && value.data.size() == 4) {
    json->Number(DwordOf(value.data));
  } else {
    json->String(DataText(value));
  }
  json->EndObject();
}

std::string ValueNameArg(const std::string& arg) { return arg == "@" ? "" : arg; }

bool ParseTypedData(std::string_view type, std::string_view data, RegValue* value,
                    std::string* error) {
  value->data.clear();
  if (Is(type, "REG_SZ", "sz", "string")) {
    value->type = REG_SZ;
    value->data = std::string(data) + '\0';
    return true;
  }
  if (Is(type, "REG_EXPAND_SZ", "expand_sz", "expand")) {
    value->type = REG_EXPAND_SZ;
    value->data = std::string(data) + '\0';
    return true;
  }
  if (Is(type, "REG_DWORD", "dword", "number")) {
    DWORD number = 0;
    if (!ParseNumber(data, &number)) {
      *error = "\"" + std::string(data) + "\" is not a 32-bit number";
      return false;
    }
    value->type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8) value->data += static_cast<char>(number >> shift);
    return true;
  }
  if (Is(type, "REG_BINARY", "binary", "hex")) {
    if (!ParseHexBytes(data, &value->data)) {
      *error = "\"" + std::string(data) + "\" is not a list of hexadecimal bytes such as 01,02,ff";
      return false;
    }
    value->type = REG_BINARY;
    return true;
  }
  *error = "unknown type \"" + std::string(type) + "\" (REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY)";
  return false;
}

}  // namespace opossvc::oposreg
