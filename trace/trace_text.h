// The text of one trace record, built with its CR LF line ends in one
// buffer that the writer hands to the file as it stands.
#ifndef OPOSSVC_TRACE_TRACE_TEXT_H_
#define OPOSSVC_TRACE_TRACE_TEXT_H_

#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <opossvc/win32/oleauto.h>
#include <opossvc/win32/types.h>

namespace opossvc::detail {

// A record's bytes: on the stack while they fit kInline bytes, on the heap
// beyond. When memory runs out the record is marked failed and everything
// after is dropped, so that a record is written whole or not at all.
class RecordText {
 public:
  RecordText() = default;
  ~RecordText() {
    if (data_ != inline_) std::free(data_);
  }
  RecordText(const RecordText&) = delete;
  RecordText& operator=(const RecordText&) = delete;

  bool failed() const { return failed_; }
  const char* data() const { return data_; }
  size_t size() const { return size_; }

  void Put(char c) {
    if (char* out = Room(1)) {
      *out = c;
      size_ += 1;
    }
  }
  void Put(std::string_view bytes) {
    if (char* out = Room(bytes.size())) {
      std::memcpy(out, bytes.data(), bytes.size());
      size_ += bytes.size();
    }
  }
  // A name (object, property, method) as given; a line feed in it ends a
  // line like any other, with CR LF.
  void PutName(const char* name);
  // Bytes below 0x20 and from 0x7F as \xNN, the rest as they are.
  void PutEscaped(std::string_view bytes);
  // The bytes in double quotes, escaped.
  void PutQuoted(std::string_view bytes);
  // A UTF-16 text up to its NUL (none for null), in the system code page,
  // in double quotes, escaped.
  void PutQuotedWide(const OLECHAR* text);
  // "%ld (0x%.8lx)" of the 32-bit value.
  void PutNumber(LONG value);
  // "Hi = %ld, Lo = %ld (Hi = 0x%.8lx, Lo = 0x%.8lx)".
  void PutCurrency(const CY& value);
  // "TRUE" when the value is not 0, else "FALSE".
  void PutBoolean(int value) { Put(value != 0 ? std::string_view("TRUE", 4) : std::string_view("FALSE", 5)); }
  void EndLine() { Put(std::string_view("\r\n", 2)); }

 private:
  static constexpr size_t kInline = 512;

  // Room for `count` more bytes at data() + size(), which the caller fills
  // and then counts into size_; null once the record has failed.
  char* Room(size_t count) {
    if (failed_) return nullptr;
    if (capacity_ - size_ < count && !Grow(count)) return nullptr;
    return data_ + size_;
  }
  bool Grow(size_t count);
  // Escapes the bytes from `from` to the end in place.
  void EscapeTail(size_t from);

  char inline_[kInline];
  char* data_ = inline_;
  size_t size_ = 0;
  size_t capacity_ = kInline;
  bool failed_ = false;
};

// "<object>.<property><separator>".
void PutPropertyPrefix(RecordText& record, const char* object, const char* property,
                       char separator);
// The whole method record with its line end; `args` is read as `types` says.
void PutMethod(RecordText& record, const char* object, const char* method, int direction,
               const char* types, va_list args);
// The two result lines.
void PutResult(RecordText& record, const char* object, LONG result, LONG extended);
const char* ResultCodeName(LONG result);

}  // namespace opossvc::detail

#endif  // OPOSSVC_TRACE_TRACE_TEXT_H_
