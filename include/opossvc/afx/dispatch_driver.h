// COleDispatchDriver: calls members of an IDispatch by identifier, with the
// arguments described by a VTS_* byte string, as the window framework's.
//
//   COleDispatchDriver co(pDispatch, FALSE);  // no reference taken or dropped
//   long data = 0;
//   BSTR text = SysAllocStringLen(nullptr, 0);
//   long result;
//   co.InvokeHelper(dispid, DISPATCH_METHOD, VT_I4, &result,
//                   VTS_I4 VTS_PI4 VTS_PBSTR, 5L, &data, &text);
//
// Arguments. Each byte of pbParamInfo (null or "" for none) takes one
// argument from the list, in order; they reach the object in DISPPARAMS in
// reverse order, as Automation wants. By value: VTS_I2 short, VTS_I4 long,
// VTS_R4 float, VTS_R8 double, VTS_CY const CY*, VTS_DATE DATE, VTS_WBSTR
// const OLECHAR* (copied into a BSTR for the call), VTS_BSTR const char*
// (converted from the ANSI code page into a BSTR for the call),
// VTS_DISPATCH IDispatch*, VTS_SCODE SCODE, VTS_BOOL BOOL (sent as
// VARIANT_TRUE/FALSE), VTS_VARIANT const VARIANT* (sent as it is),
// VTS_UNKNOWN IUnknown*, VTS_I1 char, VTS_UI1 BYTE, VTS_UI2 WORD, VTS_UI4
// ULONG (unsigned long), VTS_I8 LONGLONG, VTS_UI8 ULONGLONG. By reference (the type
// byte | 0x40): a pointer to the variable, which the object may change;
// VTS_PBOOL points to a VARIANT_BOOL, VTS_PVARIANT to a VARIANT, VTS_PBSTR to
// a BSTR (which the object may free and replace). Interfaces are passed
// without AddRef. Values the system calls long are 32-bit on the wire:
// VTS_I4 sends the long modulo 2^32; VTS_PI4 takes a LONG* whose value
// travels in a 32-bit variable that is copied back (sign-extended) after the
// call, also when it fails; VTS_PUI4 takes a ULONG* (32-bit, like DWORD*).
//
// Result. vtRet VT_EMPTY asks for none (pvRet unused). Otherwise the
// result is converted with VariantChangeType and stored in *pvRet as:
// VT_I2 short, VT_I4 long, VT_R4 float, VT_R8 double, VT_CY CY, VT_DATE
// DATE, VT_BSTR CString (converted to the ANSI code page), VT_DISPATCH
// IDispatch* and VT_UNKNOWN IUnknown* (the caller owns the reference),
// VT_ERROR SCODE, VT_BOOL BOOL, VT_VARIANT VARIANT (unconverted, owned by
// the caller; *pvRet is overwritten, not cleared), VT_I1 char, VT_UI1 BYTE,
// VT_UI2 WORD, VT_UI4 ULONG, VT_I8 LONGLONG, VT_UI8 ULONGLONG,
// VT_INT int, VT_UINT unsigned int.
//
// Failures throw (exceptions.h; pointers, freed with Delete()):
// - COleDispatchException* when the object raised its own exception
//   (DISP_E_EXCEPTION), with the contents of its EXCEPINFO;
// - COleException* with the HRESULT for any other failed invocation, with
//   the conversion's HRESULT when the result cannot be converted, with
//   DISP_E_BADVARTYPE for a type byte or vtRet not listed above, and with
//   E_POINTER when no dispatch interface is attached (the framework only
//   asserts there; here it fails loudly instead of reporting nothing);
// - CMemoryException* when an argument string cannot be allocated.
//
// Not thread-safe: a driver belongs to the thread that calls the object.
#ifndef OPOSSVC_AFX_DISPATCH_DRIVER_H_
#define OPOSSVC_AFX_DISPATCH_DRIVER_H_

#include <cstdarg>

#include <opossvc/afx/cstring.h>
#include <opossvc/afx/exceptions.h>
#include <opossvc/export.h>
#include <opossvc/win32/oleauto.h>
#include <opossvc/win32/types.h>

// Parameter type bytes.
#define VTS_I2 "\x02"
#define VTS_I4 "\x03"
#define VTS_R4 "\x04"
#define VTS_R8 "\x05"
#define VTS_CY "\x06"
#define VTS_DATE "\x07"
#define VTS_WBSTR "\x08"
#define VTS_DISPATCH "\x09"
#define VTS_SCODE "\x0A"
#define VTS_BOOL "\x0B"
#define VTS_VARIANT "\x0C"
#define VTS_UNKNOWN "\x0D"
#define VTS_BSTR "\x0E"  // an 8-bit string: the ANSI build's form
#define VTS_I1 "\x10"
#define VTS_UI1 "\x11"
#define VTS_UI2 "\x12"
#define VTS_UI4 "\x13"
#define VTS_I8 "\x14"
#define VTS_UI8 "\x15"
#define VTS_PI2 "\x42"
#define VTS_PI4 "\x43"
#define VTS_PR4 "\x44"
#define VTS_PR8 "\x45"
#define VTS_PCY "\x46"
#define VTS_PDATE "\x47"
#define VTS_PBSTR "\x48"
#define VTS_PDISPATCH "\x49"
#define VTS_PSCODE "\x4A"
#define VTS_PBOOL "\x4B"
#define VTS_PVARIANT "\x4C"
#define VTS_PUNKNOWN "\x4D"
#define VTS_PI1 "\x50"
#define VTS_PUI1 "\x51"
#define VTS_PUI2 "\x52"
#define VTS_PUI4 "\x53"
#define VTS_PI8 "\x54"
#define VTS_PUI8 "\x55"
#define VTS_NONE nullptr
#define VTS_COLOR VTS_I4
#define VTS_HANDLE VTS_I4

// The type byte of VTS_BSTR.
#define VT_BSTRA 14
#define VT_BSTRT VT_BSTRA

class OPOSSVC_API COleDispatchDriver {
 public:
  COleDispatchDriver();
  // Attaches lpDispatch; with bAutoRelease the driver releases it when done.
  explicit COleDispatchDriver(LPDISPATCH lpDispatch, BOOL bAutoRelease = TRUE);
  // Shares the other driver's interface, with a reference of its own.
  COleDispatchDriver(const COleDispatchDriver& dispatchSrc);
  ~COleDispatchDriver();

  const COleDispatchDriver& operator=(const COleDispatchDriver& dispatchSrc);
  // Attaches lpDispatch with automatic release.
  const COleDispatchDriver& operator=(LPDISPATCH lpDispatch);
  operator LPDISPATCH() { return m_lpDispatch; }  // NOLINT(google-explicit-constructor)

  // Lets go of the current interface (ReleaseDispatch), then attaches.
  void AttachDispatch(LPDISPATCH lpDispatch, BOOL bAutoRelease = TRUE);
  // Returns the interface and forgets it without releasing it.
  LPDISPATCH DetachDispatch();
  // Forgets the interface, releasing it when attached with bAutoRelease.
  void ReleaseDispatch();

  void InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                    const BYTE* pbParamInfo, ...);
  void InvokeHelperV(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                     const BYTE* pbParamInfo, va_list argList);
  // A property get: the result as InvokeHelper stores it.
  void GetProperty(DISPID dwDispID, VARTYPE vtProp, void* pvProp) const;
  // A property put (a put-by-reference for VT_DISPATCH) of one argument of
  // type vtProp, taken as InvokeHelper takes it; VT_BSTR takes a const
  // char*, as in the ANSI build.
  template <class... Args>
  void SetProperty(DISPID dwDispID, VARTYPE vtProp, Args... args) {
    SetPropertyArgs(dwDispID, vtProp, args...);
  }

  LPDISPATCH m_lpDispatch;
  BOOL m_bAutoRelease;

 private:
  // SetProperty's body. vtProp is an int here: "..." may not follow a
  // parameter that is subject to promotion.
  void SetPropertyArgs(DISPID dwDispID, int vtProp, ...);
};

#endif  // OPOSSVC_AFX_DISPATCH_DRIVER_H_
