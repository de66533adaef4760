// ScopedCodePage: runs a test under another ANSI code page.
//
//   {
//     opossvc::testing::ScopedCodePage cp1252(1252);
//     ... CP_ACP, CString and BSTR conversions now use Windows-1252 ...
//   }  // the earlier OPOS_CODEPAGE setting is back
//
// On POSIX it sets OPOS_CODEPAGE for the process while it lives (0 unsets
// it: the default, UTF-8). The environment is process-wide: change it only
// while no other thread converts text. Windows fixes the ANSI code page for
// the whole system: there the object changes nothing, and applied() tells
// whether the page asked for is the one in use anyway (a test skips when not).
#ifndef OPOSSVC_TESTING_SCOPED_CODE_PAGE_H_
#define OPOSSVC_TESTING_SCOPED_CODE_PAGE_H_

#include <string>

namespace opossvc {
namespace testing {

class ScopedCodePage {
 public:
  explicit ScopedCodePage(unsigned code_page);
  // Any text, valid or not, for tests of odd settings.
  explicit ScopedCodePage(const char* setting);
  ~ScopedCodePage();
  ScopedCodePage(const ScopedCodePage&) = delete;
  ScopedCodePage& operator=(const ScopedCodePage&) = delete;

  // Whether text is converted with the code page asked for while this lives.
  bool applied() const { return applied_; }

 private:
  bool applied_ = true;
  bool had_setting_ = false;
  std::string old_setting_;
};

}  // namespace testing
}  // namespace opossvc

#endif  // OPOSSVC_TESTING_SCOPED_CODE_PAGE_H_
