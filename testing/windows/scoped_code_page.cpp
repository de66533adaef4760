// ScopedCodePage on Windows: the ANSI code page is the system's, so the
// object only tells whether the page asked for is the one in use.
#include <opossvc/testing/scoped_code_page.h>

#include <opossvc/win32/codepage.h>

namespace opossvc {
namespace testing {

ScopedCodePage::ScopedCodePage(unsigned code_page) : applied_(code_page == GetACP()) {}

ScopedCodePage::ScopedCodePage(const char* /*setting*/) : applied_(false) {}

ScopedCodePage::~ScopedCodePage() = default;

}  // namespace testing
}  // namespace opossvc
