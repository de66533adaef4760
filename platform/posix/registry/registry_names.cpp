#include "platform/posix/registry/registry_names.h"

#include <cstdint>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <opossvc/win32/errors.h>

#include "platform/posix/text/ansi_codepage.h"

namespace opossvc::detail {
namespace {

// UTF-16 length of `text` in the active code page. A code page never needs
// more code units than bytes, so short texts are not decoded at all.
bool LengthAtMost(std::string_view text, size_t limit) {
  if (text.size() <= limit) return true;
  return AnsiToUtf16(text, ActiveCodePage()).size() <= limit;
}

}  // namespace

LONG ParseKeyPath(const char* path, KeyPath* out) {
  out->names.clear();
  if (path == nullptr) return ERROR_SUCCESS;
  std::string_view rest(path);
  if (!rest.empty() && rest.front() == '\\') return ERROR_BAD_PATHNAME;
  while (!rest.empty()) {
    size_t end = rest.find('\\');
    std::string_view name = rest.substr(0, end);
    if (!name.empty()) out->names.push_back(RegistryName{name, FoldCaseKey(name)});
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return ERROR_SUCCESS;
}

LONG CheckKeyNameLengths(const KeyPath& path) {
  for (const RegistryName& name : path.names) {
    if (!LengthAtMost(name.text, kMaxKeyNameLength)) return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

RegistryName MakeValueName(const char* name) {
  std::string_view text = name == nullptr ? std::string_view() : std::string_view(name);
  return RegistryName{text, FoldCaseKey(text)};
}

bool ValueNameLengthOk(std::string_view name) { return LengthAtMost(name, kMaxValueNameLength); }

std::string SortKey(std::string_view fold) {
  // Names reach this only after their length was checked.
  if (fold.size() > static_cast<size_t>(INT32_MAX)) return std::string(fold);
  std::string key;
  key.reserve(fold.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(fold.data());
  int32_t length = static_cast<int32_t>(fold.size());
  int32_t i = 0;
  while (i < length) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {
      // Bytes that are no UTF-8 sort as they stand.
      key.append(fold.data() + start, static_cast<size_t>(i - start));
      continue;
    }
    UChar32 upper = u_toupper(c);
    uint8_t encoded[U8_MAX_LENGTH];
    int32_t n = 0;
    UBool error = false;
    U8_APPEND(encoded, n, U8_MAX_LENGTH, upper, error);
    if (error) {
      key.append(fold.data() + start, static_cast<size_t>(i - start));
    } else {
      key.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(n));
    }
  }
  return key;
}

}  // namespace opossvc::detail
