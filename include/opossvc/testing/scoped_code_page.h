// ScopedCodePage: runs a test under another ANSI code page.
//
//   {
//     opossvc::testing::ScopedCodePage cp1252(1252);
//     ... CP_ACP, CString and BSTR conversions now use Windows-1252 ...
//   }  // the earlier OPOS_CODEPAGE setting is back
//
// It sets OPOS_CODEPAGE for the process while it lives (0 unsets it: the
// default, UTF-8). The environment is process-wide: change it only while no
// other thread converts text.
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

 private:
  bool had_setting_;
  std::string old_setting_;
};

}  // namespace testing
}  // namespace opossvc

#endif  // OPOSSVC_TESTING_SCOPED_CODE_PAGE_H_
