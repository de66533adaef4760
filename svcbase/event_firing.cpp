// Firing OPOS events at the control object through its dispatch interface.
#include <opossvc/svcbase.h>

namespace {

// Control-object methods in the order of m_dispidEvents and the mask bits.
enum EventMethod { kSOData, kSODirectIO, kSOError, kSOOutputComplete, kSOStatusUpdate, kDirectIO };
constexpr const char* kEventMethodNames[] = {"SOData",           "SODirectIO",     "SOError",
                                             "SOOutputComplete", "SOStatusUpdate", "DirectIO"};

DWORD MaskBit(EventMethod method) { return DWORD{1} << method; }

// The DirectIO command that tells the maker's control objects an event
// firing has finished.
constexpr long kCompletionCommand = -960726;

constexpr BYTE kOneLong[] = VTS_I4;
constexpr BYTE kDirectIOParams[] = VTS_I4 VTS_PI4 VTS_PBSTR;
constexpr BYTE kErrorParams[] = VTS_I4 VTS_I4 VTS_I4 VTS_PI4;

}  // namespace

unsigned long CSvcBase::GetIDsOfEvents(IDispatch* pDispatch) {
  m_dwEventMask = 0;
  if (pDispatch == nullptr) return 0;
  for (int i = kSOData; i <= kDirectIO; ++i) {
    BSTR name = AllocSysString(kEventMethodNames[i]);
    HRESULT hr = pDispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &m_dispidEvents[i]);
    SysFreeString(name);
    if (hr == S_OK) m_dwEventMask |= MaskBit(static_cast<EventMethod>(i));
  }
  m_dispCO.AttachDispatch(pDispatch, FALSE);
  return m_dwEventMask;
}

long CSvcBase::DIO_FireEventCtrl(long* pData) {
  long unused = -1;
  long* data = pData != nullptr ? pData : &unused;
  BSTR string = SysAllocStringLen(nullptr, 0);
  long result = 0;
  try {
    m_dispCO.InvokeHelper(m_dispidEvents[kDirectIO], DISPATCH_METHOD, VT_I4, &result,
                          kDirectIOParams, kCompletionCommand, data, &string);
  } catch (...) {
    SysFreeString(string);
    throw;
  }
  // The control object may have replaced the string.
  SysFreeString(string);
  return result;
}

long CSvcBase::CompleteEventFiring() {
  if (!m_bVendorCO) return 0;
  long data = -1;
  DIO_FireEventCtrl(&data);
  return data;
}

long CSvcBase::SOData(long lStatus) {
  if (m_dwEventMask & MaskBit(kSOData)) {
    m_dispCO.InvokeHelper(m_dispidEvents[kSOData], DISPATCH_METHOD, VT_EMPTY, nullptr, kOneLong,
                          lStatus);
  }
  return CompleteEventFiring();
}

long CSvcBase::SODirectIO(long lEventNumber, long* pData, BSTR* pString) {
  if (m_dwEventMask & MaskBit(kSODirectIO)) {
    long unused_data = 0;
    BSTR unused_string = nullptr;
    m_dispCO.InvokeHelper(m_dispidEvents[kSODirectIO], DISPATCH_METHOD, VT_EMPTY, nullptr,
                          kDirectIOParams, lEventNumber, pData != nullptr ? pData : &unused_data,
                          pString != nullptr ? pString : &unused_string);
    if (pString == nullptr) SysFreeString(unused_string);
  }
  return CompleteEventFiring();
}

long CSvcBase::SOError(long lResultCode, long lResultCodeExtended, long lErrorLocus,
                       long* pErrorResponse) {
  if (m_dwEventMask & MaskBit(kSOError)) {
    long unused_response = 0;
    m_dispCO.InvokeHelper(m_dispidEvents[kSOError], DISPATCH_METHOD, VT_EMPTY, nullptr,
                          kErrorParams, lResultCode, lResultCodeExtended, lErrorLocus,
                          pErrorResponse != nullptr ? pErrorResponse : &unused_response);
  }
  return CompleteEventFiring();
}

long CSvcBase::SOOutputComplete(long lOutputID) {
  if (m_dwEventMask & MaskBit(kSOOutputComplete)) {
    m_dispCO.InvokeHelper(m_dispidEvents[kSOOutputComplete], DISPATCH_METHOD, VT_EMPTY, nullptr,
                          kOneLong, lOutputID);
  }
  return CompleteEventFiring();
}

long CSvcBase::SOStatusUpdate(long lStatus) {
  if (m_dwEventMask & MaskBit(kSOStatusUpdate)) {
    m_dispCO.InvokeHelper(m_dispidEvents[kSOStatusUpdate], DISPATCH_METHOD, VT_EMPTY, nullptr,
                          kOneLong, lStatus);
  }
  return CompleteEventFiring();
}
