#include <opossvc/testing/scoped_code_page.h>

#include <cstdlib>

namespace opossvc {
namespace testing {
namespace {

constexpr const char* kVariable = "OPOS_CODEPAGE";

}  // namespace

ScopedCodePage::ScopedCodePage(unsigned code_page)
    : ScopedCodePage(code_page == 0 ? nullptr : std::to_string(code_page).c_str()) {}

ScopedCodePage::ScopedCodePage(const char* setting) {
  const char* old = std::getenv(kVariable);
  had_setting_ = old != nullptr;
  if (had_setting_) old_setting_ = old;
  if (setting == nullptr) {
    unsetenv(kVariable);
  } else {
    setenv(kVariable, setting, 1);
  }
}

ScopedCodePage::~ScopedCodePage() {
  if (had_setting_) {
    setenv(kVariable, old_setting_.c_str(), 1);
  } else {
    unsetenv(kVariable);
  }
}

}  // namespace testing
}  // namespace opossvc
