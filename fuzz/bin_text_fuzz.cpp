// Hexadecimal byte lists both ways: any text converts without reading past
// its end, and every byte string survives ConvBinToStr then ConvStrToBin.
#include <cstdint>
#include <cstring>
#include <string>

#include <opossvc/util.h>
#include <opossvc/win32/oleauto.h>

#include "fuzz/fuzz_support.h"

using opossvc::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input as text, up to its first NUL as a C string is read.
  std::string text(reinterpret_cast<const char*>(data), size);
  BSTR parsed = ConvStrToBin(text.c_str());
  Check(parsed != nullptr, "ConvStrToBin gave null");
  // At most one byte per hexadecimal digit.
  Check(SysStringByteLen(parsed) <= std::strlen(text.c_str()), "more bytes than digits");
  SysFreeString(parsed);

  CByteArray bytes;
  bytes.SetSize(static_cast<INT_PTR>(size));
  if (size != 0) std::memcpy(bytes.GetData(), data, size);
  CString listed = ConvBinToStr(bytes);
  Check(static_cast<size_t>(listed.GetLength()) == (size == 0 ? 0 : size * 3 - 1),
        "ConvBinToStr length");
  BSTR back = ConvStrToBin(listed);
  Check(SysStringByteLen(back) == size, "round trip length");
  Check(size == 0 || std::memcmp(back, data, size) == 0, "round trip bytes");
  SysFreeString(back);
  return 0;
}
