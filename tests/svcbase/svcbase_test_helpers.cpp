#include "tests/svcbase/svcbase_test_support.h"

#include <opossvc/win32/messages.h>
#include <opossvc/win32/time.h>

namespace svcbase_test {

BEGIN_MESSAGE_MAP(TestServiceObject, CSvcBase)
  ON_MESSAGE(WM_OPOS_EVENT, &TestServiceObject::OnOposEvent)
END_MESSAGE_MAP()

LRESULT TestServiceObject::OnOposEvent(WPARAM type, LPARAM) {
  events.push_back(Event{type, m_dwEventData1, m_dwEventData2, m_dwEventData3});
  return answer ? answer(events.back()) : FireCurrentEvent(type);
}

LRESULT TestServiceObject::FireCurrentEvent(WPARAM type) {
  auto as_long = [](ULONG_PTR v) { return static_cast<long>(v); };
  switch (type) {
    case OPOS_EVENT_DATA:
      return SOData(as_long(m_dwEventData1));
    case OPOS_EVENT_DIRECTIO: {
      long data = as_long(m_dwEventData2);
      return SODirectIO(as_long(m_dwEventData1), &data, reinterpret_cast<BSTR*>(m_dwEventData3));
    }
    case OPOS_EVENT_ERROR: {
      long response = OPOS_ER_CLEAR;
      return SOError(as_long(m_dwEventData1), as_long(m_dwEventData2), as_long(m_dwEventData3),
                     &response);
    }
    case OPOS_EVENT_OUTPUTCOMPLETE:
      return SOOutputComplete(as_long(m_dwEventData1));
    case OPOS_EVENT_STATUSUPDATE:
      return SOStatusUpdate(as_long(m_dwEventData1));
    default:
      return 0;
  }
}

EventThread::EventThread(CSvcBase& so) : so_(so) {
  thread_ = std::thread([this] {
    count_ = so_.ProcessEvents();
    done_.store(true);
  });
}

EventThread::~EventThread() { Stop(); }

UINT EventThread::Stop() {
  if (thread_.joinable()) {
    opossvc::testing::SetFlag(so_.m_bOpened, 0);
    PumpUntil([this] { return done_.load(); });
    thread_.join();
  }
  return count_;
}

}  // namespace svcbase_test
