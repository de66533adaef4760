// The record functions: each builds its lines and writes them at once.
#include <opossvc/trace.h>

#include <string_view>

#include "trace/trace_text.h"
#include "trace/trace_writer.h"

namespace {

using opossvc::detail::PutPropertyPrefix;
using opossvc::detail::RecordText;
using opossvc::detail::WriteTraceRecord;

std::string_view ValueBytes(const char* value, int length) {
  if (value == nullptr) return {};
  return length > 0 ? std::string_view(value, static_cast<size_t>(length)) : std::string_view(value);
}

void StringRecord(CStdioFile* file, const char* object, const char* property, char separator,
                  const char* value, int length) {
  if (file == nullptr) return;
  RecordText record;
  PutPropertyPrefix(record, object, property, separator);
  record.PutQuoted(ValueBytes(value, length));
  record.EndLine();
  WriteTraceRecord(file, record);
}

void BooleanRecord(CStdioFile* file, const char* object, const char* property, char separator,
                   int value) {
  if (file == nullptr) return;
  RecordText record;
  PutPropertyPrefix(record, object, property, separator);
  record.PutBoolean(value);
  record.EndLine();
  WriteTraceRecord(file, record);
}

void NumberRecord(CStdioFile* file, const char* object, const char* property, char separator,
                  long value) {
  if (file == nullptr) return;
  RecordText record;
  PutPropertyPrefix(record, object, property, separator);
  record.PutNumber(opossvc::Long32(value));
  record.EndLine();
  WriteTraceRecord(file, record);
}

void CurrencyRecord(CStdioFile* file, const char* object, const char* property, char separator,
                    const CY& value) {
  if (file == nullptr) return;
  RecordText record;
  PutPropertyPrefix(record, object, property, separator);
  record.PutCurrency(value);
  record.EndLine();
  WriteTraceRecord(file, record);
}

}  // namespace

void OnGetProp(CStdioFile* file, const char* object, const char* property, const char* value,
               int length) {
  StringRecord(file, object, property, ':', value, length);
}

void OnGetProp(CStdioFile* file, const char* object, const char* property, int value) {
  BooleanRecord(file, object, property, ':', value);
}

void OnGetProp(CStdioFile* file, const char* object, const char* property, long value) {
  NumberRecord(file, object, property, ':', value);
}

void OnGetProp(CStdioFile* file, const char* object, const char* property, CY value) {
  CurrencyRecord(file, object, property, ':', value);
}

void OnSetProp(CStdioFile* file, const char* object, const char* property, const char* value,
               int length) {
  StringRecord(file, object, property, '=', value, length);
}

void OnSetProp(CStdioFile* file, const char* object, const char* property, int value) {
  BooleanRecord(file, object, property, '=', value);
}

void OnSetProp(CStdioFile* file, const char* object, const char* property, long value) {
  NumberRecord(file, object, property, '=', value);
}

void OnSetProp(CStdioFile* file, const char* object, const char* property, CY value) {
  CurrencyRecord(file, object, property, '=', value);
}

void OnMethod(CStdioFile* file, const char* object, const char* method, int direction,
              const char* types, ...) {
  if (file == nullptr) return;
  RecordText record;
  va_list args;
  va_start(args, types);
  opossvc::detail::PutMethod(record, object, method, direction, types, args);
  va_end(args);
  WriteTraceRecord(file, record);
}

void PutResultCode(CStdioFile* file, const char* object, long result, long extended) {
  if (file == nullptr) return;
  RecordText record;
  opossvc::detail::PutResult(record, object, opossvc::Long32(result), opossvc::Long32(extended));
  WriteTraceRecord(file, record);
}
