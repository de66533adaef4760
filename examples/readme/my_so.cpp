// The service object of the README, word for word, so that it keeps
// compiling against <opossvc/opossvc.h> alone.
#include <opossvc/opossvc.h>

class CMySO : public CSvcBase {
 public:
  long Open(const char* cls, const char* dev, IDispatch* co) {
    if (OpenInit(cls, dev, co, 0x1F, FALSE) != OPOS_SUCCESS) return m_lResultCode;
    m_bOpened = 1;
    m_bDeliverEvents = 1;
    AfxBeginThread(&Events, this);  // the event thread runs ProcessEvents
    return m_lResultCode;
  }
  // Called on the driver's input thread; queue, and let the event thread deliver.
  void DataUpdate(unsigned char* bytes, long count) {
    QueueEvent(OPOS_EVENT_DATA, count, 0, 0);
  }

 protected:
  static UINT Events(LPVOID self) { return static_cast<CMySO*>(self)->ProcessEvents(); }
  // Runs on the window's thread, where the control object lives.
  LRESULT OnOposEvent(WPARAM type, LPARAM) {
    if (type == OPOS_EVENT_DATA) return SOData(static_cast<long>(m_dwEventData1));
    if (type == OPOS_EVENT_STATUSUPDATE) return SOStatusUpdate(static_cast<long>(m_dwEventData1));
    return 0;
  }
  DECLARE_MESSAGE_MAP()
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
