// UTF-16 text to the system's ANSI code page, sized by the converter itself,
// so that a character needing more bytes than its UTF-16 form (three UTF-8
// bytes for one BMP character) is never cut.
#ifndef OPOSSVC_SVCBASE_ANSI_TEXT_H_
#define OPOSSVC_SVCBASE_ANSI_TEXT_H_

#include <opossvc/afx/cstring.h>
#include <opossvc/win32/types.h>

namespace opossvc::detail {

// The conversion of chars UTF-16 units (zero units included); "" when there
// are none or the code page converts none.
CString WideToAnsi(const OLECHAR* text, UINT chars);

}  // namespace opossvc::detail

#endif  // OPOSSVC_SVCBASE_ANSI_TEXT_H_
