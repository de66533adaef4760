// Registry value data as the tool shows it, and as `set` reads it.
#ifndef OPOSSVC_TOOLS_OPOSREG_VALUE_TEXT_H_
#define OPOSSVC_TOOLS_OPOSREG_VALUE_TEXT_H_

#include <string>
#include <string_view>

#include <opossvc/win32/types.h>

#include "tools/oposreg/json_writer.h"
#include "tools/oposreg/registry_tree.h"

namespace opossvc::oposreg {

// "REG_SZ", "REG_DWORD", ..., "REG_(n)" for other numbers.
std::string TypeName(DWORD type);

// The data alone, for `get KEY VALUE`: text for strings (up to the first NUL),
// a decimal number for a four-byte REG_DWORD, else the bytes as "01,02,ff".
std::string DataText(const RegValue& value);

// `text` with its control characters (bytes below 0x20, and 0x7F) as \n,
// \r, \t or \xHH, so that a name shown on a terminal cannot move the
// cursor, change colours or look like two lines.
std::string Escaped(std::string_view text);

// "Name = REG_DWORD 6 (0x00000006)", the default value shown as "@"; the
// name and string data Escaped.
std::string ValueLine(const RegValue& value);

// The value as a JSON object: name, type and data (text for strings, a
// number for a four-byte REG_DWORD, else the bytes as "01,02,ff").
void WriteValueJson(const RegValue& value, JsonWriter* json);

// The value name a user typed: "@" stands for the default value.
std::string ValueNameArg(const std::string& arg);

// Parses `set`'s TYPE and DATA into `value` (name untouched); false with a
// message in `error` for an unknown type or data that is not of the type.
bool ParseTypedData(std::string_view type, std::string_view data, RegValue* value,
                    std::string* error);

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_VALUE_TEXT_H_
