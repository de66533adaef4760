#include "tests/platform/registry/registry_test_support.h"

namespace opossvc::registry_test {

LONG Create(HKEY parent, const char* path, ScopedKey* key, DWORD* disposition, REGSAM access,
            const char* klass) {
  return RegCreateKeyExA(parent, path, 0, const_cast<char*>(klass), REG_OPTION_NON_VOLATILE, access,
                         nullptr, key->out(), disposition);
}

LONG Open(HKEY parent, const char* path, ScopedKey* key, REGSAM access) {
  return RegOpenKeyExA(parent, path, 0, access, key->out());
}

LONG SetBytes(HKEY key, const char* name, DWORD type, std::string_view bytes) {
  // Followed by a byte that is no NUL, so that a string's size is taken as
  // it is given (a NUL right after it would be counted in).
  const std::string buffer = std::string(bytes) + 'x';
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(buffer.data()),
                        static_cast<DWORD>(bytes.size()));
}

LONG SetText(HKEY key, const char* name, std::string_view text) {
  return SetBytes(key, name, REG_SZ, std::string(text) + '\0');
}

std::optional<std::string> ReadBytes(HKEY key, const char* name, DWORD* type) {
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) return {};
  std::string data(size, '\0');
  auto* buffer = reinterpret_cast<BYTE*>(data.data());
  if (RegQueryValueExA(key, name, nullptr, type, buffer, &size) != ERROR_SUCCESS) return {};
  data.resize(size);
  return data;
}

namespace {

std::vector<std::string> Names(HKEY key, bool values) {
  std::vector<std::string> names;
  std::string name(16384, '\0');  // the longest value name, and more than any key name
  for (DWORD i = 0, size = 16384;
       (values ? RegEnumValueA(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr)
               : RegEnumKeyExA(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr)) ==
       ERROR_SUCCESS;
       ++i, size = 16384) {
    names.emplace_back(name.data(), size);
  }
  return names;
}

}  // namespace

std::vector<std::string> SubkeyNames(HKEY key) { return Names(key, false); }
std::vector<std::string> ValueNames(HKEY key) { return Names(key, true); }

}  // namespace opossvc::registry_test
