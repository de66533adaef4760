// ConvStrToBin and ConvBinToStr: the export format's hexadecimal byte lists.
#include <vector>

#include <opossvc/afx/exceptions.h>
#include <opossvc/util.h>

#include "util/reg_file_syntax.h"

BSTR ConvStrToBin(const char* text) {
  std::vector<BYTE> bytes;
  if (text != nullptr) {
    try {
      bytes = opossvc::detail::HexToBytes(text);
    } catch (const std::bad_alloc&) {
      AfxThrowMemoryException();
    }
  }
  static const char kNothing = '\0';
  const char* data = bytes.empty() ? &kNothing : reinterpret_cast<const char*>(bytes.data());
  BSTR result = SysAllocStringByteLen(data, static_cast<UINT>(bytes.size()));
  if (result == nullptr) AfxThrowMemoryException();
  return result;
}

CString ConvBinToStr(const CByteArray& data) {
  static constexpr char kHex[] = "0123456789abcdef";
  CString text;
  INT_PTR count = data.GetSize();
  if (count == 0) return text;
  if (count <= 0x7FFFFFFF / 3) text.Preallocate(static_cast<int>(count * 3));
  for (INT_PTR i = 0; i < count; ++i) {
    if (i > 0) text.AppendChar(',');
    BYTE byte = data[i];
    text.AppendChar(kHex[byte >> 4]);
    text.AppendChar(kHex[byte & 0xF]);
  }
  return text;
}
