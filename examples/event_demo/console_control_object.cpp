#include "console_control_object.h"

#include <cstring>

namespace {

// Member identifiers, in the order of kMembers.
enum Member : DISPID {
  kSOData = 1,
  kSODirectIO,
  kSOError,
  kSOOutputComplete,
  kSOStatusUpdate,
  kDirectIO,
  kDescription,
  kVersion,
};

struct MemberName {
  const char* name;
  DISPID id;
};
constexpr MemberName kMembers[] = {
    {"SOData", kSOData},
    {"SODirectIO", kSODirectIO},
    {"SOError", kSOError},
    {"SOOutputComplete", kSOOutputComplete},
    {"SOStatusUpdate", kSOStatusUpdate},
    {"DirectIO", kDirectIO},
    {"ControlObjectDescription", kDescription},
    {"ControlObjectVersion", kVersion},
};

constexpr char kDescriptionText[] = "Console control object";
constexpr LONG kVersionNumber = 1014000;  // 1.14.000

// Names compare ASCII case-insensitively, as automation names do.
bool SameName(const OLECHAR* wide, const char* narrow) {
  for (; *wide != 0 && *narrow != 0; ++wide, ++narrow) {
    OLECHAR a = *wide;
    char b = *narrow;
    if (a >= 'a' && a <= 'z') a = static_cast<OLECHAR>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != static_cast<unsigned char>(b)) return false;
  }
  return *wide == 0 && *narrow == 0;
}

// The i-th argument in call order (DISPPARAMS holds them last first).
const VARIANT& Arg(const DISPPARAMS& params, UINT i) {
  return params.rgvarg[params.cArgs - 1 - i];
}

// A 32-bit argument by value or by reference.
LONG LongArg(const DISPPARAMS& params, UINT i) {
  const VARIANT& v = Arg(params, i);
  if (v.vt == (VT_I4 | VT_BYREF)) return *v.plVal;
  return v.vt == VT_I4 ? v.lVal : 0;
}

// ASCII text of a string argument by reference (other characters as '?').
std::string StringArg(const DISPPARAMS& params, UINT i) {
  const VARIANT& v = Arg(params, i);
  if (v.vt != (VT_BSTR | VT_BYREF) || *v.pbstrVal == nullptr) return "";
  std::string text;
  BSTR s = *v.pbstrVal;
  for (UINT k = 0; k < SysStringLen(s); ++k) text += s[k] < 0x80 ? static_cast<char>(s[k]) : '?';
  return text;
}

UINT ArgCount(Member m) {
  switch (m) {
    case kSODirectIO:
    case kDirectIO:
      return 3;
    case kSOError:
      return 4;
    case kDescription:
    case kVersion:
      return 0;
    default:
      return 1;
  }
}

}  // namespace

HRESULT ConsoleControlObject::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *ppvObject = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

HRESULT ConsoleControlObject::GetTypeInfoCount(UINT* pctinfo) {
  if (pctinfo == nullptr) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT ConsoleControlObject::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo != nullptr) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT ConsoleControlObject::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                            DISPID* rgDispId) {
  if (rgszNames == nullptr || rgDispId == nullptr || cNames == 0) return E_INVALIDARG;
  HRESULT result = S_OK;
  for (UINT n = 0; n < cNames; ++n) {
    rgDispId[n] = DISPID_UNKNOWN;
    for (const MemberName& m : kMembers) {
      if (rgszNames[n] != nullptr && SameName(rgszNames[n], m.name)) rgDispId[n] = m.id;
    }
    if (rgDispId[n] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
  }
  return result;
}

HRESULT ConsoleControlObject::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO*,
                                     UINT*) {
  if (dispIdMember < kSOData || dispIdMember > kVersion) return DISP_E_MEMBERNOTFOUND;
  Member member = static_cast<Member>(dispIdMember);
  if (pDispParams == nullptr) return E_INVALIDARG;
  if (pDispParams->cArgs != ArgCount(member)) return DISP_E_BADPARAMCOUNT;
  const DISPPARAMS& p = *pDispParams;

  if (member == kDescription || member == kVersion) {
    if (!(wFlags & DISPATCH_PROPERTYGET) || pVarResult == nullptr) return DISP_E_MEMBERNOTFOUND;
    VariantInit(pVarResult);
    if (member == kVersion) {
      pVarResult->vt = VT_I4;
      pVarResult->lVal = kVersionNumber;
    } else {
      pVarResult->vt = VT_BSTR;
      pVarResult->bstrVal = AllocSysString(kDescriptionText);
    }
    return S_OK;
  }
  if (!(wFlags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;

  switch (member) {
    case kSOData:
      Record("SOData(" + std::to_string(LongArg(p, 0)) + ")");
      break;
    case kSODirectIO:
      Record("SODirectIO(" + std::to_string(LongArg(p, 0)) + ", " + std::to_string(LongArg(p, 1)) +
             ", \"" + StringArg(p, 2) + "\")");
      break;
    case kSOError: {
      Record("SOError(" + std::to_string(LongArg(p, 0)) + ", " + std::to_string(LongArg(p, 1)) +
             ", " + std::to_string(LongArg(p, 2)) + ")");
      // The application's answer to the error event.
      const VARIANT& response = Arg(p, 3);
      if (response.vt == (VT_I4 | VT_BYREF)) *response.plVal = OPOS_ER_CLEAR;
      break;
    }
    case kSOOutputComplete:
      Record("SOOutputComplete(" + std::to_string(LongArg(p, 0)) + ")");
      break;
    case kSOStatusUpdate:
      Record("SOStatusUpdate(" + std::to_string(LongArg(p, 0)) + ")");
      break;
    default:  // DirectIO: nothing to do for this control object
      break;
  }
  if (pVarResult != nullptr) {
    VariantInit(pVarResult);
    if (member == kDirectIO) {
      pVarResult->vt = VT_I4;
      pVarResult->lVal = OPOS_SUCCESS;
    }
  }
  return S_OK;
}

void ConsoleControlObject::Record(std::string line) {
  std::fprintf(out_, "  control object: %s\n", line.c_str());
  std::fflush(out_);
  calls_.push_back(std::move(line));
}
