#include "demo_service_object.h"

#include <opossvc/testing/flags.h>

using opossvc::testing::SetFlag;

BEGIN_MESSAGE_MAP(CDemoServiceObject, CSvcBase)
  ON_MESSAGE(WM_OPOS_EVENT, &CDemoServiceObject::OnOposEvent)
END_MESSAGE_MAP()

CDemoServiceObject::~CDemoServiceObject() { Close(); }

long CDemoServiceObject::Open(const char* deviceClass, const char* deviceName,
                              IDispatch* controlObject) {
  // The control object must offer the five event methods.
  const unsigned long kRequired = 0x1F;
  if (OpenInit(deviceClass, deviceName, controlObject, kRequired, FALSE) != OPOS_SUCCESS) {
    return m_lResultCode;
  }
  m_bOpened = 1;
  m_bDeliverEvents = 1;
  // Kept (not auto-deleted) so that Close can wait for its end.
  m_pEventThread = AfxBeginThread(&EventThreadProc, this, THREAD_PRIORITY_NORMAL, 0,
                                  CREATE_SUSPENDED);
  if (m_pEventThread == nullptr) {
    m_bOpened = 0;
    m_lResultCode = OPOS_E_FAILURE;
    return m_lResultCode;
  }
  m_pEventThread->m_bAutoDelete = FALSE;
  m_pEventThread->ResumeThread();
  return m_lResultCode;
}

void CDemoServiceObject::Enable(bool on) {
  // The event thread polls these; written atomically so that race
  // detectors stay quiet.
  SetFlag(m_bDeviceEnabled, on ? 1 : 0);
  SetFlag(m_bDataEventEnabled, on ? 1 : 0);
}

void CDemoServiceObject::Close() {
  if (m_pEventThread == nullptr) return;
  SetFlag(m_bOpened, 0);
  // The event thread may be inside a send to this window: keep handling
  // sent messages until it has ended.
  HANDLE thread = m_pEventThread->m_hThread;
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
         WAIT_OBJECT_0 + 1) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  }
  delete m_pEventThread;
  m_pEventThread = nullptr;
  m_Event.RemoveAll(0);
}

UINT CDemoServiceObject::EventThreadProc(LPVOID self) {
  return static_cast<CDemoServiceObject*>(self)->ProcessEvents();
}

// On the window's thread: fire the delivered event at the control object.
LRESULT CDemoServiceObject::OnOposEvent(WPARAM eventType, LPARAM) {
  long data1 = static_cast<long>(m_dwEventData1);
  long data2 = static_cast<long>(m_dwEventData2);
  long data3 = static_cast<long>(m_dwEventData3);
  switch (eventType) {
    case OPOS_EVENT_DATA:
      return SOData(data1);
    case OPOS_EVENT_DIRECTIO:
      // The third value is the address of the BSTR variable; the library
      // frees the string once this handler has returned.
      return SODirectIO(data1, &data2, reinterpret_cast<BSTR*>(m_dwEventData3));
    case OPOS_EVENT_ERROR: {
      long response = OPOS_ER_RETRY;
      return SOError(data1, data2, data3, &response);
    }
    case OPOS_EVENT_OUTPUTCOMPLETE:
      return SOOutputComplete(data1);
    case OPOS_EVENT_STATUSUPDATE:
      return SOStatusUpdate(data1);
    default:
      return 0;
  }
}
