// The text of trace records, built in memory before the one write.
#ifndef OPOSSVC_TRACE_TRACE_TEXT_H_
#define OPOSSVC_TRACE_TRACE_TEXT_H_

#include <cstdarg>
#include <string>
#include <string_view>

#include <opossvc/win32/oleauto.h>
#include <opossvc/win32/types.h>

namespace opossvc::detail {

// Bytes below 0x20 and from 0x7F as \xNN, the rest as they are.
void AppendEscaped(std::string& out, std::string_view bytes);
// The value in double quotes, escaped.
void AppendQuoted(std::string& out, std::string_view bytes);
// "%ld (0x%.8lx)" of the 32-bit value.
void AppendNumber(std::string& out, LONG value);
// "Hi = %ld, Lo = %ld (Hi = 0x%.8lx, Lo = 0x%.8lx)".
void AppendCurrency(std::string& out, const CY& value);
void AppendBoolean(std::string& out, int value);
// A UTF-16 text up to its NUL in the system code page; empty for null.
std::string NarrowText(const OLECHAR* text);

// "<object>.<property><separator>" with the name texts as given.
std::string PropertyPrefix(const char* object, const char* property, char separator);
// The whole method record with its line feed; `args` is read as `types`
// says.
std::string MethodRecord(const char* object, const char* method, int direction, const char* types,
                         va_list args);
// The two result lines.
std::string ResultRecord(const char* object, LONG result, LONG extended);
const char* ResultCodeName(LONG result);

}  // namespace opossvc::detail

#endif  // OPOSSVC_TRACE_TRACE_TEXT_H_
