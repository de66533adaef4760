// CSvcBase's construction, destruction, run-time class and the default
// notifications.
#include <opossvc/svcbase.h>
#include <opossvc/win32/messages.h>

namespace {

// Extended style of the hidden window.
constexpr DWORD kTransparentExStyle = 0x20;  // WS_EX_TRANSPARENT

}  // namespace

IMPLEMENT_DYNCREATE(CSvcBase, CWnd)

BEGIN_MESSAGE_MAP(CSvcBase, CWnd)
END_MESSAGE_MAP()

CSvcBase::CSvcBase()
    : m_bOpened(0),
      m_bDeviceEnabled(0),
      m_lResultCode(OPOS_E_CLOSED),
      m_lResultCodeExtended(0),
      m_bDataEventEnabled(1),
      m_lUser1(1),
      m_lUser2(0),
      m_bFreezeEvents(0),
      m_bDeliverEvents(0),
      m_lUser3(0),
      m_bAutoDisable(0),
      m_lBinaryConversion(0),
      m_lUser4(0),
      m_bHoldEvents(0),
      m_lUser5(0),
      m_lUser6(0),
      m_lPowerState(OPOS_PS_UNKNOWN),
      m_dwEventData1(0),
      m_dwEventData2(0),
      m_dwEventData3(0),
      m_bVendorCO(0),
      // The members that OpenInit sets start as an open without any
      // settings would leave them: no pumping, no idle pause.
      m_dwIdleSleep(0),
      m_lPortNumber(0),
      m_nPeekFirst(0),
      m_nPeekLast(0),
      m_bRemoveKeyMessage(0),
      m_bAutoDisableSpecial(0),
      m_bDirectIOAlways(0),
      m_dwEventMask(0) {
  for (DISPID& id : m_dispidEvents) id = DISPID_UNKNOWN;
  // A hidden top-level window owned by this thread: the event thread's sent
  // messages are handled here. A failed creation leaves m_hWnd null; sends
  // then reach no window and return 0, so events are dropped.
  CreateEx(kTransparentExStyle, AfxRegisterWndClass(0), "", 0, GetSystemMetrics(SM_CXSCREEN) / 2,
           GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr, nullptr, nullptr);
}

CSvcBase::~CSvcBase() {
  DestroyWindow();
  // Not ours to release: the control object was attached without a reference.
  m_dispCO.DetachDispatch();
}

void CSvcBase::DataUpdate(unsigned char* /*pData*/, long /*lLength*/) {}
void CSvcBase::OutputDataComplete(long /*lOutputID*/) {}
void CSvcBase::PortError(long /*lCode*/) {}
void CSvcBase::PowerReport(long /*lState*/) {}
void CSvcBase::PowerReport(long /*lKind*/, int /*nNewState*/, int /*nOldState*/) {}
