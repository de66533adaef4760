// RegCreateKeyExA and RegSetValueExA with names, types and data of any
// bytes, in one of three code pages, then everything read back: a key opens
// again under its path in other letter case and lists under its name as
// written; a value lists under its name, is found under it in other letter
// case, and reads back with its type, and its data exactly (text as the
// code page writes it back, where it is valid text of the code page), with
// Win32's size rules: the size alone when asked for it, ERROR_MORE_DATA and
// the size for a buffer one byte short, the data for one that fits.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <opossvc/win32/codepage.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/registry.h>

#include "fuzz/fuzz_support.h"

namespace {

using opossvc::fuzz::Check;
using opossvc::fuzz::InputReader;
using opossvc::fuzz::Store;

constexpr char kBase[] = "SOFTWARE\\Fuzz";
constexpr char kKeys[] = "SOFTWARE\\Fuzz\\Keys";
constexpr char kValues[] = "SOFTWARE\\Fuzz\\Values";
const char* const kCodePages[] = {"65001", "1252", "932"};
const DWORD kTypes[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_NONE};

// The text as UTF-16 when it is valid in the active code page.
bool Decode(const std::string& text, std::u16string* out) {
  out->clear();
  if (text.empty()) return true;
  const int length = static_cast<int>(text.size());
  const int units =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (units <= 0) return false;
  out->resize(static_cast<size_t>(units));
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length,
                             reinterpret_cast<LPWSTR>(out->data()), units) == units;
}

std::string Encode(const std::u16string& text) {
  if (text.empty()) return std::string();
  const auto* wide = reinterpret_cast<LPCWSTR>(text.data());
  const int units = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, units, out.data(), bytes, nullptr, nullptr);
  return out;
}

// The text as the code page writes it back, when it is valid text of it.
bool Canonical(const std::string& text, std::string* out) {
  std::u16string wide;
  if (!Decode(text, &wide)) return false;
  *out = Encode(wide);
  return true;
}

// The text with every ASCII letter in the other case, when it is valid in
// the code page (a second byte of a double-byte character stays as it is).
bool OtherCase(const std::string& text, std::string* out) {
  std::u16string wide;
  if (!Decode(text, &wide)) return false;
  for (char16_t& unit : wide) {
    if (unit >= u'a' && unit <= u'z') {
      unit = static_cast<char16_t>(unit - 32);
    } else if (unit >= u'A' && unit <= u'Z') {
      unit = static_cast<char16_t>(unit + 32);
    }
  }
  *out = Encode(wide);
  return true;
}

// A name: a piece of the input up to its first NUL, repeated.
std::string Name(InputReader& input) {
  const uint8_t repeat = input.Byte() % 8 + 1;
  std::string piece = input.Bytes(64);
  piece.resize(piece.find('\0') == std::string::npos ? piece.size() : piece.find('\0'));
  std::string name;
  for (int i = 0; i < repeat; ++i) name += piece;
  return name;
}

// `key` was created at `path` below the empty `base`.
void CheckKey(HKEY base, const std::string& path, HKEY key) {
  Check(RegSetValueExA(key, "Mark", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\1\2\3\4"), 4) ==
            ERROR_SUCCESS,
        "a value in the created key");
  std::u16string wide;
  if (!Decode(path, &wide)) return;
  std::string other;
  OtherCase(path, &other);
  HKEY again = nullptr;
  Check(RegOpenKeyExA(base, other.c_str(), 0, KEY_READ, &again) == ERROR_SUCCESS,
        "the key opens in other letter case");
  DWORD size = 0;
  Check(RegQueryValueExA(again, "Mark", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
            size == 4,
        "the key opened in other case is the created one");
  RegCloseKey(again);
  // The path's first name is the base's one subkey.
  const size_t start = wide.find_first_not_of(u'\\');
  if (start == std::u16string::npos) return;
  const std::string first = Encode(wide.substr(start, wide.find(u'\\', start) - start));
  char listed[1024];
  DWORD length = sizeof listed;
  Check(RegEnumKeyExA(base, 0, listed, &length, nullptr, nullptr, nullptr, nullptr) ==
                ERROR_SUCCESS &&
            std::string(listed, length) == first,
        "the key lists under its name as written");
}

void CheckValue(HKEY key, const std::string& name, DWORD type, const std::string& written) {
  DWORD size = 0xFFFF;
  DWORD read_type = 0;
  Check(RegQueryValueExA(key, name.c_str(), nullptr, &read_type, nullptr, &size) == ERROR_SUCCESS,
        "the value is found");
  Check(read_type == type, "the type reads back");
  std::vector<BYTE> data(size + 8u, 0xEE);
  if (size > 0) {
    DWORD short_size = size - 1;
    Check(RegQueryValueExA(key, name.c_str(), nullptr, nullptr, data.data(), &short_size) ==
                  ERROR_MORE_DATA &&
              short_size == size,
          "a buffer one byte short gets ERROR_MORE_DATA and the size");
  }
  DWORD full = size;
  Check(RegQueryValueExA(key, name.c_str(), nullptr, nullptr, data.data(), &full) ==
                ERROR_SUCCESS &&
            full == size,
        "a buffer of the size gets the data");
  DWORD large = size + 8u;
  std::vector<BYTE> again(large, 0xEE);
  Check(RegQueryValueExA(key, name.c_str(), nullptr, nullptr, again.data(), &large) ==
                ERROR_SUCCESS &&
            large == size && std::equal(data.begin(), data.begin() + size, again.begin()),
        "a larger buffer gets the same data and size");
  const bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  std::string expected = written;
  if (!text || Canonical(written, &expected)) {
    Check(std::string(data.begin(), data.begin() + size) == expected,
          "the data reads back exactly");
  }
  std::string other, listed_name;
  if (!OtherCase(name, &other) || !Canonical(name, &listed_name)) return;
  DWORD other_size = 0;
  Check(RegQueryValueExA(key, other.c_str(), nullptr, nullptr, nullptr, &other_size) ==
                ERROR_SUCCESS &&
            other_size == size,
        "the value is found in other letter case");
  char listed[1024];
  DWORD length = sizeof listed;
  Check(RegEnumValueA(key, 0, listed, &length, nullptr, nullptr, nullptr, nullptr) ==
                ERROR_SUCCESS &&
            std::string(listed, length) == listed_name,
        "the value lists under its name as written");
}

HKEY CreateBase(const char* path) {
  HKEY key = nullptr;
  Check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS,
        "a base key");
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Store();
  InputReader input(data, size);
  setenv("OPOS_CODEPAGE", kCodePages[input.Byte() % 3], 1);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBase);
  HKEY keys = CreateBase(kKeys);
  HKEY values = CreateBase(kValues);

  const std::string path = Name(input);
  HKEY key = nullptr;
  DWORD disposition = 0;
  const LONG created = RegCreateKeyExA(keys, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       &key, &disposition);
  if (created == ERROR_SUCCESS) {
    Check(disposition == (path.empty() ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY),
          "a new key is reported created");
    CheckKey(keys, path, key);
    RegCloseKey(key);
  } else {
    Check(created == ERROR_BAD_PATHNAME || created == ERROR_INVALID_PARAMETER,
          "a key is refused for its path or the length of a name");
  }

  // A value: its name, its type, and its data with the byte
  // that follows it in memory, which a string's size may leave out.
  const std::string name = Name(input);
  const uint8_t type_byte = input.Byte();
  const DWORD type = type_byte < 240 ? kTypes[type_byte % 6] : input.Dword();
  const uint8_t after = input.Byte();
  std::string bytes = input.Rest();
  const DWORD data_size = static_cast<DWORD>(bytes.size());
  bytes.push_back(static_cast<char>(after));
  const LONG set = RegSetValueExA(values, name.c_str(), 0, type,
                                  reinterpret_cast<const BYTE*>(bytes.data()), data_size);
  Check(set == ERROR_SUCCESS, "a value is written");
  std::string written = bytes.substr(0, data_size);
  // A string whose size left out the NUL after it is stored with it.
  const bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  if (text && data_size > 0 && written.back() != '\0' && after == 0) written.push_back('\0');
  CheckValue(values, name, type, written);
  RegCloseKey(keys);
  RegCloseKey(values);
  return 0;
}
