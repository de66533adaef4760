#include "platform/posix/registry/registry_names.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

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

// Four ASCII bytes as they lie in memory, upper-cased, as the eight bytes of
// their UTF-16BE units (each byte after a zero byte), four at a time.
uint64_t UpperAsciiUnits(uint32_t four) {
  // A byte from 'a' gets its top bit from the first sum, one past 'z' from
  // the second: the lower-case letters are those where just one did.
  const uint32_t from_a = four + 0x1F1F1F1Fu;  // 0x80 - 'a' in each byte
  const uint32_t past_z = four + 0x05050505u;  // 0x80 - ('z' + 1)
  const uint32_t lower = (from_a ^ past_z) & 0x80808080u;
  const uint64_t upper = four - (lower >> 2);  // 'a' - 'A' is 0x20
  uint64_t units = (upper | upper << 16) & 0x0000FFFF0000FFFFull;
  units = (units | units << 8) & 0x00FF00FF00FF00FFull;
  // The zero byte of each unit first in memory: below its letter's byte on a
  // little-endian machine, above it on a big-endian one.
  return std::endian::native == std::endian::little ? units << 8 : units;
}

// A name of ASCII caller text in a code page that keeps ASCII: the same
// name as MakeName makes from its UTF-16 text, without converting. Every
// field of *made is set.
void MakeAsciiName(std::string_view name, RegistryName* made) {
  made->text.assign(name);
  const size_t size = name.size();
  char* key = made->key.Resize(size * 2);
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    uint32_t four;
    std::memcpy(&four, name.data() + i, 4);
    const uint64_t units = UpperAsciiUnits(four);
    std::memcpy(key + 2 * i, &units, 8);
  }
  for (; i < size; ++i) {
    const char c = name[i];
    key[2 * i] = '\0';
    key[2 * i + 1] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  made->length = size;
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
  const std::string_view text(name);
  if (!PlainAscii(text)) return MakeName(CallerToUtf16(text));
  RegistryName made;
  MakeAsciiName(text, &made);
  return made;
}

}  // namespace opossvc::detail
