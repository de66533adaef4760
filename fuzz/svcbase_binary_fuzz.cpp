// The service object's binary conversions in every mode: arbitrary text
// decodes without reading past its length, and in the nibble and decimal
// modes every byte string survives ConvertToASCII then ConvertToBinary.
#include <cstdint>
#include <cstring>
#include <string>

#include <opossvc/opos.h>
#include <opossvc/svcbase.h>

#include "fuzz/fuzz_support.h"

namespace {

using opossvc::fuzz::Check;
using opossvc::fuzz::InputReader;

class ConvertingServiceObject : public CSvcBase {
 public:
  using CSvcBase::ConvertToASCII;
  using CSvcBase::ConvertToBinary;
};

ConvertingServiceObject& Object() {
  static auto* object = new ConvertingServiceObject();
  return *object;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader input(data, size);
  const LONG mode = input.Byte() % 4;  // 3 is no mode: must behave as some mode, safely
  const std::string rest = input.Rest();
  ConvertingServiceObject& object = Object();
  object.m_lBinaryConversion = mode;

  long error = -1;
  CString decoded = object.ConvertToBinary(rest.data(), static_cast<long>(rest.size()), &error);
  Check(error == 0 || error == OPOSSVC_E_CONVERSION, "decode error code");

  BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(rest.size()));
  for (size_t i = 0; i < rest.size(); ++i) wide[i] = static_cast<unsigned char>(rest[i]);
  error = -1;
  CString decoded_wide = object.ConvertToBinary(&wide, &error);
  Check(error == 0 || error == OPOSSVC_E_CONVERSION, "decode error code (BSTR)");
  SysFreeString(wide);

  CString encoded = object.ConvertToASCII(rest.data(), static_cast<long>(rest.size()));
  if (mode == 1 || mode == 2) {
    error = -1;
    CString back = object.ConvertToBinary(encoded, encoded.GetLength(), &error);
    Check(error == 0, "encoded text does not decode");
    Check(static_cast<size_t>(back.GetLength()) == rest.size() &&
              std::memcmp(static_cast<const char*>(back), rest.data(), rest.size()) == 0,
          "round trip");
  }
  return 0;
}
