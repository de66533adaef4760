// Trace records of arbitrary values: every record reaches the file as whole
// CRLF-ended lines, and a value's bytes below 0x20 or from 0x7F never
// reach the file raw (names are written as given, so they are kept plain).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <opossvc/afx/dispatch_driver.h>
#include <opossvc/trace.h>

#include "fuzz/fuzz_support.h"

namespace {

using opossvc::fuzz::Check;
using opossvc::fuzz::InputReader;
using opossvc::fuzz::Store;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Store().root() + "/fuzz.log";
  unlink(path.c_str());
  CStdioFile* trace = OpenTrace(path.c_str());
  Check(trace != nullptr, "trace file did not open");

  InputReader input(data, size);
  const int length = static_cast<int>(input.Byte()) - 16;  // also 0 and negative
  const long number = static_cast<long>(static_cast<int32_t>(input.Dword()));
  const std::string value = input.Bytes();
  const std::string second = input.Bytes();
  const std::string text = value + '\0';  // a terminated copy for the NUL-reading forms
  CY currency;
  currency.int64 = static_cast<int64_t>(input.Dword()) << 32 | input.Dword();

  // A length beyond the value would read past it: clamp as a caller must.
  const int given = length > static_cast<int>(value.size()) ? static_cast<int>(value.size())
                                                            : length;
  OnGetProp(trace, "Obj", "Prop", text.c_str(), given);
  OnSetProp(trace, "Obj", "Prop", text.c_str(), given);
  OnGetProp(trace, "Obj", "Number", number);
  OnSetProp(trace, "Obj", "Flag", static_cast<int>(number));
  OnGetProp(trace, "Obj", "Money", currency);

  BSTR wide = SysAllocStringByteLen(second.data(), static_cast<UINT>(second.size()));
  long out_number = number;
  OnMethod(trace, "Obj", "Call", static_cast<int>(number & 1),
           VTS_BSTR VTS_I4 VTS_BOOL VTS_PI4 VTS_PBSTR VTS_R8 VTS_I2, text.c_str(), number,
           static_cast<int>(number), &out_number, &wide, 1.5, 7);
  OnMethod(trace, "Obj", "Nulls", 0, VTS_BSTR VTS_PI4 VTS_PBSTR, static_cast<const char*>(nullptr),
           static_cast<long*>(nullptr), static_cast<BSTR*>(nullptr));
  SysFreeString(wide);
  PutResultCode(trace, "Obj", number, number);
  CloseTrace(trace);
  Check(trace == nullptr, "CloseTrace left the handle");

  const std::string file = ReadAll(path);
  Check(file.size() >= 2 && file.compare(file.size() - 2, 2, "\r\n") == 0, "last line ends CRLF");
  for (size_t i = 0; i < file.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(file[i]);
    if (c == '\n') Check(i > 0 && file[i - 1] == '\r', "LF without CR");
    if (c == '\r') Check(i + 1 < file.size() && file[i + 1] == '\n', "CR without LF");
    Check(c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7F), "raw control byte in a record");
  }
  return 0;
}
