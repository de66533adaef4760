// FoldCaseKey over the system's case mapping. Windows offers no full case
// folding, so a letter that folds to several ("ß" to "ss") keeps its own key
// here; simple case mapping (LCMapStringEx) covers every other letter.
#include "platform/internal/fold_case_key.h"

#include <windows.h>

namespace opossvc::detail {
namespace {

void AppendLowerAscii(std::string_view text, std::string* key) {
  for (char c : text) key->push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The key of a run that decodes whole, or nothing when it does not.
bool FoldDecodable(std::string_view ansi, std::string* key) {
  int size = static_cast<int>(ansi.size());
  int wide_length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size, nullptr, 0);
  if (wide_length <= 0) return false;
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size, wide.data(), wide_length);
  int lower_length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(), wide_length,
                                   nullptr, 0, nullptr, nullptr, 0);
  if (lower_length <= 0) return false;
  std::wstring lower(static_cast<size_t>(lower_length), L'\0');
  LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(), wide_length, lower.data(),
                lower_length, nullptr, nullptr, 0);
  int utf8_length =
      WideCharToMultiByte(CP_UTF8, 0, lower.data(), lower_length, nullptr, 0, nullptr, nullptr);
  size_t start = key->size();
  key->resize(start + static_cast<size_t>(utf8_length));
  WideCharToMultiByte(CP_UTF8, 0, lower.data(), lower_length, key->data() + start, utf8_length,
                      nullptr, nullptr);
  return true;
}

}  // namespace

std::string FoldCaseKey(std::string_view ansi) {
  std::string key;
  if (IsAscii(ansi)) {
    AppendLowerAscii(ansi, &key);
    return key;
  }
  if (FoldDecodable(ansi, &key)) return key;
  // Some bytes decode to nothing: fold byte by byte, each undecodable byte
  // kept behind 0xFF. A lead byte and its trail decode together.
  for (size_t i = 0; i < ansi.size();) {
    size_t width = IsDBCSLeadByte(static_cast<BYTE>(ansi[i])) && i + 1 < ansi.size() ? 2 : 1;
    std::string_view piece = ansi.substr(i, width);
    if (!FoldDecodable(piece, &key)) {
      key.push_back('\xFF');
      key.push_back(ansi[i]);
      width = 1;
    }
    i += width;
  }
  return key;
}

}  // namespace opossvc::detail
