#include <opossvc/afx/dispatch_driver.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

// The arguments of one invocation and what they own: BSTR copies made for
// by-value strings, and the 32-bit stand-ins of long* arguments.
class ArgumentList {
 public:
  ArgumentList(const BYTE* pbParamInfo, va_list argList);
  ~ArgumentList();
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;

  DISPPARAMS* params() { return &params_; }
  // Writes the 32-bit stand-ins back to the caller's long variables.
  void CopyBack();

 private:
  // What one argument owns or stands in for.
  struct Slot {
    bool owns_bstr = false;  // a copy made for VTS_WBSTR/VTS_BSTR
    LONG* signed_target = nullptr;  // VTS_PI4: the caller's variable
    ULONG* unsigned_target = nullptr;  // VTS_PUI4
    LONG value = 0;  // VTS_PI4: the 32-bit stand-in that the object sees
    ULONG unsigned_value = 0;  // VTS_PUI4: the same
  };

  void Take(BYTE type, VARIANT* arg, Slot* slot, va_list& argList);
  void FreeOwned();

  std::vector<VARIANT> args_;  // in DISPPARAMS order: the last argument first
  std::vector<Slot> slots_;    // parallel to args_
  DISPPARAMS params_{};
};

ArgumentList::ArgumentList(const BYTE* pbParamInfo, va_list argList) {
  const size_t count =
      pbParamInfo == nullptr ? 0 : std::strlen(reinterpret_cast<const char*>(pbParamInfo));
  try {
    args_.resize(count);
    slots_.resize(count);
  } catch (const std::bad_alloc&) {
    AfxThrowMemoryException();
  }
  for (VARIANT& arg : args_) VariantInit(&arg);
  va_list args;
  va_copy(args, argList);
  try {
    for (size_t i = 0; i < count; ++i) {
      const size_t slot = count - 1 - i;
      Take(pbParamInfo[i], &args_[slot], &slots_[slot], args);
    }
  } catch (...) {
    va_end(args);
    FreeOwned();
    throw;
  }
  va_end(args);
  params_.rgvarg = args_.empty() ? nullptr : args_.data();
  params_.cArgs = static_cast<UINT>(count);
}

ArgumentList::~ArgumentList() { FreeOwned(); }

// Only the BSTR copies are ours; interfaces, variants and references belong
// to the caller.
void ArgumentList::FreeOwned() {
  for (size_t i = 0; i < args_.size(); ++i) {
    if (slots_[i].owns_bstr) SysFreeString(args_[i].bstrVal);
    slots_[i].owns_bstr = false;
  }
}

void ArgumentList::CopyBack() {
  for (Slot& s : slots_) {
    if (s.signed_target != nullptr) *s.signed_target = opossvc::Long32(s.value);
    if (s.unsigned_target != nullptr) *s.unsigned_target = s.unsigned_value;
  }
}

void ArgumentList::Take(BYTE type, VARIANT* arg, Slot* slot, va_list& argList) {
  if (type & 0x40) {
    const VARTYPE base = type & ~0x40;
    void* pointer = va_arg(argList, void*);
    arg->vt = static_cast<VARTYPE>(base | VT_BYREF);
    switch (base) {
      case VT_I4:
      case VT_UI4:
        // The system's long is 32-bit: the object sees a variable of our own.
        if (pointer != nullptr && base == VT_I4) {
          slot->signed_target = static_cast<LONG*>(pointer);
          slot->value = opossvc::Long32(*slot->signed_target);
          arg->plVal = &slot->value;
        } else if (pointer != nullptr) {
          slot->unsigned_target = static_cast<ULONG*>(pointer);
          slot->unsigned_value = *slot->unsigned_target;
          arg->pulVal = &slot->unsigned_value;
        }
        return;
      case VT_I2: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR:
      case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_VARIANT: case VT_UNKNOWN:
      case VT_I1: case VT_UI1: case VT_UI2: case VT_I8: case VT_UI8:
        arg->byref = pointer;
        return;
      default:
        arg->vt = VT_EMPTY;
        AfxThrowOleException(DISP_E_BADVARTYPE);
    }
  }
  switch (type) {
    case VT_I2:
      arg->vt = VT_I2;
      arg->iVal = static_cast<SHORT>(va_arg(argList, int));
      return;
    case VT_I4:
      arg->vt = VT_I4;
      arg->lVal = opossvc::Long32(va_arg(argList, LONG));
      return;
    case VT_R4:
      arg->vt = VT_R4;
      arg->fltVal = static_cast<float>(va_arg(argList, double));
      return;
    case VT_R8:
      arg->vt = VT_R8;
      arg->dblVal = va_arg(argList, double);
      return;
    case VT_CY: {
      const CY* value = va_arg(argList, const CY*);
      if (value == nullptr) AfxThrowOleException(E_POINTER);
      arg->vt = VT_CY;
      arg->cyVal = *value;
      return;
    }
    case VT_DATE:
      arg->vt = VT_DATE;
      arg->date = va_arg(argList, double);
      return;
    case VT_BSTR: {
      const OLECHAR* text = va_arg(argList, const OLECHAR*);
      arg->vt = VT_BSTR;
      arg->bstrVal = text == nullptr ? nullptr : SysAllocString(text);
      if (text != nullptr && arg->bstrVal == nullptr) AfxThrowMemoryException();
      slot->owns_bstr = true;
      return;
    }
    case VT_BSTRA: {
      const char* text = va_arg(argList, const char*);
      arg->vt = VT_BSTR;
      arg->bstrVal = text == nullptr ? nullptr : CString(text).AllocSysString();
      slot->owns_bstr = true;
      return;
    }
    case VT_DISPATCH:
      arg->vt = VT_DISPATCH;
      arg->pdispVal = va_arg(argList, IDispatch*);
      return;
    case VT_ERROR:
      arg->vt = VT_ERROR;
      arg->scode = va_arg(argList, SCODE);
      return;
    case VT_BOOL:
      arg->vt = VT_BOOL;
      arg->boolVal = va_arg(argList, BOOL) ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case VT_VARIANT: {
      const VARIANT* value = va_arg(argList, const VARIANT*);
      if (value == nullptr) AfxThrowOleException(E_POINTER);
      *arg = *value;  // shallow: the caller keeps ownership
      return;
    }
    case VT_UNKNOWN:
      arg->vt = VT_UNKNOWN;
      arg->punkVal = va_arg(argList, IUnknown*);
      return;
    case VT_I1:
      arg->vt = VT_I1;
      arg->cVal = static_cast<CHAR>(va_arg(argList, int));
      return;
    case VT_UI1:
      arg->vt = VT_UI1;
      arg->bVal = static_cast<BYTE>(va_arg(argList, int));
      return;
    case VT_UI2:
      arg->vt = VT_UI2;
      arg->uiVal = static_cast<USHORT>(va_arg(argList, int));
      return;
    case VT_UI4:
      arg->vt = VT_UI4;
      arg->ulVal = static_cast<ULONG>(va_arg(argList, unsigned long));
      return;
    case VT_I8:
      arg->vt = VT_I8;
      arg->llVal = va_arg(argList, LONGLONG);
      return;
    case VT_UI8:
      arg->vt = VT_UI8;
      arg->ullVal = va_arg(argList, ULONGLONG);
      return;
    default:
      AfxThrowOleException(DISP_E_BADVARTYPE);
  }
}

bool IsStorableResult(VARTYPE vt) {
  switch (vt) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR:
    case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_VARIANT: case VT_UNKNOWN:
    case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

// Stores a result already converted to vtRet, taking over what it owns.
void StoreResult(VARIANT* result, VARTYPE vtRet, void* pvRet) {
  switch (vtRet) {
    case VT_I2: *static_cast<short*>(pvRet) = result->iVal; break;
    case VT_I4: *static_cast<LONG*>(pvRet) = opossvc::Long32(result->lVal); break;
    case VT_R4: *static_cast<float*>(pvRet) = result->fltVal; break;
    case VT_R8: *static_cast<double*>(pvRet) = result->dblVal; break;
    case VT_CY: *static_cast<CY*>(pvRet) = result->cyVal; break;
    case VT_DATE: *static_cast<DATE*>(pvRet) = result->date; break;
    case VT_BSTR: {
      CString* target = static_cast<CString*>(pvRet);
      try {
        *target = CString(result->bstrVal, static_cast<int>(SysStringLen(result->bstrVal)));
      } catch (...) {
        VariantClear(result);
        throw;
      }
      VariantClear(result);
      break;
    }
    case VT_DISPATCH: *static_cast<IDispatch**>(pvRet) = result->pdispVal; break;
    case VT_UNKNOWN: *static_cast<IUnknown**>(pvRet) = result->punkVal; break;
    case VT_ERROR: *static_cast<SCODE*>(pvRet) = result->scode; break;
    case VT_BOOL: *static_cast<BOOL*>(pvRet) = result->boolVal != 0; break;
    case VT_VARIANT: *static_cast<VARIANT*>(pvRet) = *result; break;
    case VT_I1: *static_cast<char*>(pvRet) = result->cVal; break;
    case VT_UI1: *static_cast<BYTE*>(pvRet) = result->bVal; break;
    case VT_UI2: *static_cast<WORD*>(pvRet) = result->uiVal; break;
    case VT_UI4: *static_cast<ULONG*>(pvRet) = result->ulVal; break;
    case VT_I8: *static_cast<LONGLONG*>(pvRet) = result->llVal; break;
    case VT_UI8: *static_cast<ULONGLONG*>(pvRet) = result->ullVal; break;
    case VT_INT: *static_cast<int*>(pvRet) = result->intVal; break;
    case VT_UINT: *static_cast<unsigned int*>(pvRet) = result->uintVal; break;
  }
}

[[noreturn]] void ThrowDispatchException(EXCEPINFO* info) {
  if (info->pfnDeferredFillIn != nullptr) info->pfnDeferredFillIn(info);
  auto* exception = new COleDispatchException(nullptr, 0, info->wCode);
  const auto take = [](BSTR* text, CString* into) {
    if (*text == nullptr) return;
    *into = CString(*text, static_cast<int>(SysStringLen(*text)));
    SysFreeString(*text);
    *text = nullptr;
  };
  take(&info->bstrSource, &exception->m_strSource);
  take(&info->bstrDescription, &exception->m_strDescription);
  take(&info->bstrHelpFile, &exception->m_strHelpFile);
  exception->m_dwHelpContext = info->dwHelpContext;
  exception->m_scError = info->scode;
  throw exception;
}

}  // namespace

COleDispatchDriver::COleDispatchDriver() : m_lpDispatch(nullptr), m_bAutoRelease(TRUE) {}

COleDispatchDriver::COleDispatchDriver(LPDISPATCH lpDispatch, BOOL bAutoRelease)
    : m_lpDispatch(lpDispatch), m_bAutoRelease(bAutoRelease) {}

COleDispatchDriver::COleDispatchDriver(const COleDispatchDriver& dispatchSrc)
    : m_lpDispatch(dispatchSrc.m_lpDispatch), m_bAutoRelease(TRUE) {
  if (m_lpDispatch != nullptr) m_lpDispatch->AddRef();
}

COleDispatchDriver::~COleDispatchDriver() { ReleaseDispatch(); }

const COleDispatchDriver& COleDispatchDriver::operator=(const COleDispatchDriver& dispatchSrc) {
  if (this != &dispatchSrc) {
    // The new reference first: both may name the same object.
    if (dispatchSrc.m_lpDispatch != nullptr) dispatchSrc.m_lpDispatch->AddRef();
    ReleaseDispatch();
    m_lpDispatch = dispatchSrc.m_lpDispatch;
    m_bAutoRelease = TRUE;
  }
  return *this;
}

const COleDispatchDriver& COleDispatchDriver::operator=(LPDISPATCH lpDispatch) {
  if (m_lpDispatch != lpDispatch) AttachDispatch(lpDispatch, TRUE);
  return *this;
}

void COleDispatchDriver::AttachDispatch(LPDISPATCH lpDispatch, BOOL bAutoRelease) {
  ReleaseDispatch();
  m_lpDispatch = lpDispatch;
  m_bAutoRelease = bAutoRelease;
}

LPDISPATCH COleDispatchDriver::DetachDispatch() {
  LPDISPATCH lpDispatch = m_lpDispatch;
  m_lpDispatch = nullptr;
  return lpDispatch;
}

void COleDispatchDriver::ReleaseDispatch() {
  if (m_lpDispatch != nullptr) {
    if (m_bAutoRelease) m_lpDispatch->Release();
    m_lpDispatch = nullptr;
  }
}

void COleDispatchDriver::InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                                      const BYTE* pbParamInfo, ...) {
  va_list argList;
  va_start(argList, pbParamInfo);
  try {
    InvokeHelperV(dwDispID, wFlags, vtRet, pvRet, pbParamInfo, argList);
  } catch (...) {
    va_end(argList);
    throw;
  }
  va_end(argList);
}

void COleDispatchDriver::InvokeHelperV(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                                       const BYTE* pbParamInfo, va_list argList) {
  if (m_lpDispatch == nullptr) AfxThrowOleException(E_POINTER);
  if (vtRet != VT_EMPTY) {
    if (!IsStorableResult(vtRet)) AfxThrowOleException(DISP_E_BADVARTYPE);
    if (pvRet == nullptr) AfxThrowOleException(E_POINTER);
  }

  ArgumentList arguments(pbParamInfo, argList);
  DISPID named_put = DISPID_PROPERTYPUT;
  if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    arguments.params()->cNamedArgs = 1;
    arguments.params()->rgdispidNamedArgs = &named_put;
  }

  VARIANT result;
  VariantInit(&result);
  EXCEPINFO info;
  std::memset(&info, 0, sizeof info);
  UINT arg_error = 0;
  const HRESULT hr =
      m_lpDispatch->Invoke(dwDispID, IID_NULL, 0, wFlags, arguments.params(),
                           vtRet == VT_EMPTY ? nullptr : &result, &info, &arg_error);
  arguments.CopyBack();

  if (FAILED(hr)) {
    VariantClear(&result);
    if (hr == DISP_E_EXCEPTION) ThrowDispatchException(&info);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    AfxThrowOleException(hr);
  }
  if (vtRet == VT_EMPTY) {
    VariantClear(&result);  // in case the object answered anyway
    return;
  }
  if (vtRet != VT_VARIANT) {
    const HRESULT converted = VariantChangeType(&result, &result, 0, vtRet);
    if (FAILED(converted)) {
      VariantClear(&result);
      AfxThrowOleException(converted);
    }
  }
  StoreResult(&result, vtRet, pvRet);
}

void COleDispatchDriver::GetProperty(DISPID dwDispID, VARTYPE vtProp, void* pvProp) const {
  const_cast<COleDispatchDriver*>(this)->InvokeHelper(dwDispID, DISPATCH_PROPERTYGET, vtProp,
                                                      pvProp, nullptr);
}

void COleDispatchDriver::SetPropertyArgs(DISPID dwDispID, int vtProp, ...) {
  va_list argList;
  va_start(argList, vtProp);
  // VT_BSTR is the 8-bit string here; a VT_BYREF type becomes its by-ref byte.
  BYTE type = static_cast<BYTE>(vtProp == VT_BSTR ? VT_BSTRA : vtProp & ~VT_BYREF);
  if (vtProp & VT_BYREF) type |= 0x40;
  const BYTE params[2] = {type, 0};
  const WORD flags = vtProp == VT_DISPATCH ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
  try {
    InvokeHelperV(dwDispID, flags, VT_EMPTY, nullptr, params, argList);
  } catch (...) {
    va_end(argList);
    throw;
  }
  va_end(argList);
}
