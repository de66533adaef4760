#include <opossvc/testing/temp_registry.h>

// The seeding helpers, over the Win32 calls; where the private store comes
// from is the platform's part (testing/<platform>/temp_registry_root.cpp).

namespace opossvc::testing {
namespace {

// A key opened or created for the lifetime of one helper call.
class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  LONG Create(HKEY root, std::string_view path) {
    std::string name(path);
    return RegCreateKeyExA(root, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
  }
  LONG Open(HKEY root, std::string_view path) {
    std::string name(path);
    return RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &key_);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

LONG TempRegistry::CreateKey(HKEY root, std::string_view key) {
  ScopedKey created;
  return created.Create(root, key);
}

LONG TempRegistry::SetValue(HKEY root, std::string_view key, std::string_view name, DWORD type,
                            std::string_view bytes) {
  ScopedKey created;
  if (LONG status = created.Create(root, key); status != ERROR_SUCCESS) return status;
  std::string value_name(name);
  // A byte that is no NUL after the data: a string's size is taken as given
  // (RegSetValueExA counts a NUL that follows the data in).
  const std::string data = std::string(bytes) + 'x';
  return RegSetValueExA(created.get(), value_name.c_str(), 0, type,
                        reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(bytes.size()));
}

LONG TempRegistry::SetString(HKEY root, std::string_view key, std::string_view name,
                             std::string_view value) {
  std::string with_nul(value);
  with_nul.push_back('\0');
  return SetValue(root, key, name, REG_SZ, with_nul);
}

LONG TempRegistry::SetDword(HKEY root, std::string_view key, std::string_view name, DWORD value) {
  unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                            static_cast<unsigned char>(value >> 16),
                            static_cast<unsigned char>(value >> 24)};
  return SetValue(root, key, name, REG_DWORD,
                  std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

LONG TempRegistry::SetBinary(HKEY root, std::string_view key, std::string_view name,
                             const std::vector<BYTE>& value) {
  return SetValue(root, key, name, REG_BINARY,
                  std::string_view(reinterpret_cast<const char*>(value.data()), value.size()));
}

std::optional<std::string> TempRegistry::GetValue(HKEY root, std::string_view key,
                                                  std::string_view name, DWORD* type) const {
  ScopedKey opened;
  if (opened.Open(root, key) != ERROR_SUCCESS) return std::nullopt;
  std::string value_name(name);
  DWORD size = 0;
  DWORD value_type = REG_NONE;
  if (RegQueryValueExA(opened.get(), value_name.c_str(), nullptr, &value_type, nullptr, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::string data(size, '\0');
  if (RegQueryValueExA(opened.get(), value_name.c_str(), nullptr, &value_type,
                       reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.resize(size);
  if (type != nullptr) *type = value_type;
  return data;
}

bool TempRegistry::KeyExists(HKEY root, std::string_view key) const {
  ScopedKey opened;
  return opened.Open(root, key) == ERROR_SUCCESS;
}

}  // namespace opossvc::testing
