#include "trace/trace_text.h"

#include <cstdio>
#include <cstring>

#include <opossvc/opos.h>
#include <opossvc/win32/codepage.h>

namespace opossvc::detail {
namespace {

// The parameter-type bytes of the dispatch convention (VTS_*).
enum ParamType : unsigned char {
  kI2 = 0x02,
  kI4 = 0x03,
  kR4 = 0x04,
  kR8 = 0x05,
  kCy = 0x06,
  kDate = 0x07,
  kWideString = 0x08,
  kDispatch = 0x09,
  kScode = 0x0A,
  kBool = 0x0B,
  kVariant = 0x0C,
  kUnknown = 0x0D,
  kString = 0x0E,
  kByReference = 0x40,
  kPI4 = kByReference | kI4,
  kPBstr = kByReference | kWideString,
};

struct ResultName {
  LONG code;
  const char* name;
};

constexpr ResultName kResultNames[] = {
    {OPOS_SUCCESS, "OPOS_SUCCESS"},       {OPOS_E_CLOSED, "OPOS_E_CLOSED"},
    {OPOS_E_CLAIMED, "OPOS_E_CLAIMED"},   {OPOS_E_NOTCLAIMED, "OPOS_E_NOTCLAIMED"},
    {OPOS_E_NOSERVICE, "OPOS_E_NOSERVICE"}, {OPOS_E_DISABLED, "OPOS_E_DISABLED"},
    {OPOS_E_ILLEGAL, "OPOS_E_ILLEGAL"},   {OPOS_E_NOHARDWARE, "OPOS_E_NOHARDWARE"},
    {OPOS_E_OFFLINE, "OPOS_E_OFFLINE"},   {OPOS_E_NOEXIST, "OPOS_E_NOEXIST"},
    {OPOS_E_EXISTS, "OPOS_E_EXISTS"},     {OPOS_E_FAILURE, "OPOS_E_FAILURE"},
    {OPOS_E_TIMEOUT, "OPOS_E_TIMEOUT"},   {OPOS_E_BUSY, "OPOS_E_BUSY"},
    {OPOS_E_EXTENDED, "OPOS_E_EXTENDED"},
};

std::string_view TextOf(const char* text) { return text != nullptr ? std::string_view(text) : std::string_view(); }

// A BSTR held by reference, up to its first NUL, in the system code page.
std::string NarrowBstr(const BSTR* reference) {
  return reference != nullptr ? NarrowText(*reference) : std::string();
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) {
      const char escaped[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
      out.append(escaped, 4);
    } else {
      out += c;
    }
  }
}

void AppendQuoted(std::string& out, std::string_view bytes) {
  out += '"';
  AppendEscaped(out, bytes);
  out += '"';
}

void AppendNumber(std::string& out, LONG value) {
  char text[32];
  int length = std::snprintf(text, sizeof(text), "%ld (0x%.8lx)", static_cast<long>(value),
                             static_cast<unsigned long>(static_cast<DWORD>(value)));
  out.append(text, static_cast<size_t>(length));
}

void AppendCurrency(std::string& out, const CY& value) {
  auto hi = static_cast<long>(value.Hi);
  const long lo = opossvc::Long32(value.Lo);
  char text[96];
  int length = std::snprintf(text, sizeof(text), "Hi = %ld, Lo = %ld (Hi = 0x%.8lx, Lo = 0x%.8lx)",
                             hi, lo, static_cast<unsigned long>(static_cast<DWORD>(value.Hi)),
                             static_cast<unsigned long>(value.Lo));
  out.append(text, static_cast<size_t>(length));
}

void AppendBoolean(std::string& out, int value) { out += value != 0 ? "TRUE" : "FALSE"; }

std::string NarrowText(const OLECHAR* text) {
  if (text == nullptr) return {};
  int units = 0;
  while (text[units] != 0 && units < 0x7FFFFFFF) ++units;
  if (units == 0) return {};
  int size = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string narrow(static_cast<size_t>(size), '\0');
  size = WideCharToMultiByte(CP_ACP, 0, text, units, narrow.data(), size, nullptr, nullptr);
  narrow.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return narrow;
}

std::string PropertyPrefix(const char* object, const char* property, char separator) {
  std::string record(TextOf(object));
  record += '.';
  record += TextOf(property);
  record += separator;
  return record;
}

std::string MethodRecord(const char* object, const char* method, int direction, const char* types,
                         va_list args) {
  std::string record(1, direction != 0 ? '<' : '>');
  record += TextOf(object);
  record += '.';
  record += TextOf(method);
  record += '(';
  const char* type = types != nullptr ? types : "";
  for (size_t i = 0; type[i] != '\0'; ++i) {
    if (i > 0) record += ',';
    switch (static_cast<unsigned char>(type[i])) {
      case kI2:
      case kScode:
        va_arg(args, int);
        break;
      case kI4:
        // A LONG, 32 bits in value: an int argument reads the same.
        AppendNumber(record, opossvc::Long32(va_arg(args, LONG)));
        break;
      case kR4:
      case kR8:
      case kDate:
        va_arg(args, double);
        break;
      case kBool:
        AppendBoolean(record, va_arg(args, int));
        break;
      case kWideString:
        AppendQuoted(record, NarrowText(va_arg(args, const OLECHAR*)));
        break;
      case kString:
        AppendQuoted(record, TextOf(va_arg(args, const char*)));
        break;
      case kPI4:
        if (const LONG* value = va_arg(args, const LONG*)) {
          record += '[';
          AppendNumber(record, opossvc::Long32(*value));
          record += ']';
        }
        break;
      case kPBstr:
        // Escaped like a string by value: a line end inside must not end the record.
        if (const BSTR* value = va_arg(args, const BSTR*)) {
          record += '[';
          AppendQuoted(record, NarrowBstr(value));
          record += ']';
        }
        break;
      case kCy:
      case kDispatch:
      case kVariant:
      case kUnknown:
      case kByReference | kI2:
      case kByReference | kR4:
      case kByReference | kR8:
      case kByReference | kCy:
      case kByReference | kDate:
      case kByReference | kDispatch:
      case kByReference | kScode:
      case kByReference | kBool:
      case kByReference | kVariant:
      case kByReference | kUnknown:
        va_arg(args, void*);
        break;
      default:
        break;  // takes no argument
    }
  }
  record += ")\n";
  return record;
}

const char* ResultCodeName(LONG result) {
  for (const ResultName& entry : kResultNames) {
    if (entry.code == result) return entry.name;
  }
  return "(Unknown)";
}

std::string ResultRecord(const char* object, LONG result, LONG extended) {
  std::string record = "<";
  record += TextOf(object);
  record += ".ResultCode:";
  record += ResultCodeName(result);
  record += "\n<";
  record += TextOf(object);
  record += ".ResultCodeExtended:";
  AppendNumber(record, extended);
  record += '\n';
  return record;
}

}  // namespace opossvc::detail
