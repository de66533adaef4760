// Values of every supported type, bit patterns and texts included, to
// VariantChangeType: the result is one of the documented codes; a failure
// leaves the destination as it was; a conversion in place gives what a
// conversion into another variant gives; an integer survives its way
// through text; nothing leaks.
#include <cstdint>
#include <cstring>
#include <string>

#include <opossvc/win32/oleauto.h>

#include "fuzz/fuzz_support.h"

namespace {

using opossvc::fuzz::Check;
using opossvc::fuzz::InputReader;

struct Type {
  VARTYPE vt;
  size_t size;  // bytes of the value; 0 for none or a BSTR
  bool integer;
};

constexpr Type kTypes[] = {
    {VT_EMPTY, 0, false}, {VT_NULL, 0, false},  {VT_I1, 1, true},     {VT_I2, 2, true},
    {VT_I4, 4, true},     {VT_I8, 8, true},     {VT_UI1, 1, true},    {VT_UI2, 2, true},
    {VT_UI4, 4, true},    {VT_UI8, 8, true},    {VT_INT, 4, true},    {VT_UINT, 4, true},
    {VT_R4, 4, false},    {VT_R8, 8, false},    {VT_CY, 8, false},    {VT_DATE, 8, false},
    {VT_BOOL, 2, false},  {VT_BSTR, 0, false},  {VT_ERROR, 4, false}, {VT_DECIMAL, 0, false},
};
constexpr size_t kTypeCount = sizeof(kTypes) / sizeof(kTypes[0]);

const Type& TypeOf(VARTYPE vt) {
  for (const Type& type : kTypes) {
    if (type.vt == vt) return type;
  }
  return kTypes[0];
}

bool Allowed(HRESULT hr) {
  return hr == S_OK || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW ||
         hr == DISP_E_BADVARTYPE || hr == E_INVALIDARG || hr == E_OUTOFMEMORY;
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  if (a.vt == VT_BSTR) {
    const UINT length = SysStringByteLen(a.bstrVal);
    return length == SysStringByteLen(b.bstrVal) &&
           (length == 0 || std::memcmp(a.bstrVal, b.bstrVal, length) == 0);
  }
  return std::memcmp(&a.llVal, &b.llVal, TypeOf(a.vt).size) == 0;
}

// An integer converted to text and back is the same integer.
void CheckTextRoundTrip(const VARIANT& value) {
  VARIANT text, back;
  VariantInit(&text);
  VariantInit(&back);
  Check(VariantChangeType(&text, &value, 0, VT_BSTR) == S_OK, "integer to text failed");
  Check(VariantChangeType(&back, &text, 0, value.vt) == S_OK, "integer text not read back");
  Check(SameValue(value, back), "integer changed through text");
  VariantClear(&text);
  VariantClear(&back);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader input(data, size);
  const Type& from = kTypes[input.Byte() % kTypeCount];
  const Type& to = kTypes[input.Byte() % kTypeCount];
  const auto flags = static_cast<USHORT>(input.Byte() & (VARIANT_NOVALUEPROP | VARIANT_ALPHABOOL));
  const uint64_t bits = static_cast<uint64_t>(input.Dword()) | static_cast<uint64_t>(input.Dword()) << 32;
  const std::string text = input.Rest();

  VARIANT source;
  VariantInit(&source);
  source.vt = from.vt;
  if (from.vt == VT_BSTR) {
    std::u16string wide(text.begin(), text.end());  // one unit a byte: numbers are likely
    source.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  } else if (from.vt != VT_DECIMAL) {
    std::memcpy(&source.llVal, &bits, from.size);
  }

  VARIANT into;
  VariantInit(&into);
  into.vt = VT_I4;
  into.lVal = 0x5A5A5A5A;
  const VARIANT untouched = into;
  const HRESULT hr = VariantChangeType(&into, &source, flags, to.vt);
  Check(Allowed(hr), "undocumented result");
  if (FAILED(hr)) {
    Check(into.vt == untouched.vt && into.lVal == untouched.lVal, "a failure changed the destination");
  } else {
    Check(into.vt == to.vt, "result of another type");
    if (to.integer) CheckTextRoundTrip(into);
  }

  VARIANT in_place;
  VariantInit(&in_place);
  Check(from.vt == VT_DECIMAL || VariantCopy(&in_place, &source) == S_OK, "copy failed");
  if (from.vt != VT_DECIMAL) {
    const HRESULT in_place_hr = VariantChangeType(&in_place, &in_place, flags, to.vt);
    Check(in_place_hr == hr, "in place: another result");
    if (SUCCEEDED(hr)) Check(SameValue(into, in_place), "in place: another value");
  }

  VariantClear(&in_place);
  VariantClear(&into);
  if (from.vt != VT_DECIMAL) VariantClear(&source);
  return 0;
}
