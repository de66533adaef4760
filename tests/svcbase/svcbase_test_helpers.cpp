#include "tests/svcbase/svcbase_test_support.h"

#include <opossvc/win32/messages.h>
#include <opossvc/win32/time.h>

namespace svcbase_test {

BEGIN_MESSAGE_MAP(TestServiceObject, CSvcBase)
  ON_MESSAGE(WM_OPOS_EVENT, &TestServiceObject::OnOposEvent)
END_MESSAGE_MAP()

LRESULT TestServiceObject::OnOposEvent(WPARAM type, LPARAM) {
  events.push_back(Event{type, m_dwEventData1, m_dwEventData2, m_dwEventData3});
  return answer ? answer(events.back()) : 0;
}

}  // namespace svcbase_test
