// The JSON that the commands print for --json. Registry text is in the
// system code page; it is converted to UTF-16 and every character outside
// printable ASCII is written as a \u escape, so the output is plain ASCII and
// valid JSON whatever the names hold. Commas and nesting are kept by the
// writer: callers say what comes, in order.
#ifndef OPOSSVC_TOOLS_OPOSREG_JSON_WRITER_H_
#define OPOSSVC_TOOLS_OPOSREG_JSON_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace opossvc::oposreg {

class JsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // The name of the next member of the object being written.
  void Key(std::string_view name);
  void String(std::string_view text);  // code-page text
  void Number(int64_t number);
  void Bool(bool value);
  void Null();

  // Key and value in one call.
  void Member(std::string_view name, std::string_view text) {
    Key(name);
    String(text);
  }

  // The document so far, with a final line break once it is complete.
  std::string Text() const { return out_ + (open_.empty() && !out_.empty() ? "\n" : ""); }

 private:
  void BeforeValue();
  void Quoted(std::string_view text);

  std::string out_;
  std::vector<bool> open_;  // per open container: whether it holds a member yet
  bool after_key_ = false;
};

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_JSON_WRITER_H_
