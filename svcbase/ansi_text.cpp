#include "svcbase/ansi_text.h"

#include <climits>
#include <string>

#include <opossvc/win32/codepage.h>

namespace opossvc::detail {

CString WideToAnsi(const OLECHAR* text, UINT chars) {
  if (text == nullptr || chars == 0 || chars > static_cast<UINT>(INT_MAX)) return CString();
  int length = static_cast<int>(chars);
  int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return CString();
  std::string buffer(static_cast<size_t>(bytes), '\0');
  int written =
      WideCharToMultiByte(CP_ACP, 0, text, length, buffer.data(), bytes, nullptr, nullptr);
  if (written <= 0) return CString();
  return CString(buffer.data(), written);
}

}  // namespace opossvc::detail
