// The service object of the README, word for word, so that it keeps
// compiling against <opossvc/opossvc.h> alone.
#include <opossvc/opossvc.h>

class CMySO : public CSvcBase {
 public:
  ~CMySO() { Close(); }
  long Open(const char* cls, const char* dev, IDispatch* co) {
    if (OpenInit(cls, dev, co, OPOSSVC_EM_ALL_EVENTS, FALSE) != OPOS_SUCCESS) return m_lResultCode;
    m_bDeliverEvents = 1;
    if (!m_events.Start(*this)) m_lResultCode = OPOS_E_FAILURE;  // runs ProcessEvents
    return m_lResultCode;
  }
  // Ends the event thread, handling this thread's messages meanwhile, and
  // drops the events still queued.
  void Close() { m_events.Stop(); }
  void SetDeviceEnabled(bool on) { opossvc::SetFlag(m_bDeviceEnabled, on ? 1 : 0); }
  // Called on the driver's input thread; queue, and let the event thread deliver.
  void DataUpdate(unsigned char* bytes, long count) {
    QueueEvent(OPOS_EVENT_DATA, count, 0, 0);
  }

 protected:
  // Runs on the window's thread, where the control object lives.
  LRESULT OnOposEvent(WPARAM type, LPARAM) {
    if (type == OPOS_EVENT_DATA) return SOData(static_cast<long>(m_dwEventData1));
    if (type == OPOS_EVENT_STATUSUPDATE) return SOStatusUpdate(static_cast<long>(m_dwEventData1));
    return 0;
  }
  DECLARE_MESSAGE_MAP()

 private:
  opossvc::EventThread m_events;
};

BEGIN_MESSAGE_MAP(CMySO, CSvcBase)
  ON_MESSAGE(WM_OPOS_EVENT, &CMySO::OnOposEvent)
END_MESSAGE_MAP()

int main() {
  // Opening without a control object fails cleanly: the event methods are missing.
  CMySO so;
  long result = so.Open("Scanner", "NoSuchScanner", nullptr);
  return result == OPOS_E_ILLEGAL ? 0 : 1;
}
