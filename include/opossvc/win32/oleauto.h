// OLE Automation: HRESULTs, BSTR, CY, VARIANT, DISPPARAMS, EXCEPINFO and the
// IUnknown/IDispatch interfaces, with Win32's layouts and numbers.
//
// BSTR: a pointer to UTF-16 text that is preceded by a 32-bit byte length and
// followed by two zero bytes, so it is also a NUL-terminated OLECHAR string.
// A BSTR may hold NULs and, when made by SysAllocStringByteLen, an odd number
// of bytes. The null BSTR is a valid empty string for every function here.
// BSTRs come from the Sys* functions only and are freed by SysFreeString.
//
// VARIANT: 16 bytes of value after an 8-byte header (vt + reserved), 24 bytes
// on 64-bit targets, as on Win64. VariantClear frees what the variant owns
// (a BSTR, a reference on an interface, nothing for VT_BYREF) and leaves it
// VT_EMPTY. SAFEARRAY, VT_RECORD and VT_DECIMAL arithmetic are not supported:
// the functions answer DISP_E_BADVARTYPE for them and leave the variant as it
// was.
//
// IUnknown and IDispatch are abstract classes whose virtual functions come in
// Win32's vtable order. Like COM interfaces they have no virtual destructor:
// an object is destroyed by its own Release.
#ifndef OPOSSVC_WIN32_OLEAUTO_H_
#define OPOSSVC_WIN32_OLEAUTO_H_

#include <opossvc/export.h>
#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/win32/types.h>

typedef HRESULT SCODE;
typedef unsigned short VARTYPE;
typedef short VARIANT_BOOL;
typedef double DATE;
typedef OLECHAR* BSTR;
typedef BSTR* LPBSTR;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef UINT* PUINT;

// HRESULT values and helpers.
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define IS_ERROR(status) (static_cast<ULONG>(status) >> 31 == 1)
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)
#define SCODE_CODE(sc) ((sc) & 0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1fff)
#define SCODE_FACILITY(sc) (((sc) >> 16) & 0x1fff)
#define HRESULT_SEVERITY(hr) (((hr) >> 31) & 0x1)
#define SEVERITY_SUCCESS 0
#define SEVERITY_ERROR 1
#define FACILITY_NULL 0
#define FACILITY_RPC 1
#define FACILITY_DISPATCH 2
#define FACILITY_ITF 4
#define FACILITY_WIN32 7
#define MAKE_HRESULT(sev, fac, code)                                   \
  (static_cast<HRESULT>((static_cast<ULONG>(sev) << 31) |              \
                        (static_cast<ULONG>(fac) << 16) | static_cast<ULONG>(code)))
#define MAKE_SCODE(sev, fac, code) (static_cast<SCODE>(MAKE_HRESULT(sev, fac, code)))

inline HRESULT HRESULT_FROM_WIN32(unsigned long x) {
  return static_cast<HRESULT>(x) <= 0
             ? static_cast<HRESULT>(x)
             : static_cast<HRESULT>((x & 0x0000FFFF) | (FACILITY_WIN32 << 16) | 0x80000000);
}

#define OPOSSVC_HRESULT(x) (static_cast<HRESULT>(static_cast<ULONG>(x)))
#define S_OK OPOSSVC_HRESULT(0x00000000)
#define S_FALSE OPOSSVC_HRESULT(0x00000001)
#define NOERROR S_OK
#define E_NOTIMPL OPOSSVC_HRESULT(0x80004001)
#define E_NOINTERFACE OPOSSVC_HRESULT(0x80004002)
#define E_POINTER OPOSSVC_HRESULT(0x80004003)
#define E_ABORT OPOSSVC_HRESULT(0x80004004)
#define E_FAIL OPOSSVC_HRESULT(0x80004005)
#define E_UNEXPECTED OPOSSVC_HRESULT(0x8000FFFF)
#define E_ACCESSDENIED OPOSSVC_HRESULT(0x80070005)
#define E_HANDLE OPOSSVC_HRESULT(0x80070006)
#define E_OUTOFMEMORY OPOSSVC_HRESULT(0x8007000E)
#define E_INVALIDARG OPOSSVC_HRESULT(0x80070057)
#define DISP_E_UNKNOWNINTERFACE OPOSSVC_HRESULT(0x80020001)
#define DISP_E_MEMBERNOTFOUND OPOSSVC_HRESULT(0x80020003)
#define DISP_E_PARAMNOTFOUND OPOSSVC_HRESULT(0x80020004)
#define DISP_E_TYPEMISMATCH OPOSSVC_HRESULT(0x80020005)
#define DISP_E_UNKNOWNNAME OPOSSVC_HRESULT(0x80020006)
#define DISP_E_NONAMEDARGS OPOSSVC_HRESULT(0x80020007)
#define DISP_E_BADVARTYPE OPOSSVC_HRESULT(0x80020008)
#define DISP_E_EXCEPTION OPOSSVC_HRESULT(0x80020009)
#define DISP_E_OVERFLOW OPOSSVC_HRESULT(0x8002000A)
#define DISP_E_BADINDEX OPOSSVC_HRESULT(0x8002000B)
#define DISP_E_UNKNOWNLCID OPOSSVC_HRESULT(0x8002000C)
#define DISP_E_ARRAYISLOCKED OPOSSVC_HRESULT(0x8002000D)
#define DISP_E_BADPARAMCOUNT OPOSSVC_HRESULT(0x8002000E)
#define DISP_E_PARAMNOTOPTIONAL OPOSSVC_HRESULT(0x8002000F)
#define DISP_E_BADCALLEE OPOSSVC_HRESULT(0x80020010)
#define DISP_E_NOTACOLLECTION OPOSSVC_HRESULT(0x80020011)
#define DISP_E_DIVBYZERO OPOSSVC_HRESULT(0x80020012)
#define TYPE_E_ELEMENTNOTFOUND OPOSSVC_HRESULT(0x8002802B)
#define RPC_E_SERVERFAULT OPOSSVC_HRESULT(0x80010105)
#define RPC_E_DISCONNECTED OPOSSVC_HRESULT(0x80010108)
#define RPC_E_WRONG_THREAD OPOSSVC_HRESULT(0x8001010E)
#define CO_E_OBJNOTCONNECTED OPOSSVC_HRESULT(0x800401FD)

// Locales: only the defaults; conversions are locale-independent.
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SORT_DEFAULT 0x0
#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))
#define MAKELCID(lgid, srtid) \
  (static_cast<DWORD>((static_cast<DWORD>(static_cast<WORD>(srtid)) << 16) | static_cast<WORD>(lgid)))
#define LOCALE_NEUTRAL 0x0000
#define LOCALE_INVARIANT 0x007F
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

// Currency: a signed 64-bit count of ten-thousandths, or its two 32-bit
// halves (Hi is a LONG on Windows, where that is 32-bit).
typedef union tagCY {
  struct {
    ULONG Lo;
    int32_t Hi;
  };
  LONGLONG int64;
} CY, CURRENCY;

typedef struct tagDEC {
  USHORT wReserved;
  union {
    struct {
      BYTE scale;
      BYTE sign;
    };
    USHORT signscale;
  };
  ULONG Hi32;
  union {
    struct {
      ULONG Lo32;
      ULONG Mid32;
    };
    ULONGLONG Lo64;
  };
} DECIMAL;

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_INT_PTR = 37,
  VT_UINT_PTR = 38,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_ILLEGAL = 0xffff,
  VT_ILLEGALMASKED = 0xfff,
  VT_TYPEMASK = 0xfff
};

#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

// Flags of VariantChangeType(Ex).
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

struct IUnknown;
struct IDispatch;
struct ITypeInfo;    // opaque: no type libraries here
struct IRecordInfo;  // opaque
struct tagSAFEARRAY;  // opaque: no safe arrays here
typedef struct tagSAFEARRAY SAFEARRAY;

typedef struct tagVARIANT VARIANT;
struct tagVARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
          PVOID pvRecord;
          IRecordInfo* pRecInfo;
        } brecVal;
      };
    };
    DECIMAL decVal;
  };
};
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;
typedef VARIANT* LPVARIANTARG;

#define V_VT(X) ((X)->vt)
#define V_ISBYREF(X) (V_VT(X) & VT_BYREF)
#define V_BYREF(X) ((X)->byref)
#define V_UI1(X) ((X)->bVal)
#define V_UI1REF(X) ((X)->pbVal)
#define V_I1(X) ((X)->cVal)
#define V_I2(X) ((X)->iVal)
#define V_I2REF(X) ((X)->piVal)
#define V_UI2(X) ((X)->uiVal)
#define V_I4(X) ((X)->lVal)
#define V_I4REF(X) ((X)->plVal)
#define V_UI4(X) ((X)->ulVal)
#define V_I8(X) ((X)->llVal)
#define V_UI8(X) ((X)->ullVal)
#define V_INT(X) ((X)->intVal)
#define V_UINT(X) ((X)->uintVal)
#define V_R4(X) ((X)->fltVal)
#define V_R4REF(X) ((X)->pfltVal)
#define V_R8(X) ((X)->dblVal)
#define V_R8REF(X) ((X)->pdblVal)
#define V_CY(X) ((X)->cyVal)
#define V_CYREF(X) ((X)->pcyVal)
#define V_DATE(X) ((X)->date)
#define V_DATEREF(X) ((X)->pdate)
#define V_BSTR(X) ((X)->bstrVal)
#define V_BSTRREF(X) ((X)->pbstrVal)
#define V_DISPATCH(X) ((X)->pdispVal)
#define V_DISPATCHREF(X) ((X)->ppdispVal)
#define V_UNKNOWN(X) ((X)->punkVal)
#define V_UNKNOWNREF(X) ((X)->ppunkVal)
#define V_ERROR(X) ((X)->scode)
#define V_ERRORREF(X) ((X)->pscode)
#define V_BOOL(X) ((X)->boolVal)
#define V_BOOLREF(X) ((X)->pboolVal)
#define V_VARIANTREF(X) ((X)->pvarVal)

typedef struct tagDISPPARAMS {
  VARIANTARG* rgvarg;          // arguments, the last one first
  DISPID* rgdispidNamedArgs;   // identifiers of the named arguments
  UINT cArgs;
  UINT cNamedArgs;
} DISPPARAMS;

typedef struct tagEXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(struct tagEXCEPINFO*);
  SCODE scode;
} EXCEPINFO, *LPEXCEPINFO;

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_NEWENUM (-4)
#define DISPID_EVALUATE (-5)
#define DISPID_CONSTRUCTOR (-6)
#define DISPID_DESTRUCTOR (-7)
#define DISPID_COLLECT (-8)

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

// GUIDs and interface identifiers.
inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000,
                                      {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

struct IDispatch : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                  LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid,
                                           WORD wFlags, DISPPARAMS* pDispParams,
                                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                           UINT* puArgErr) = 0;
};
typedef IDispatch* LPDISPATCH;

// BSTR functions. Allocation failures (and lengths above 0x7FFFFFF0 bytes)
// give a null BSTR.

// A copy of a NUL-terminated string; null for a null argument.
OPOSSVC_API BSTR SysAllocString(const OLECHAR* psz);
// `ui` characters from `pch`, or `ui` zero characters when `pch` is null.
OPOSSVC_API BSTR SysAllocStringLen(const OLECHAR* pch, UINT ui);
// `len` bytes from `psz` (zeros when `psz` is null), exactly: an odd count
// stays odd; SysStringLen is then len / 2.
OPOSSVC_API BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);
// Replaces *pbstr by a copy of `psz` (which may lie inside *pbstr). FALSE on
// allocation failure, leaving *pbstr as it was.
OPOSSVC_API INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
// Replaces *pbstr by `len` characters from `psz`. When `psz` is null or lies
// inside the old string (is the old string, say), the old characters are kept
// as far as they reach and the rest are zero: nothing past the old string's
// end is read. FALSE on allocation failure, leaving *pbstr as it was.
OPOSSVC_API INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
OPOSSVC_API void SysFreeString(BSTR bstrString);
OPOSSVC_API UINT SysStringLen(BSTR pbstr);
OPOSSVC_API UINT SysStringByteLen(BSTR bstr);

// VARIANT functions.
OPOSSVC_API void VariantInit(VARIANTARG* pvarg);
OPOSSVC_API HRESULT VariantClear(VARIANTARG* pvarg);
// Clears *pvargDest, then makes it a deep copy of *pvargSrc (BSTRs copied, a
// null one as an empty string; interfaces AddRef'ed; VT_BYREF copies the
// reference). A variant copied onto itself has its type checked and stays.
OPOSSVC_API HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// As VariantCopy, but a VT_BYREF source is copied as the value it refers to.
// A VT_VARIANT reference may lead to a further reference to a value, but not
// to another VT_VARIANT reference (E_INVALIDARG).
OPOSSVC_API HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Converts *pvarSrc to type `vt` into *pvargDest (which may be the same
// variant). Supported: VT_EMPTY, VT_NULL, VT_I1/I2/I4/I8, VT_UI1/UI2/UI4/UI8,
// VT_INT/UINT, VT_R4/R8, VT_CY, VT_DATE, VT_BOOL, VT_BSTR, VT_ERROR,
// VT_DISPATCH/VT_UNKNOWN (only between each other; an object converts to
// other types through its DISPID_VALUE property unless VARIANT_NOVALUEPROP),
// and any VT_BYREF of these as source. Every value but VT_ERROR converts to
// VT_EMPTY and VT_NULL, except VT_NULL to VT_EMPTY. Integers of one width
// convert by their bits whatever their signs (VT_UI4 0xFFFFFFFF is VT_I4 -1),
// and a boolean keeps its bits in every integer type (VARIANT_TRUE is 0xFF
// in VT_UI1, a boolean holding 1 is 1). VT_DATE converts to and from numbers
// only, not text. Other values out of range give DISP_E_OVERFLOW, text that
// is no number DISP_E_TYPEMISMATCH; on failure *pvargDest is left unchanged.
// Numbers are written and read in the invariant locale ("1.5", "-7");
// booleans as text are their numbers ("-1" for VARIANT_TRUE), or
// "True"/"False" with VARIANT_ALPHABOOL.
OPOSSVC_API HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                      USHORT wFlags, VARTYPE vt);
OPOSSVC_API HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                                        USHORT wFlags, VARTYPE vt);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_OLEAUTO_H_
