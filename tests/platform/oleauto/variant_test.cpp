#include <cstddef>
#include <string>

#include <gtest/gtest.h>

#include <opossvc/testing/recording_control_object.h>
#include <opossvc/win32/oleauto.h>

namespace {

using opossvc::testing::Variant;

// A variant of type `vt` whose eight value bytes hold `bits`.
Variant Raw(VARTYPE vt, LONGLONG bits = 0) {
  Variant v;
  v.ptr()->vt = vt;
  v.ptr()->llVal = bits;
  return v;
}

Variant Cy(LONGLONG units) { return Raw(VT_CY, units); }

// The Win64 layout, which code copying variants by their fields relies on.
static_assert(sizeof(VARIANT) == 8 + 2 * sizeof(void*) && offsetof(VARIANT, lVal) == 8);
static_assert(sizeof(CY) == 8 && offsetof(CY, Hi) == 4 && offsetof(VARIANT, decVal) == 0);
static_assert(sizeof(DECIMAL) == 16);

// The converted value as text, so that one table covers every target type.
// clang-format off
std::string Show(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: return std::to_string(static_cast<signed char>(v.cVal));
    case VT_I2: return std::to_string(v.iVal);
    case VT_UI2: return std::to_string(v.uiVal);
    case VT_I4: return std::to_string(v.lVal);
    case VT_UI1: return std::to_string(v.bVal);
    case VT_UI4: return std::to_string(v.ulVal);
    case VT_UI8: return std::to_string(v.ullVal);
    case VT_BOOL: return v.boolVal == VARIANT_TRUE ? "TRUE" : v.boolVal == 0 ? "FALSE" : "?";
    case VT_CY: return "cy:" + std::to_string(v.cyVal.int64);
    case VT_BSTR: return "'" + std::string(v.bstrVal, v.bstrVal + SysStringLen(v.bstrVal)) + "'";
    default: return "vt" + std::to_string(v.vt);
  }
}
// clang-format on

// What VariantChangeType made of a value: the value as text, "overflow" or
// "mismatch".
std::string Changed(const Variant& from, VARTYPE to, USHORT flags = 0) {
  VARIANT out{};
  const HRESULT hr = VariantChangeType(&out, &from.get(), flags, to);
  std::string result = hr == DISP_E_OVERFLOW       ? "overflow"
                       : hr == DISP_E_TYPEMISMATCH ? "mismatch"
                       : hr != S_OK                ? "hr " + std::to_string(hr)
                       : out.vt != to              ? "of type " + std::to_string(out.vt)
                                                   : Show(out);
  if (hr != S_OK && out.vt != VT_EMPTY) result += ", out touched";
  VariantClear(&out);
  return result;
}

TEST(VariantChangeType, Conversions) {
  const struct {
    Variant from;
    VARTYPE to;
    const char* expected;
  } cases[] = {
      // clang-format off
      {Variant::I4(-7), VT_BSTR, "'-7'"},       {Variant::Text(OLESTR(" 42 ")), VT_I4, "42"},
      {Variant::Text(OLESTR("+5")), VT_I2, "5"},       {Variant::Text(OLESTR("1e3")), VT_I4, "1000"},
      // Rounding half to even, from text, reals and currency alike.
      {Variant::Text(OLESTR("2.5")), VT_I4, "2"},      {Variant::Text(OLESTR("3.5")), VT_I4, "4"},
      {Variant::Text(OLESTR("2.5000001")), VT_I4, "3"}, {Variant::R8(1.5), VT_I2, "2"},
      {Cy(-35000), VT_I4, "-4"},
      // Text to currency is exact to the last of its four decimals.
      {Variant::Text(OLESTR("123.45678")), VT_CY, "cy:1234568"},
      {Variant::Text(OLESTR("922337203685477.5808")), VT_CY, "overflow"},
      {Cy(-10001), VT_BSTR, "'-1.0001'"},       {Cy(20000), VT_BSTR, "'2'"},
      {Variant::I4(3), VT_CY, "cy:30000"},
      // Ranges.
      {Variant::Text(OLESTR("4294967296")), VT_I4, "overflow"},
      {Variant::Text(OLESTR("99999999999999999999999999999999999999999")), VT_I8, "overflow"},
      {Variant::I4(-1), VT_UI2, "overflow"},    {Variant::R8(1e300), VT_R4, "overflow"},
      {Variant::R8(1e300), VT_I8, "overflow"},  {Variant::R8(1e7), VT_DATE, "overflow"},
      {Variant::Text(OLESTR("1e400")), VT_R8, "overflow"},
      // Integers of one width keep their bits, whatever their signs.
      {Variant::I4(-1), VT_UI4, "4294967295"},  {Raw(VT_UINT, 0xFFFFFFFF), VT_I4, "-1"},
      {Variant::I8(-1), VT_UI8, "18446744073709551615"},
      // Booleans are -1 and 0, and keep their bits in every integer type.
      {Variant::Bool(true), VT_I4, "-1"},       {Variant::Bool(true), VT_UI1, "255"},
      {Raw(VT_BOOL, 1), VT_UI4, "1"},           {Raw(VT_BOOL, 1), VT_BSTR, "'1'"},
      {Variant::Bool(true), VT_BSTR, "'-1'"},   {Variant::I4(2), VT_BOOL, "TRUE"},
      {Variant::Text(OLESTR("False")), VT_BOOL, "FALSE"}, {Variant::Text(OLESTR("0.1")), VT_BOOL, "TRUE"},
      // Reals as text, in the invariant locale.
      {Variant::R8(0.1), VT_BSTR, "'0.1'"},
      // Empty is zero or nothing; null and text that is no number are refused.
      {Variant(), VT_I4, "0"},                  {Variant(), VT_BSTR, "''"},
      {Raw(VT_NULL), VT_I4, "mismatch"},        {Variant::Text(OLESTR("abc")), VT_I4, "mismatch"},
      {Variant::Text(OLESTR("1 2")), VT_I4, "mismatch"}, {Variant::Text(OLESTR("1e")), VT_I4, "mismatch"},
      {Variant::Text(OLESTR("\uFF11")), VT_I4, "mismatch"},  // a full-width digit
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Changed(c.from, c.to), c.expected) << Show(c.from.get()) << " -> vt" << c.to;
  }
}

TEST(Variant, ConversionsAndCopyIndFollowReferences) {
  LONG value = 12;
  BSTR text = SysAllocString(OLESTR("34"));
  VARIANT by_ref_long{}, by_ref_text{}, by_ref_variant{}, out{};
  by_ref_long.vt = VT_I4 | VT_BYREF;
  by_ref_long.plVal = &value;
  by_ref_text.vt = VT_BSTR | VT_BYREF;
  by_ref_text.pbstrVal = &text;
  VARIANT inner = by_ref_text;
  by_ref_variant.vt = VT_VARIANT | VT_BYREF;
  by_ref_variant.pvarVal = &inner;

  EXPECT_EQ(VariantChangeType(&out, &by_ref_long, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Show(out), "'12'");
  // A variant reference may lead to a value reference, not to another variant one.
  EXPECT_EQ(VariantChangeType(&out, &by_ref_variant, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 34);
  ASSERT_EQ(VariantCopyInd(&out, &by_ref_variant), S_OK);
  ASSERT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(std::basic_string<OLECHAR>(out.bstrVal), OLESTR("34"));

  // A copy of the referred string, not of the reference.
  ASSERT_EQ(VariantCopyInd(&out, &by_ref_text), S_OK);
  ASSERT_EQ(out.vt, VT_BSTR);
  EXPECT_NE(out.bstrVal, text);
  EXPECT_EQ(std::basic_string<OLECHAR>(out.bstrVal), OLESTR("34"));
  VariantClear(&out);
  SysFreeString(text);
}

TEST(VariantChangeType, InPlaceFreesTheOldStringOnlyOnSuccess) {
  VARIANT v{};
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(OLESTR("77"));
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);  // the leak checker sees the BSTR go
  EXPECT_EQ(v.lVal, 77);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(OLESTR("seven"));
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(std::basic_string<OLECHAR>(v.bstrVal), OLESTR("seven"));
  VariantClear(&v);
}

// Types no VARIANT may hold by value.
TEST(Variant, InvalidTypesAreRefusedAndLeftAlone) {
  const VARTYPE types[] = {0x0FFF, VT_I4 | VT_VECTOR};
  for (VARTYPE type : types) {
    SCOPED_TRACE(type);
    VARIANT v{}, out{};
    v.vt = type;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    EXPECT_EQ(v.vt, type);
    EXPECT_EQ(VariantCopy(&out, &v), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantCopy(&v, &v), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_I4), DISP_E_BADVARTYPE);
    EXPECT_EQ(out.vt, VT_EMPTY);
  }
}

}  // namespace
