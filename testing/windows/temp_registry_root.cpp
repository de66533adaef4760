// The private registry of a TempRegistry on Windows: HKEY_LOCAL_MACHINE of
// this process is redirected (RegOverridePredefKey) to a fresh key below
// HKEY_CURRENT_USER, which the destructor removes. root() names that key.
#include <opossvc/testing/temp_registry.h>

#include <atomic>
#include <system_error>
#include <vector>

namespace opossvc::testing {
namespace {

constexpr char kBase[] = "Software\\opossvc-test";

// The keys HKEY_LOCAL_MACHINE was redirected to, innermost last, so that a
// nested TempRegistry puts back the one it found. Changed only by
// TempRegistry's constructor and destructor, which run while no other thread
// uses the registry (as on POSIX).
std::vector<HKEY>& Overrides() {
  static std::vector<HKEY> overrides;
  return overrides;
}

}  // namespace

TempRegistry::TempRegistry() : owner_(static_cast<pid_t>(GetCurrentProcessId())) {
  static std::atomic<unsigned> serial{0};
  root_ = std::string(kBase) + "\\" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(GetTickCount64()) + "-" + std::to_string(serial++);
  HKEY key = nullptr;
  LONG error = RegCreateKeyExA(HKEY_CURRENT_USER, root_.c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (error == ERROR_SUCCESS) error = RegOverridePredefKey(HKEY_LOCAL_MACHINE, key);
  if (error != ERROR_SUCCESS) {
    if (key != nullptr) RegCloseKey(key);
    RegDeleteTreeA(HKEY_CURRENT_USER, root_.c_str());
    throw std::system_error(static_cast<int>(error), std::system_category(),
                            "private HKEY_LOCAL_MACHINE at HKCU\\" + root_);
  }
  Overrides().push_back(key);
}

TempRegistry::~TempRegistry() {
  std::vector<HKEY>& overrides = Overrides();
  RegCloseKey(overrides.back());
  overrides.pop_back();
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, overrides.empty() ? nullptr : overrides.back());
  RegDeleteTreeA(HKEY_CURRENT_USER, root_.c_str());
}

}  // namespace opossvc::testing
