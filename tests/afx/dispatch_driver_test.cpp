#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/dispatch_driver.h>
#include <opossvc/testing/recording_control_object.h>
#include <opossvc/testing/scoped_code_page.h>

#include "tests/support/exception_helpers.h"

namespace {

using opossvc::test::Thrown;
using opossvc::testing::RecordedCall;
using opossvc::testing::RecordingControlObject;
using opossvc::testing::ScopedCodePage;
using opossvc::testing::Variant;

// A VTS_* parameter string as InvokeHelper takes it.
const BYTE* Params(const char* vts) { return reinterpret_cast<const BYTE*>(vts); }

class DispatchDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    probe_ = co_.AddMethod("Probe");
    driver_.AttachDispatch(&co_, FALSE);
  }
  void TearDown() override {
    driver_.DetachDispatch();
    EXPECT_EQ(co_.RefCount(), 1u);  // the driver took and dropped no reference
  }

  RecordedCall LastCall() {
    const auto calls = co_.Calls();
    return calls.empty() ? RecordedCall() : calls.back();
  }

  // Passes one argument described by vts and returns it as the object saw
  // it, after checking the type it arrived as.
  template <class T>
  Variant Pass(const char* vts, T value, VARTYPE vt) {
    co_.ClearCalls();
    driver_.InvokeHelper(probe_, DISPATCH_METHOD, VT_EMPTY, nullptr, Params(vts), value);
    const RecordedCall call = LastCall();
    EXPECT_EQ(call.flags, DISPATCH_METHOD);
    EXPECT_EQ(call.types, std::vector<VARTYPE>{vt});
    return call.types == std::vector<VARTYPE>{vt} ? call.args[0] : Variant();
  }

  RecordingControlObject co_;
  COleDispatchDriver driver_;
  DISPID probe_ = 0;
};

TEST_F(DispatchDriverTest, MarshalsEachByValueType) {
  ScopedCodePage utf8(65001);
  if (!utf8.applied()) GTEST_SKIP() << "the code page is the system's here";
  RecordingControlObject other;
  IDispatch* dispatch = &other;
  IUnknown* unknown = &other;
  CY cy;
  cy.int64 = -12345;
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_I2;
  variant.iVal = -3;
  EXPECT_EQ(Pass(VTS_I2, short{-2}, VT_I2).get().iVal, -2);
  EXPECT_EQ(Pass(VTS_I4, 0x100000005L, VT_I4).get().lVal, 5) << "the low 32 bits";
  EXPECT_EQ(Pass(VTS_R4, 1.5f, VT_R4).get().fltVal, 1.5f);
  EXPECT_EQ(Pass(VTS_R8, 2.25, VT_R8).get().dblVal, 2.25);
  EXPECT_EQ(Pass(VTS_CY, &cy, VT_CY).get().cyVal.int64, -12345) << "CY by pointer";
  EXPECT_EQ(Pass(VTS_WBSTR, OLESTR("wide"), VT_BSTR).AsText(), OLESTR("wide"));
  EXPECT_EQ(Pass(VTS_BSTR, "caf\xC3\xA9", VT_BSTR).AsText(), OLESTR("caf\u00E9"));
  EXPECT_EQ(Pass(VTS_BSTR, static_cast<const char*>(nullptr), VT_BSTR).get().bstrVal, nullptr);
  EXPECT_EQ(Pass(VTS_DISPATCH, dispatch, VT_DISPATCH).get().llVal,
            reinterpret_cast<LONGLONG>(dispatch));
  EXPECT_EQ(Pass(VTS_UNKNOWN, unknown, VT_UNKNOWN).get().llVal,
            reinterpret_cast<LONGLONG>(unknown));
  EXPECT_EQ(Pass(VTS_SCODE, E_FAIL, VT_ERROR).get().scode, E_FAIL);
  EXPECT_EQ(Pass(VTS_BOOL, 7, VT_BOOL).get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(Pass(VTS_VARIANT, &variant, VT_I2).get().iVal, -3) << "a VARIANT as it is";
  EXPECT_EQ(Pass(VTS_UI4, 0xFFFFFFFFul, VT_UI4).get().ulVal, 0xFFFFFFFFu);
  EXPECT_EQ(Pass(VTS_I8, LONGLONG{-1} << 40, VT_I8).get().llVal, LONGLONG{-1} << 40);
  EXPECT_EQ(other.RefCount(), 1u);  // interfaces go without AddRef
}

TEST_F(DispatchDriverTest, ReferencesPointAtTheCallersVariables) {
  short i2 = 1;
  double r8 = 1;
  VARIANT_BOOL flag = VARIANT_FALSE;
  VARIANT variant;
  VariantInit(&variant);
  struct {  // a Windows-style DWORD and its neighbour: only the one passed is touched
    DWORD u4 = 0xFFFFFFFF;
    DWORD next = 0x1234;
  } members;
  long data = 0x100000007L;  // the upper half is no part of the 32-bit value the object sees
  BSTR text = SysAllocString(OLESTR("in"));
  const Variant outputs[] = {Variant::I4(10), Variant::I4(11), Variant::I4(12), Variant::I4(13),
                             Variant::I4(14), Variant::I4(-5), Variant::Text(OLESTR("out"))};
  for (size_t i = 0; i < 7; ++i) co_.SetOutput("Probe", i, outputs[i]);
  driver_.InvokeHelper(probe_, DISPATCH_METHOD, VT_EMPTY, nullptr,
                       Params(VTS_PI2 VTS_PR8 VTS_PBOOL VTS_PVARIANT VTS_PUI4 VTS_PI4 VTS_PBSTR),
                       &i2, &r8, &flag, &variant, &members.u4, &data, &text);
  const RecordedCall call = LastCall();
  const std::vector<VARTYPE> sent = {VT_I2, VT_R8, VT_BOOL, VT_VARIANT, VT_UI4, VT_I4, VT_BSTR};
  ASSERT_EQ(call.types.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(call.types[i], sent[i] | VT_BYREF) << i;
  EXPECT_EQ(call.args[4].get().ulVal, 0xFFFFFFFFu);
  EXPECT_EQ(call.I4(5), 7);
  EXPECT_EQ(call.Text(6), OLESTR("in"));
  EXPECT_EQ(i2, 10);
  EXPECT_EQ(r8, 11.0);
  EXPECT_EQ(flag, VARIANT_TRUE);
  EXPECT_EQ(variant.lVal, 13);
  EXPECT_EQ(members.u4, 14u);
  EXPECT_EQ(members.next, 0x1234u);
  EXPECT_EQ(data, -5);                      // sign-extended back into the long
  EXPECT_EQ(std::basic_string<OLECHAR>(text), OLESTR("out"));  // the old string was freed by the object
  SysFreeString(text);
}

TEST_F(DispatchDriverTest, ByReferenceLongIsCopiedBackWhenTheCallFails) {
  co_.OnCall("SOError", [](const RecordedCall&, DISPPARAMS* params, VARIANT*) {
    *params->rgvarg[0].plVal = 12;  // the error response, then a failure
    return E_FAIL;
  });
  // A service object's LONG members: only the one passed is written.
  struct {
    LONG response = 11;
    LONG next = 0x1234;
  } members;
  EXPECT_EQ(Thrown([&] {
              driver_.InvokeHelper(RecordingControlObject::kSOError, DISPATCH_METHOD, VT_EMPTY,
                                   nullptr, Params(VTS_I4 VTS_I4 VTS_I4 VTS_PI4), 111L, 0L, 2L,
                                   &members.response);
            }),
            "COleException 0x80004005");
  EXPECT_EQ(members.response, 12);
  EXPECT_EQ(members.next, 0x1234);
}

TEST_F(DispatchDriverTest, FailuresThrowAsTheFrameworkDoes) {
  constexpr DISPID kSOData = RecordingControlObject::kSOData;
  constexpr DISPID kDescription = RecordingControlObject::kControlObjectDescription;
  COleDispatchDriver unattached;
  const BYTE* bad_type = Params(VTS_I4 "\x01");  // 0x01 is no parameter type
  long v = 0;
  const struct {
    const char* name;
    std::function<void()> call;
    std::string thrown;
  } cases[] = {
      {"wrong argument type",
       [&] {
         driver_.InvokeHelper(kSOData, DISPATCH_METHOD, VT_EMPTY, nullptr, Params(VTS_I2), 5);
       },
       "COleException 0x80020005"},
      {"result of another type", [&] { driver_.GetProperty(kDescription, VT_I4, &v); },
       "COleException 0x80020005"},
      {"not attached",
       [&] { unattached.InvokeHelper(1, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE); },
       "COleException 0x80004003"},
      {"unknown type byte",
       [&] { driver_.InvokeHelper(probe_, DISPATCH_METHOD, VT_EMPTY, nullptr, bad_type, 1L, 2L); },
       "COleException 0x80020008"},
      {"unknown result type",
       [&] { driver_.InvokeHelper(probe_, DISPATCH_METHOD, VT_RECORD, &v, VTS_NONE); },
       "COleException 0x80020008"},
      {"result without a place",
       [&] { driver_.InvokeHelper(probe_, DISPATCH_METHOD, VT_I4, nullptr, VTS_NONE); },
       "COleException 0x80004003"},
  };
  for (const auto& c : cases) EXPECT_EQ(Thrown(c.call), c.thrown) << c.name;
  // Nothing reached the object for the calls refused before invoking.
  for (const RecordedCall& call : co_.Calls()) EXPECT_NE(call.dispid, probe_);
  // An exception the object raises carries its description.
  co_.RaiseInMember("SOStatusUpdate", E_ACCESSDENIED, OLESTR("Drawer jammed"), OLESTR("CashDrawer"));
  try {
    driver_.InvokeHelper(RecordingControlObject::kSOStatusUpdate, DISPATCH_METHOD, VT_EMPTY,
                         nullptr, Params(VTS_I4), 2001L);
    ADD_FAILURE() << "nothing thrown";
  } catch (COleDispatchException* e) {
    EXPECT_EQ(e->m_strDescription, "Drawer jammed");
    EXPECT_EQ(e->m_strSource, "CashDrawer");
    EXPECT_EQ(COleException::Process(e), E_ACCESSDENIED);
    e->Delete();
  }
}

TEST(DispatchDriver, ReferenceCountingFollowsAutoRelease) {
  RecordingControlObject co;
  co.AddRef();
  {
    COleDispatchDriver owning(&co);  // takes over the reference just added
    owning.ReleaseDispatch();
    EXPECT_EQ(co.RefCount(), 1u);
    owning.ReleaseDispatch();
    co.AddRef();
    owning = static_cast<LPDISPATCH>(&co);
    owning.AttachDispatch(&co, FALSE);  // the old attachment is released first
    EXPECT_EQ(co.RefCount(), 1u);
  }
  EXPECT_EQ(co.RefCount(), 1u);
}

}  // namespace
