#include <opossvc/testing/recording_control_object.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/codepage.h>

#include "platform/internal/mutex.h"

namespace opossvc {
namespace testing {

// Variant.

namespace {

// A copy as VariantCopy (VariantCopyInd when `indirect`) makes it, but a null
// string stays null, where those make it empty: a record shows what arrived.
void CopyExactly(VARIANT* dest, const VARIANT& source, bool indirect) {
  if (indirect) {
    VariantCopyInd(dest, &source);
  } else {
    VariantCopy(dest, &source);
  }
  const BSTR* text = nullptr;
  if (source.vt == VT_BSTR) text = &source.bstrVal;
  if (indirect && source.vt == (VT_BSTR | VT_BYREF)) text = source.pbstrVal;
  if (text != nullptr && *text == nullptr && dest->vt == VT_BSTR) {
    SysFreeString(dest->bstrVal);
    dest->bstrVal = nullptr;
  }
}

}  // namespace

Variant::Variant() { VariantInit(&value_); }

Variant::Variant(const VARIANT& value) {
  VariantInit(&value_);
  CopyExactly(&value_, value, true);
}

Variant::Variant(const Variant& other) {
  VariantInit(&value_);
  CopyExactly(&value_, other.value_, false);
}

Variant::Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) CopyExactly(&value_, other.value_, false);
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    VariantClear(&value_);
    value_ = other.value_;
    VariantInit(&other.value_);
  }
  return *this;
}

Variant::~Variant() { VariantClear(&value_); }

Variant Variant::I4(LONG value) {
  Variant v;
  v.value_.vt = VT_I4;
  v.value_.lVal = opossvc::Long32(value);
  return v;
}

Variant Variant::Bool(bool value) {
  Variant v;
  v.value_.vt = VT_BOOL;
  v.value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

Variant Variant::R8(double value) {
  Variant v;
  v.value_.vt = VT_R8;
  v.value_.dblVal = value;
  return v;
}

Variant Variant::I8(LONGLONG value) {
  Variant v;
  v.value_.vt = VT_I8;
  v.value_.llVal = value;
  return v;
}

Variant Variant::Text(const std::basic_string<OLECHAR>& text) {
  Variant v;
  v.value_.vt = VT_BSTR;
  v.value_.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}

Variant Variant::Text(const char* utf8) {
  std::basic_string<OLECHAR> text;
  const int length = static_cast<int>(std::strlen(utf8));
  if (length > 0) {
    text.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8, length, nullptr, 0)));
    MultiByteToWideChar(CP_UTF8, 0, utf8, length, text.data(), static_cast<int>(text.size()));
  }
  return Text(text);
}

Variant Variant::Bytes(const std::string& bytes) {
  Variant v;
  v.value_.vt = VT_BSTR;
  v.value_.bstrVal = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
  return v;
}

LONG Variant::AsI4() const {
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, &value_, 0, VT_I4))) return 0;
  return converted.lVal;
}

std::basic_string<OLECHAR> Variant::AsText() const {
  if (value_.vt != VT_BSTR || value_.bstrVal == nullptr) return std::basic_string<OLECHAR>();
  return std::basic_string<OLECHAR>(value_.bstrVal, SysStringLen(value_.bstrVal));
}

std::string Variant::AsBytes() const {
  if (value_.vt != VT_BSTR || value_.bstrVal == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(value_.bstrVal),
                     SysStringByteLen(value_.bstrVal));
}

LONG RecordedCall::I4(size_t index) const { return index < args.size() ? args[index].AsI4() : 0; }

std::basic_string<OLECHAR> RecordedCall::Text(size_t index) const {
  return index < args.size() ? args[index].AsText() : std::basic_string<OLECHAR>();
}

// The object.

namespace {

using opossvc::detail::Mutex;
using opossvc::detail::MutexLock;

enum class Kind { kMethod, kProperty };

struct Failure {
  HRESULT hr = S_OK;
  SCODE scode = 0;  // for DISP_E_EXCEPTION
  std::basic_string<OLECHAR> description;
  std::basic_string<OLECHAR> source;
};

struct Member {
  std::string name;
  DISPID dispid;
  Kind kind;
  std::optional<std::vector<VARTYPE>> signature;  // none: any arguments
  Variant value;                                  // result or property value
  std::optional<Failure> failure;
  std::vector<std::pair<size_t, Variant>> outputs;
  RecordingControlObject::CallHook hook;
};

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string NarrowName(const OLECHAR* name) {
  std::string narrow;
  for (; *name != 0; ++name) {
    narrow.push_back(*name < 0x80 ? static_cast<char>(*name) : '?');
  }
  return narrow;
}

// An argument's value for the record: interfaces by address, without a
// reference.
Variant RecordedValue(const VARIANT& arg) {
  Variant value(arg);
  if (value.vt() == VT_DISPATCH || value.vt() == VT_UNKNOWN) {
    return Variant::I8(reinterpret_cast<LONGLONG>(value.get().punkVal));
  }
  return value;
}

BSTR CopyText(const std::basic_string<OLECHAR>& text) {
  return text.empty() ? nullptr : SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// Writes `value`, converted to the referenced type, through a by-reference
// argument.
HRESULT WriteOutput(VARIANT* arg, const Variant& value) {
  if ((arg->vt & VT_BYREF) == 0 || arg->byref == nullptr) return DISP_E_TYPEMISMATCH;
  const VARTYPE base = arg->vt & ~VT_BYREF;
  if (base == VT_VARIANT) return VariantCopy(arg->pvarVal, &value.get());
  VARIANT converted;
  VariantInit(&converted);
  const HRESULT hr = VariantChangeType(&converted, &value.get(), 0, base);
  if (FAILED(hr)) return hr;
  switch (base) {
    case VT_I4: *arg->plVal = converted.lVal; break;
    case VT_UI4: *arg->pulVal = converted.ulVal; break;
    case VT_I2: *arg->piVal = converted.iVal; break;
    case VT_UI2: *arg->puiVal = converted.uiVal; break;
    case VT_I1: *arg->pcVal = converted.cVal; break;
    case VT_UI1: *arg->pbVal = converted.bVal; break;
    case VT_I8: *arg->pllVal = converted.llVal; break;
    case VT_UI8: *arg->pullVal = converted.ullVal; break;
    case VT_R4: *arg->pfltVal = converted.fltVal; break;
    case VT_R8: *arg->pdblVal = converted.dblVal; break;
    case VT_DATE: *arg->pdate = converted.date; break;
    case VT_CY: *arg->pcyVal = converted.cyVal; break;
    case VT_BOOL: *arg->pboolVal = converted.boolVal; break;
    case VT_ERROR: *arg->pscode = converted.scode; break;
    case VT_BSTR:
      SysFreeString(*arg->pbstrVal);
      *arg->pbstrVal = converted.bstrVal;  // ownership moves to the caller
      return S_OK;
    default:
      VariantClear(&converted);
      return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

}  // namespace

struct RecordingControlObject::State {
  std::atomic<ULONG> references{1};

  mutable Mutex mutex;
  mutable std::condition_variable calls_changed;
  std::vector<Member> members OPOSSVC_GUARDED_BY(mutex);
  DISPID next_dispid OPOSSVC_GUARDED_BY(mutex) = 100;
  size_t next_sequence OPOSSVC_GUARDED_BY(mutex) = 0;
  std::vector<RecordedCall> calls OPOSSVC_GUARDED_BY(mutex);
  std::vector<std::string> looked_up OPOSSVC_GUARDED_BY(mutex);

  Member* Find(const std::string& name) OPOSSVC_REQUIRES(mutex) {
    for (Member& m : members) {
      if (SameName(m.name, name)) return &m;
    }
    return nullptr;
  }
  Member* Find(DISPID dispid) OPOSSVC_REQUIRES(mutex) {
    for (Member& m : members) {
      if (m.dispid == dispid) return &m;
    }
    return nullptr;
  }
  Member& Named(const std::string& name) OPOSSVC_REQUIRES(mutex) {
    Member* m = Find(name);
    if (m == nullptr) throw std::invalid_argument("no member named " + name);
    return *m;
  }
  void Add(Member member) OPOSSVC_REQUIRES(mutex) {
    if (Member* existing = Find(member.name)) {
      member.dispid = existing->dispid;
      *existing = std::move(member);
    } else {
      members.push_back(std::move(member));
    }
  }
};

RecordingControlObject::RecordingControlObject() : state_(std::make_unique<State>()) {
  const VARTYPE kI4 = VT_I4;
  const VARTYPE kI4Ref = VT_I4 | VT_BYREF;
  const VARTYPE kBstrRef = VT_BSTR | VT_BYREF;
  std::vector<Member> members;
  const auto method = [&](const char* name, DISPID dispid, std::vector<VARTYPE> signature) {
    members.push_back(Member{name, dispid, Kind::kMethod, std::move(signature), {}, {}, {}, {}});
  };
  method("SOData", kSOData, {kI4});
  method("SODirectIO", kSODirectIO, {kI4, kI4Ref, kBstrRef});
  method("SOError", kSOError, {kI4, kI4, kI4, kI4Ref});
  method("SOOutputComplete", kSOOutputComplete, {kI4});
  method("SOStatusUpdate", kSOStatusUpdate, {kI4});
  method("DirectIO", kDirectIO, {kI4, kI4Ref, kBstrRef});
  members.back().value = Variant::I4(0);
  members.push_back(Member{"ControlObjectDescription", kControlObjectDescription,
                           Kind::kProperty, std::nullopt, Variant::Text("Recording control object"),
                           {}, {}, {}});
  members.push_back(Member{"ControlObjectVersion", kControlObjectVersion, Kind::kProperty,
                           std::nullopt, Variant::I4(1014000), {}, {}, {}});
  MutexLock lock(state_->mutex);
  state_->members = std::move(members);
}

RecordingControlObject::~RecordingControlObject() = default;

HRESULT RecordingControlObject::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *ppvObject = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

ULONG RecordingControlObject::AddRef() { return ++state_->references; }

ULONG RecordingControlObject::Release() { return --state_->references; }

ULONG RecordingControlObject::RefCount() const { return state_->references.load(); }

HRESULT RecordingControlObject::GetTypeInfoCount(UINT* pctinfo) {
  if (pctinfo == nullptr) return E_INVALIDARG;
  *pctinfo = 0;
  return S_OK;
}

HRESULT RecordingControlObject::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo != nullptr) *ppTInfo = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT RecordingControlObject::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                              LCID, DISPID* rgDispId) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (rgszNames == nullptr || rgDispId == nullptr || cNames == 0) return E_INVALIDARG;
  for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  if (rgszNames[0] == nullptr) return E_INVALIDARG;
  const std::string name = NarrowName(rgszNames[0]);
  MutexLock lock(state_->mutex);
  state_->looked_up.push_back(name);
  const Member* member = state_->Find(name);
  if (member == nullptr) return DISP_E_UNKNOWNNAME;
  rgDispId[0] = member->dispid;
  // Named arguments are not supported: their names are unknown.
  return cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT RecordingControlObject::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                                       DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                       EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (pDispParams == nullptr) return E_INVALIDARG;
  const UINT count = pDispParams->cArgs;
  if (count > 0 && pDispParams->rgvarg == nullptr) return E_INVALIDARG;

  RecordedCall call;
  call.dispid = dispIdMember;
  call.flags = wFlags;
  call.thread = std::this_thread::get_id();
  for (UINT i = 0; i < count; ++i) {
    const VARIANT& arg = pDispParams->rgvarg[count - 1 - i];
    call.types.push_back(arg.vt);
    call.args.push_back(RecordedValue(arg));
  }

  // A snapshot of the member, so that nothing runs under the lock.
  std::optional<Member> member;
  {
    MutexLock lock(state_->mutex);
    if (Member* found = state_->Find(dispIdMember)) {
      member = *found;
      call.member = found->name;
    }
    call.sequence = state_->next_sequence++;
    state_->calls.push_back(call);
  }
  state_->calls_changed.notify_all();

  const auto finish = [&](HRESULT hr) {
    MutexLock lock(state_->mutex);
    for (auto it = state_->calls.rbegin(); it != state_->calls.rend(); ++it) {
      if (it->sequence == call.sequence) {
        it->result = hr;
        break;
      }
    }
    return hr;
  };

  if (!member) return finish(DISP_E_MEMBERNOTFOUND);
  const bool put = (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (member->kind == Kind::kMethod) {
    if ((wFlags & DISPATCH_METHOD) == 0) return finish(DISP_E_MEMBERNOTFOUND);
    if (pDispParams->cNamedArgs != 0) return finish(DISP_E_NONAMEDARGS);
    if (member->signature) {
      if (member->signature->size() != count) return finish(DISP_E_BADPARAMCOUNT);
      for (UINT i = 0; i < count; ++i) {
        if (call.types[i] != (*member->signature)[i]) {
          if (puArgErr != nullptr) *puArgErr = count - 1 - i;
          return finish(DISP_E_TYPEMISMATCH);
        }
      }
    }
  } else if (put) {
    if (count != 1 || pDispParams->cNamedArgs != 1 || pDispParams->rgdispidNamedArgs == nullptr ||
        pDispParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      return finish(DISP_E_PARAMNOTFOUND);
    }
  } else if ((wFlags & DISPATCH_PROPERTYGET) == 0) {
    return finish(DISP_E_MEMBERNOTFOUND);
  } else if (count != 0) {
    return finish(DISP_E_BADPARAMCOUNT);
  }

  if (member->hook) {
    const HRESULT hr = member->hook(call, pDispParams, pVarResult);
    if (FAILED(hr)) return finish(hr);
  }
  if (member->failure) {
    const Failure& failure = *member->failure;
    if (failure.hr == DISP_E_EXCEPTION && pExcepInfo != nullptr) {
      std::memset(pExcepInfo, 0, sizeof *pExcepInfo);
      pExcepInfo->scode = failure.scode;
      pExcepInfo->bstrDescription = CopyText(failure.description);
      pExcepInfo->bstrSource = CopyText(failure.source);
    }
    return finish(failure.hr);
  }
  if (member->kind == Kind::kProperty && put) {
    // The value itself, references included: the property holds it.
    Variant value(pDispParams->rgvarg[0]);
    {
      MutexLock lock(state_->mutex);
      if (Member* live = state_->Find(dispIdMember)) std::swap(live->value, value);
    }
    return finish(S_OK);  // the old value goes here, outside the lock
  }
  for (const auto& [index, value] : member->outputs) {
    if (index >= count) continue;
    const HRESULT hr = WriteOutput(&pDispParams->rgvarg[count - 1 - index], value);
    if (FAILED(hr)) {
      if (puArgErr != nullptr) *puArgErr = static_cast<UINT>(count - 1 - index);
      return finish(hr);
    }
  }
  if (pVarResult != nullptr && member->value.vt() != VT_EMPTY) {
    // A hook may have answered already.
    if (pVarResult->vt == VT_EMPTY) CopyExactly(pVarResult, member->value.get(), false);
  }
  return finish(S_OK);
}

DISPID RecordingControlObject::AddMethod(const std::string& name) {
  MutexLock lock(state_->mutex);
  state_->Add(Member{name, state_->next_dispid++, Kind::kMethod, std::nullopt, {}, {}, {}, {}});
  return state_->Find(name)->dispid;
}

DISPID RecordingControlObject::AddProperty(const std::string& name, const Variant& value) {
  MutexLock lock(state_->mutex);
  state_->Add(Member{name, state_->next_dispid++, Kind::kProperty, std::nullopt, value, {}, {}, {}});
  return state_->Find(name)->dispid;
}

void RecordingControlObject::RemoveMember(const std::string& name) {
  MutexLock lock(state_->mutex);
  auto& members = state_->members;
  for (auto it = members.begin(); it != members.end(); ++it) {
    if (SameName(it->name, name)) {
      members.erase(it);
      return;
    }
  }
}

void RecordingControlObject::FailMember(const std::string& name, HRESULT hr) {
  MutexLock lock(state_->mutex);
  state_->Named(name).failure = Failure{hr, 0, {}, {}};
}

void RecordingControlObject::RaiseInMember(const std::string& name, SCODE scode,
                                           const std::basic_string<OLECHAR>& description,
                                           const std::basic_string<OLECHAR>& source) {
  MutexLock lock(state_->mutex);
  state_->Named(name).failure = Failure{DISP_E_EXCEPTION, scode, description, source};
}

void RecordingControlObject::ClearFailure(const std::string& name) {
  MutexLock lock(state_->mutex);
  state_->Named(name).failure.reset();
}

void RecordingControlObject::SetResult(const std::string& name, const Variant& value) {
  MutexLock lock(state_->mutex);
  state_->Named(name).value = value;
}

void RecordingControlObject::SetOutput(const std::string& name, size_t index,
                                       const Variant& value) {
  MutexLock lock(state_->mutex);
  auto& outputs = state_->Named(name).outputs;
  for (auto& [i, v] : outputs) {
    if (i == index) {
      v = value;
      return;
    }
  }
  outputs.emplace_back(index, value);
}

void RecordingControlObject::OnCall(const std::string& name, CallHook hook) {
  MutexLock lock(state_->mutex);
  state_->Named(name).hook = std::move(hook);
}

Variant RecordingControlObject::PropertyValue(const std::string& name) const {
  MutexLock lock(state_->mutex);
  const Member* member = state_->Find(name);
  return member != nullptr && member->kind == Kind::kProperty ? member->value : Variant();
}

std::vector<RecordedCall> RecordingControlObject::Calls() const {
  MutexLock lock(state_->mutex);
  return state_->calls;
}

std::vector<RecordedCall> RecordingControlObject::CallsTo(const std::string& name) const {
  MutexLock lock(state_->mutex);
  std::vector<RecordedCall> matching;
  for (const RecordedCall& call : state_->calls) {
    if (SameName(call.member, name)) matching.push_back(call);
  }
  return matching;
}

size_t RecordingControlObject::CallCount() const {
  MutexLock lock(state_->mutex);
  return state_->calls.size();
}

bool RecordingControlObject::WaitForCalls(size_t count, std::chrono::milliseconds timeout) const {
  MutexLock lock(state_->mutex);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (state_->calls.size() < count) {
    if (!state_->mutex.WaitUntil(state_->calls_changed, deadline)) {
      return state_->calls.size() >= count;
    }
  }
  return true;
}

void RecordingControlObject::ClearCalls() {
  MutexLock lock(state_->mutex);
  state_->calls.clear();
}

std::vector<std::string> RecordingControlObject::LookedUpNames() const {
  MutexLock lock(state_->mutex);
  return state_->looked_up;
}

}  // namespace testing
}  // namespace opossvc
