#include "platform/posix/registry/registry_names.h"

#include <algorithm>

#include <opossvc/win32/errors.h>

#include "platform/posix/text/ansi_codepage.h"
#include "platform/posix/text/ordinal_case.h"
#include "platform/posix/registry/registry_text.h"

namespace opossvc::detail {

RegistryName MakeName(std::u16string_view name) {
  RegistryName made;
  made.text = Utf16ToAnsi(name, kUtf8CodePage);
  char* key = made.key.Resize(name.size() * 2);
  for (char16_t unit : name) {
    const char16_t upper = UpperCaseUnit(unit);
    *key++ = static_cast<char>(upper >> 8);
    *key++ = static_cast<char>(upper & 0xFF);
  }
  made.length = name.size();
  return made;
}

namespace {

// A name of ASCII caller text in a code page that keeps ASCII: the same
// name as MakeName makes from its UTF-16 text, without converting. Every
// field of *made is set.
void MakeAsciiName(std::string_view name, RegistryName* made) {
  made->text.assign(name);
  char* key = made->key.Resize(name.size() * 2);
  for (const char c : name) {
    *key++ = '\0';
    *key++ = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  made->length = name.size();
}

}  // namespace

LONG ParseKeyPath(const char* path, KeyPath* out) {
  out->names.clear();
  if (path == nullptr || *path == '\0') return ERROR_SUCCESS;
  if (const std::string_view bytes(path); PlainAscii(bytes)) {
    if (bytes.front() == '\\') return ERROR_BAD_PATHNAME;
    out->names.reserve(static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\\')) + 1);
    for (std::string_view rest = bytes; !rest.empty();) {
      const size_t end = rest.find('\\');
      const std::string_view name = rest.substr(0, end);
      if (!name.empty()) MakeAsciiName(name, &out->names.Add());
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
    return ERROR_SUCCESS;
  }
  const std::u16string text = CallerToUtf16(path);
  std::u16string_view rest(text);
  if (rest.front() == u'\\') return ERROR_BAD_PATHNAME;
  while (!rest.empty()) {
    const size_t end = rest.find(u'\\');
    const std::u16string_view name = rest.substr(0, end);
    if (!name.empty()) out->names.push_back(MakeName(name));
    if (end == std::u16string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return ERROR_SUCCESS;
}

LONG CheckKeyNameLengths(const KeyPath& path) {
  for (const RegistryName& name : path.names) {
    if (name.length > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

LONG MakeKeyName(std::string_view name, RegistryName* out) {
  if (PlainAscii(name)) {
    if (name.empty() || name.find('\\') != std::string_view::npos) return ERROR_FILE_NOT_FOUND;
    MakeAsciiName(name, out);
    return ERROR_SUCCESS;
  }
  const std::u16string text = CallerToUtf16(name);
  if (text.empty() || text.find(u'\\') != std::u16string::npos) return ERROR_FILE_NOT_FOUND;
  *out = MakeName(text);
  return ERROR_SUCCESS;
}

RegistryName MakeValueName(const char* name) {
  if (name == nullptr || *name == '\0') return RegistryName{};
  if (!PlainAscii(name)) return MakeName(CallerToUtf16(name));
  RegistryName made;
  MakeAsciiName(name, &made);
  return made;
}

}  // namespace opossvc::detail
