// RecordingControlObject: a control object for tests, seen through IDispatch.
//
// It exposes the members a service object calls by name, records every call
// with its arguments, and does what the test tells it:
//
//   opossvc::testing::RecordingControlObject co;
//   co.SetOutput("DirectIO", 1, Variant::I4(42));   // *pData = 42
//   co.FailMember("SOError", E_FAIL);
//   ... the code under test calls co through its IDispatch ...
//   ASSERT_TRUE(co.WaitForCalls(2, std::chrono::seconds(10)));
//   EXPECT_EQ(co.CallsTo("SOData")[0].I4(0), 5);
//   EXPECT_EQ(co.RefCount(), 1u);  // nobody kept or dropped a reference
//
// Members from the start, with their dispatch identifiers:
//   methods    SOData(I4) 1, SODirectIO(I4, I4&, BSTR&) 2,
//              SOError(I4, I4, I4, I4&) 3, SOOutputComplete(I4) 4,
//              SOStatusUpdate(I4) 5, DirectIO(I4, I4&, BSTR&) -> I4 6
//   properties ControlObjectDescription (BSTR, "Recording control object") 7,
//              ControlObjectVersion (I4, 1014000) 8
// The standard methods check their arguments strictly: another count gives
// DISP_E_BADPARAMCOUNT, another type (VT_BYREF included) DISP_E_TYPEMISMATCH
// with *puArgErr set; methods added by a test take any arguments. Names are
// matched ignoring ASCII case, as Automation does. Method calls need
// DISPATCH_METHOD; properties answer DISPATCH_PROPERTYGET and
// DISPATCH_PROPERTYPUT (with the DISPID_PROPERTYPUT named argument).
//
// Every Invoke is recorded, failing ones too, before the member does
// anything: the member's name, identifier, flags, argument types as passed
// and argument values as they were on entry (references followed), and the
// calling thread; the call's HRESULT is added when it returns. A call then
// runs, in this order: the hook set with OnCall (its failure ends the call),
// the failure set with FailMember/RaiseInMember, the by-reference outputs
// set with SetOutput, the result set with SetResult.
//
// References: the object starts with one reference, its owner's. Release
// never destroys it (the test owns it); RefCount tells whether the code
// under test balanced its AddRef/Release calls.
//
// Thread safety: every member may be called from any thread. Hooks run on
// the calling thread with no lock held, so they may call back in.
#ifndef OPOSSVC_TESTING_RECORDING_CONTROL_OBJECT_H_
#define OPOSSVC_TESTING_RECORDING_CONTROL_OBJECT_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <opossvc/win32/oleauto.h>

namespace opossvc {
namespace testing {

// A VARIANT that owns its value: deep copies (a null BSTR stays null, so that
// a record shows what arrived), cleared on destruction.
class Variant {
 public:
  Variant();
  // A copy of the value; a VT_BYREF variant is copied as the value it
  // refers to.
  explicit Variant(const VARIANT& value);
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  static Variant I4(LONG value);
  static Variant Bool(bool value);
  static Variant R8(double value);
  static Variant I8(LONGLONG value);
  // A BSTR of UTF-16 text; Text(const char*) takes ASCII or UTF-8.
  static Variant Text(const std::basic_string<OLECHAR>& text);
  static Variant Text(const char* utf8);
  // A BSTR holding exactly these bytes (an odd count stays odd).
  static Variant Bytes(const std::string& bytes);

  VARTYPE vt() const { return value_.vt; }
  const VARIANT& get() const { return value_; }
  VARIANT* ptr() { return &value_; }

  // The value as a 32-bit integer (VariantChangeType); 0 when it has none.
  LONG AsI4() const;
  // A BSTR's text; empty for other types.
  std::basic_string<OLECHAR> AsText() const;
  // A BSTR's bytes, all SysStringByteLen of them; empty for other types.
  std::string AsBytes() const;

 private:
  VARIANT value_;
};

struct RecordedCall {
  std::string member;  // the member's name; empty when the identifier is unknown
  DISPID dispid = DISPID_UNKNOWN;
  WORD flags = 0;
  std::vector<VARTYPE> types;  // as passed, first argument first
  // Values on entry, first argument first. An interface argument is kept
  // as its address (VT_I8), so that a record holds no reference on it.
  std::vector<Variant> args;
  std::thread::id thread;
  size_t sequence = 0;    // the call's number, from 0, counting every call
  HRESULT result = S_OK;  // set when the call returns

  LONG I4(size_t index) const;
  std::basic_string<OLECHAR> Text(size_t index) const;
};

class RecordingControlObject : public IDispatch {
 public:
  static constexpr DISPID kSOData = 1;
  static constexpr DISPID kSODirectIO = 2;
  static constexpr DISPID kSOError = 3;
  static constexpr DISPID kSOOutputComplete = 4;
  static constexpr DISPID kSOStatusUpdate = 5;
  static constexpr DISPID kDirectIO = 6;
  static constexpr DISPID kControlObjectDescription = 7;
  static constexpr DISPID kControlObjectVersion = 8;

  // Runs during a call (see above). Its failure HRESULT ends the call.
  using CallHook =
      std::function<HRESULT(const RecordedCall& call, DISPPARAMS* params, VARIANT* result)>;

  RecordingControlObject();
  virtual ~RecordingControlObject();
  RecordingControlObject(const RecordingControlObject&) = delete;
  RecordingControlObject& operator=(const RecordingControlObject&) = delete;

  // IUnknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IDispatch. No type information.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                          LCID lcid, DISPID* rgDispId) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // Members. Adding a name that exists replaces that member (keeping its
  // identifier); the new identifier is returned.
  DISPID AddMethod(const std::string& name);
  DISPID AddProperty(const std::string& name, const Variant& value);
  // The member is gone: its name is unknown, its identifier not found.
  void RemoveMember(const std::string& name);

  // What a member does. Naming an unknown member is a test bug and throws
  // std::invalid_argument.
  void FailMember(const std::string& name, HRESULT hr);
  // DISP_E_EXCEPTION with an EXCEPINFO of this scode, description, source.
  void RaiseInMember(const std::string& name, SCODE scode, const std::basic_string<OLECHAR>& description,
                     const std::basic_string<OLECHAR>& source = OLESTR(""));
  void ClearFailure(const std::string& name);
  // A method's return value or a property's value.
  void SetResult(const std::string& name, const Variant& value);
  // Written, converted to the argument's type, into the by-reference
  // argument at `index` (first argument 0); a BSTR argument's old string is
  // freed and replaced.
  void SetOutput(const std::string& name, size_t index, const Variant& value);
  void OnCall(const std::string& name, CallHook hook);
  // A property's value now (after puts); VT_EMPTY for unknown names.
  Variant PropertyValue(const std::string& name) const;

  // Records.
  std::vector<RecordedCall> Calls() const;
  std::vector<RecordedCall> CallsTo(const std::string& name) const;
  size_t CallCount() const;
  // True once at least `count` calls have been recorded; false when the
  // timeout passes first.
  bool WaitForCalls(size_t count, std::chrono::milliseconds timeout) const;
  void ClearCalls();
  // Every name asked for through GetIDsOfNames, known or not, in order.
  std::vector<std::string> LookedUpNames() const;

  ULONG RefCount() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace testing
}  // namespace opossvc

#endif  // OPOSSVC_TESTING_RECORDING_CONTROL_OBJECT_H_
