#include "demo_service_object.h"

using opossvc::SetFlag;

BEGIN_MESSAGE_MAP(CDemoServiceObject, CSvcBase)
  ON_MESSAGE(WM_OPOS_EVENT, &CDemoServiceObject::OnOposEvent)
END_MESSAGE_MAP()

CDemoServiceObject::~CDemoServiceObject() { Close(); }

long CDemoServiceObject::Open(const char* deviceClass, const char* deviceName,
                              IDispatch* controlObject) {
  // The control object must offer the five event methods.
  if (OpenInit(deviceClass, deviceName, controlObject, OPOSSVC_EM_ALL_EVENTS, FALSE) !=
      OPOS_SUCCESS) {
    return m_lResultCode;
  }
  m_bDeliverEvents = 1;
  if (!m_EventThread.Start(*this)) m_lResultCode = OPOS_E_FAILURE;
  return m_lResultCode;
}

void CDemoServiceObject::Enable(bool on) {
  // The event thread polls these; written atomically so that race
  // detectors stay quiet.
  SetFlag(m_bDeviceEnabled, on ? 1 : 0);
  SetFlag(m_bDataEventEnabled, on ? 1 : 0);
}

void CDemoServiceObject::Close() { m_EventThread.Stop(); }

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
