#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/dispatch_driver.h>
#include <opossvc/testing/recording_control_object.h>
#include <opossvc/testing/scoped_code_page.h>

namespace {

using opossvc::testing::RecordedCall;
using opossvc::testing::RecordingControlObject;
using opossvc::testing::ScopedCodePage;
using opossvc::testing::Variant;

// What an InvokeHelper call threw: "none", "COleException 0x...",
// "COleDispatchException".
template <class F>
std::string Thrown(F&& f) {
  try {
    f();
  } catch (COleException* e) {
    char text[64];
    std::snprintf(text, sizeof text, "COleException 0x%08x", static_cast<unsigned>(e->m_sc));
    e->Delete();
    return text;
  } catch (CException* e) {
    std::string kind = e->GetRuntimeClass()->m_lpszClassName;
    e->Delete();
    return kind;
  }
  return "none";
}

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
  EXPECT_EQ(Pass(VTS_DATE, 45000.5, VT_DATE).get().date, 45000.5);
  EXPECT_EQ(Pass(VTS_WBSTR, u"wide", VT_BSTR).AsText(), u"wide");
  EXPECT_EQ(Pass(VTS_BSTR, "caf\xC3\xA9", VT_BSTR).AsText(), u"caf\u00E9");
  EXPECT_EQ(Pass(VTS_BSTR, static_cast<const char*>(nullptr), VT_BSTR).get().bstrVal, nullptr);
  EXPECT_EQ(Pass(VTS_DISPATCH, dispatch, VT_DISPATCH).get().llVal,
            reinterpret_cast<LONGLONG>(dispatch));
  EXPECT_EQ(Pass(VTS_UNKNOWN, unknown, VT_UNKNOWN).get().llVal,
            reinterpret_cast<LONGLONG>(unknown));
  EXPECT_EQ(Pass(VTS_SCODE, E_FAIL, VT_ERROR).get().scode, E_FAIL);
  EXPECT_EQ(Pass(VTS_BOOL, 7, VT_BOOL).get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(Pass(VTS_VARIANT, &variant, VT_I2).get().iVal, -3) << "a VARIANT as it is";
  EXPECT_EQ(Pass(VTS_UI1, BYTE{200}, VT_UI1).get().bVal, 200);
  EXPECT_EQ(Pass(VTS_UI4, 0xFFFFFFFFul, VT_UI4).get().ulVal, 0xFFFFFFFFu);
  EXPECT_EQ(Pass(VTS_I8, LONGLONG{-1} << 40, VT_I8).get().llVal, LONGLONG{-1} << 40);
  EXPECT_EQ(other.RefCount(), 1u);  // interfaces go without AddRef
}

TEST_F(DispatchDriverTest, ArgumentsArriveLastFirst) {
  std::vector<VARTYPE> in_rgvarg_order;
  co_.OnCall("Probe", [&](const RecordedCall&, DISPPARAMS* params, VARIANT*) {
    for (UINT i = 0; i < params->cArgs; ++i) in_rgvarg_order.push_back(params->rgvarg[i].vt);
    return S_OK;
  });
  driver_.InvokeHelper(probe_, DISPATCH_METHOD, VT_EMPTY, nullptr, Params(VTS_I4 VTS_I2 VTS_BSTR),
                       1L, 2, "three");
  EXPECT_EQ(in_rgvarg_order, (std::vector<VARTYPE>{VT_BSTR, VT_I2, VT_I4}));
  const RecordedCall call = LastCall();
  EXPECT_EQ(call.I4(0), 1);
  EXPECT_EQ(call.I4(1), 2);
  EXPECT_EQ(call.Text(2), u"three");
  // No arguments at all, either way of saying it.
  driver_.InvokeHelper(probe_, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE);
  driver_.InvokeHelper(probe_, DISPATCH_METHOD, VT_EMPTY, nullptr, Params(""));
  EXPECT_TRUE(LastCall().types.empty());
}

TEST_F(DispatchDriverTest, ByReferenceRoundTrips) {
  co_.SetOutput("DirectIO", 1, Variant::I4(-5));
  co_.SetOutput("DirectIO", 2, Variant::Text(u"Service"));
  co_.SetResult("DirectIO", Variant::I4(77));
  // The long's upper half is not part of the 32-bit value the object sees.
  long data = 0x100000007L;
  BSTR text = SysAllocString(u"in");
  long result = 0;
  driver_.InvokeHelper(RecordingControlObject::kDirectIO, DISPATCH_METHOD, VT_I4, &result,
                       Params(VTS_I4 VTS_PI4 VTS_PBSTR), -960726L, &data, &text);
  const RecordedCall call = LastCall();
  EXPECT_EQ(call.types, (std::vector<VARTYPE>{VT_I4, VT_I4 | VT_BYREF, VT_BSTR | VT_BYREF}));
  EXPECT_EQ(call.I4(0), -960726);
  EXPECT_EQ(call.I4(1), 7);
  EXPECT_EQ(call.Text(2), u"in");
  EXPECT_EQ(data, -5);  // sign-extended back into the long
  EXPECT_EQ(std::u16string(text), u"Service");  // the old string was freed by the object
  EXPECT_EQ(result, 77);
  SysFreeString(text);
}

TEST_F(DispatchDriverTest, OtherReferencesPointAtTheCallersVariables) {
  short i2 = 1;
  double r8 = 1;
  VARIANT_BOOL flag = VARIANT_FALSE;
  VARIANT variant;
  VariantInit(&variant);
  struct {  // a Windows-style DWORD and its neighbour: only the one passed is touched
    DWORD u4 = 0xFFFFFFFF;
    DWORD next = 0x1234;
  } members;
  for (size_t i = 0; i < 5; ++i) co_.SetOutput("Probe", i, Variant::I4(static_cast<LONG>(i + 10)));
  driver_.InvokeHelper(probe_, DISPATCH_METHOD, VT_EMPTY, nullptr,
                       Params(VTS_PI2 VTS_PR8 VTS_PBOOL VTS_PVARIANT VTS_PUI4), &i2, &r8, &flag,
                       &variant, &members.u4);
  EXPECT_EQ(LastCall().types,
            (std::vector<VARTYPE>{VT_I2 | VT_BYREF, VT_R8 | VT_BYREF, VT_BOOL | VT_BYREF,
                                  VT_VARIANT | VT_BYREF, VT_UI4 | VT_BYREF}));
  EXPECT_EQ(LastCall().args[4].get().ulVal, 0xFFFFFFFFu);
  EXPECT_EQ(i2, 10);
  EXPECT_EQ(r8, 11.0);
  EXPECT_EQ(flag, VARIANT_TRUE);
  EXPECT_EQ(variant.vt, VT_I4);
  EXPECT_EQ(variant.lVal, 13);
  EXPECT_EQ(members.u4, 14u);
  EXPECT_EQ(members.next, 0x1234u);
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
  COleDispatchDriver unattached;
  const BYTE* bad_type = Params(VTS_I4 "\x01");  // 0x01 is no parameter type
  long v = 0;
  struct Case {
    const char* name;
    std::function<void()> call;
    std::string thrown;
  };
  const Case cases[] = {
      {"unknown member",
       [&] { driver_.InvokeHelper(999, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE); },
       "COleException 0x80020003"},
      {"wrong argument type",
       [&] {
         driver_.InvokeHelper(kSOData, DISPATCH_METHOD, VT_EMPTY, nullptr, Params(VTS_I2), 5);
       },
       "COleException 0x80020005"},
      {"wrong argument count",
       [&] { driver_.InvokeHelper(kSOData, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE); },
       "COleException 0x8002000e"},
      {"result of another type",
       [&] { driver_.GetProperty(RecordingControlObject::kControlObjectDescription, VT_I4, &v); },
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
      {"method fails",
       [&] {
         co_.FailMember("SOData", E_FAIL);
         driver_.InvokeHelper(kSOData, DISPATCH_METHOD, VT_EMPTY, nullptr, Params(VTS_I4), 5L);
       },
       "COleException 0x80004005"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Thrown(c.call), c.thrown);
  }
  // Nothing reached the object for the calls refused before invoking.
  for (const RecordedCall& call : co_.Calls()) EXPECT_NE(call.dispid, probe_);
}

TEST_F(DispatchDriverTest, ObjectExceptionsCarryTheirDescription) {
  co_.RaiseInMember("SOStatusUpdate", E_ACCESSDENIED, u"Drawer jammed", u"CashDrawer");
  bool caught = false;
  try {
    driver_.InvokeHelper(RecordingControlObject::kSOStatusUpdate, DISPATCH_METHOD, VT_EMPTY,
                         nullptr, Params(VTS_I4), 2001L);
  } catch (COleDispatchException* e) {
    caught = true;
    EXPECT_EQ(e->m_strDescription, "Drawer jammed");
    EXPECT_EQ(e->m_strSource, "CashDrawer");
    EXPECT_EQ(e->m_scError, E_ACCESSDENIED);
    EXPECT_EQ(COleException::Process(e), E_ACCESSDENIED);
    char message[64];
    EXPECT_TRUE(e->GetErrorMessage(message, sizeof message));
    EXPECT_STREQ(message, "Drawer jammed");
    e->Delete();
  }
  EXPECT_TRUE(caught);
}

TEST_F(DispatchDriverTest, PropertiesReadAndWrite) {
  long version = 0;
  driver_.GetProperty(RecordingControlObject::kControlObjectVersion, VT_I4, &version);
  EXPECT_EQ(version, 1014000);
  CString description;
  driver_.GetProperty(RecordingControlObject::kControlObjectDescription, VT_BSTR, &description);
  EXPECT_EQ(description, "Recording control object");
  VARIANT raw;
  VariantInit(&raw);
  driver_.GetProperty(RecordingControlObject::kControlObjectDescription, VT_VARIANT, &raw);
  EXPECT_EQ(raw.vt, VT_BSTR);
  VariantClear(&raw);
  BOOL flag = FALSE;
  driver_.GetProperty(RecordingControlObject::kControlObjectVersion, VT_BOOL, &flag);
  EXPECT_EQ(flag, TRUE);
  EXPECT_EQ(LastCall().flags, DISPATCH_PROPERTYGET);

  const DISPID enabled = co_.AddProperty("DeviceEnabled", Variant::Bool(false));
  driver_.SetProperty(enabled, VT_I4, 1L);
  EXPECT_EQ(LastCall().flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(co_.PropertyValue("DeviceEnabled").AsI4(), 1);
  const DISPID name = co_.AddProperty("DeviceName", Variant());
  driver_.SetProperty(name, VT_BSTR, "Printer 1");
  EXPECT_EQ(co_.PropertyValue("DeviceName").AsText(), u"Printer 1");
  long count = 4;
  driver_.SetProperty(name, VT_I4 | VT_BYREF, &count);
  EXPECT_EQ(LastCall().types[0], VT_I4 | VT_BYREF);
  RecordingControlObject other;
  driver_.SetProperty(name, VT_DISPATCH, static_cast<IDispatch*>(&other));
  EXPECT_EQ(LastCall().flags, DISPATCH_PROPERTYPUTREF);
  EXPECT_EQ(other.RefCount(), 2u);  // the property keeps its copy
  co_.SetResult("DeviceName", Variant());
  EXPECT_EQ(other.RefCount(), 1u);
}

TEST(DispatchDriver, ReferenceCountingFollowsAutoRelease) {
  RecordingControlObject co;
  {
    COleDispatchDriver plain(&co, FALSE);
    COleDispatchDriver copy(plain);  // a copy holds a reference of its own
    EXPECT_EQ(co.RefCount(), 2u);
    COleDispatchDriver assigned;
    assigned = copy;
    EXPECT_EQ(co.RefCount(), 3u);
    assigned = copy;  // the same object again: no change
    EXPECT_EQ(co.RefCount(), 3u);
    EXPECT_EQ(plain.DetachDispatch(), &co);
    EXPECT_EQ(plain.m_lpDispatch, nullptr);
  }
  EXPECT_EQ(co.RefCount(), 1u);
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

TEST(DispatchDriver, CallsFromAnotherThreadAreRecordedWithIt) {
  RecordingControlObject co;
  std::thread::id caller;
  std::thread worker([&] {
    caller = std::this_thread::get_id();
    COleDispatchDriver driver(&co, FALSE);
    for (long i = 0; i < 20; ++i) {
      driver.InvokeHelper(RecordingControlObject::kSOOutputComplete, DISPATCH_METHOD, VT_EMPTY,
                          nullptr, Params(VTS_I4), i);
    }
    driver.DetachDispatch();
  });
  EXPECT_TRUE(co.WaitForCalls(20, std::chrono::seconds(30)));
  worker.join();
  const auto calls = co.CallsTo("SOOutputComplete");
  ASSERT_EQ(calls.size(), 20u);
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].I4(0), static_cast<LONG>(i));
    EXPECT_EQ(calls[i].thread, caller);
  }
  EXPECT_FALSE(co.WaitForCalls(21, std::chrono::milliseconds(1)));
}

TEST(RecordingControlObject, NamesAndMembers) {
  RecordingControlObject co;
  co.RemoveMember("SOError");
  struct Case {
    const char16_t* name;
    HRESULT hr;
    DISPID id;
  };
  const Case cases[] = {
      {u"SOData", S_OK, RecordingControlObject::kSOData},
      {u"sodata", S_OK, RecordingControlObject::kSOData},
      {u"NoSuchMember", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {u"SOError", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},  // removed
  };
  for (const Case& c : cases) {
    LPOLESTR name = const_cast<LPOLESTR>(c.name);
    DISPID id = 12345;
    EXPECT_EQ(co.GetIDsOfNames(IID_NULL, &name, 1, 0, &id), c.hr);
    EXPECT_EQ(id, c.id);
  }
  EXPECT_EQ(co.LookedUpNames().back(), "SOError");
  EXPECT_THROW(co.FailMember("SOError", E_FAIL), std::invalid_argument);

  void* unknown = nullptr;
  EXPECT_EQ(co.QueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(&co));
  EXPECT_EQ(co.Release(), 1u);
  EXPECT_EQ(co.QueryInterface(GUID{1, 2, 3, {4}}, &unknown), E_NOINTERFACE);
  EXPECT_EQ(unknown, nullptr);
}

}  // namespace
