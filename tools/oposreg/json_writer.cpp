#include "tools/oposreg/json_writer.h"

#include <cstdio>

#include <opossvc/win32/codepage.h>

namespace opossvc::oposreg {
namespace {

void Escape(uint16_t unit, std::string* out) {
  switch (unit) {
    case '"': *out += "\\\""; return;
    case '\\': *out += "\\\\"; return;
    case '\n': *out += "\\n"; return;
    case '\r': *out += "\\r"; return;
    case '\t': *out += "\\t"; return;
    default: break;
  }
  if (unit >= 0x20 && unit < 0x7F) {
    *out += static_cast<char>(unit);
    return;
  }
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
  *out += escape;
}

}  // namespace

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!open_.empty()) {
    if (open_.back()) out_ += ',';
    open_.back() = true;
  }
}

void JsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  open_.push_back(false);
}

void JsonWriter::EndObject() {
  out_ += '}';
  open_.pop_back();
}

void JsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  open_.push_back(false);
}

void JsonWriter::EndArray() {
  out_ += ']';
  open_.pop_back();
}

void JsonWriter::Key(std::string_view name) {
  BeforeValue();
  Quoted(name);
  out_ += ':';
  after_key_ = true;
}

void JsonWriter::String(std::string_view text) {
  BeforeValue();
  Quoted(text);
}

void JsonWriter::Number(int64_t number) {
  BeforeValue();
  out_ += std::to_string(number);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
}

void JsonWriter::Quoted(std::string_view text) {
  out_ += '"';
  std::basic_string<WCHAR> wide;
  if (!text.empty()) {
    // Each byte gives at most one UTF-16 unit; a byte the code page cannot
    // read becomes U+FFFD rather than a broken document.
    wide.resize(text.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                          wide.data(),
                                          static_cast<int>(wide.size()));
    wide.resize(units > 0 ? static_cast<size_t>(units) : 0);
    if (units <= 0) {
      for (char byte : text) wide += static_cast<WCHAR>(static_cast<unsigned char>(byte));
    }
  }
  for (WCHAR unit : wide) Escape(static_cast<uint16_t>(unit), &out_);
  out_ += '"';
}

}  // namespace opossvc::oposreg
