// Small tools shared by the registry store tests.
#ifndef OPOSSVC_TESTS_PLATFORM_REGISTRY_REGISTRY_TEST_SUPPORT_H_
#define OPOSSVC_TESTS_PLATFORM_REGISTRY_REGISTRY_TEST_SUPPORT_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <opossvc/win32/registry.h>

#include "tests/support/child_process.h"
#include "tests/support/scoped_env.h"

namespace opossvc::registry_test {

// An HKEY closed at the end of its scope.
class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() { Reset(); }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  HKEY get() const { return key_; }
  PHKEY out() {
    Reset();
    return &key_;
  }
  HKEY Release() { return std::exchange(key_, nullptr); }
  void Reset() {
    if (key_ != nullptr) RegCloseKey(Release());
  }

 private:
  HKEY key_ = nullptr;
};

LONG Create(HKEY parent, const char* path, ScopedKey* key, DWORD* disposition = nullptr,
            REGSAM access = KEY_ALL_ACCESS, const char* klass = nullptr);
LONG Open(HKEY parent, const char* path, ScopedKey* key, REGSAM access = KEY_ALL_ACCESS);
LONG SetBytes(HKEY key, const char* name, DWORD type, std::string_view bytes);  // exactly these
LONG SetText(HKEY key, const char* name, std::string_view text);  // REG_SZ with its NUL
// The data of a value, or nothing when it cannot be read.
std::optional<std::string> ReadBytes(HKEY key, const char* name, DWORD* type = nullptr);
// All subkey or value names, in the order the registry lists them.
std::vector<std::string> SubkeyNames(HKEY key);
std::vector<std::string> ValueNames(HKEY key);

using test_support::ChildChecks;
using test_support::ChildProcess;
using test_support::Pipe;
using test_support::RunInChild;
using test_support::ScopedEnv;

}  // namespace opossvc::registry_test

#endif  // OPOSSVC_TESTS_PLATFORM_REGISTRY_REGISTRY_TEST_SUPPORT_H_
