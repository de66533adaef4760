// Test service object and message pumping for the svcbase
// suites. Each test runs on the window's thread: the thread that constructs
// a TestServiceObject owns its window and must pump for events to arrive.
#ifndef OPOSSVC_TESTS_SVCBASE_SVCBASE_TEST_SUPPORT_H_
#define OPOSSVC_TESTS_SVCBASE_SVCBASE_TEST_SUPPORT_H_

#include <functional>
#include <vector>

#include <opossvc/opossvc.h>  // all a service object needs, as in the README
#include <opossvc/testing/flags.h>

#include "tests/support/exception_helpers.h"

namespace svcbase_test {

// A service object whose event handler records each event it is sent and
// then answers with `answer` (default: 0, done).
class TestServiceObject : public CSvcBase {
 public:
  struct Event {
    ULONG_PTR type, d1, d2, d3;
    bool operator==(const Event& o) const {
      return type == o.type && d1 == o.d1 && d2 == o.d2 && d3 == o.d3;
    }
  };

  using CSvcBase::ConvertToASCII;
  using CSvcBase::ConvertToBinary;
  using CSvcBase::DIO_FireEventCtrl;
  using CSvcBase::GetCODescription;
  using CSvcBase::GetCOVersion;
  using CSvcBase::GetIDsOfEvents;
  using CSvcBase::GetPortNumber;
  using CSvcBase::OpenInit;
  using CSvcBase::ProcessMessage;
  using CSvcBase::WaitForSingleObjectWPM;

  // Window thread only.
  std::vector<Event> events;
  std::function<LRESULT(const Event&)> answer;

  LRESULT OnOposEvent(WPARAM type, LPARAM);

  DECLARE_MESSAGE_MAP()
};

// Marks the object open, enabled and delivering, with a 1 ms idle poll, as an
// open would leave it; tests then change the flag they are about.
inline void ReadyForEvents(CSvcBase& so) {
  so.m_dwIdleSleep = 1;
  so.m_bOpened = 1;
  so.m_bDeviceEnabled = 1;
  so.m_bDeliverEvents = 1;
}

}  // namespace svcbase_test

#endif  // OPOSSVC_TESTS_SVCBASE_SVCBASE_TEST_SUPPORT_H_
