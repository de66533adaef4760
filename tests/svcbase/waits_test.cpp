#include <functional>
#include <thread>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opossvc/svcbase.h>

#include "tests/svcbase/svcbase_test_support.h"

namespace {

using svcbase_test::TestServiceObject;

constexpr UINT kAppMessage = 0x0400;

// A service object whose window also records the messages it is dispatched.
class RecordingServiceObject : public TestServiceObject {
 public:
  std::vector<UINT> dispatched;
  std::function<void(UINT)> on_message;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kAppMessage || message == kAppMessage + 1 ||
        (message >= 0x00A0 && message <= 0x0108) || (message >= 0x0200 && message <= 0x0209)) {
      dispatched.push_back(message);
      if (on_message) on_message(message);
      return 0;
    }
    return TestServiceObject::WindowProc(message, wParam, lParam);
  }

  void Configure(DWORD first, DWORD last, LONG remove_keys, DWORD idle) {
    m_nPeekFirst = first;
    m_nPeekLast = last;
    m_bRemoveKeyMessage = remove_keys;
    m_dwIdleSleep = idle;
  }
  void Post(UINT message) { ASSERT_TRUE(::PostMessageA(m_hWnd, message, 0, 0)); }
  // Messages still waiting in this thread's queue.
  std::vector<UINT> Waiting() {
    std::vector<UINT> left;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) left.push_back(msg.message);
    return left;
  }
};

constexpr UINT kKeyDown = 0x0100;
constexpr UINT kMouseMove = 0x0200;
constexpr UINT kNcMouseMove = 0x00A0;

TEST(WaitsTest, ProcessMessagePassesByConfiguration) {
  const struct {
    const char* name;
    DWORD first, last;
    LONG remove_keys;
    int all, discard;
    std::vector<UINT> posted, dispatched, left;
  } cases[] = {
      {"one per pass", kAppMessage, kAppMessage, 0, 0, 0,
       {kAppMessage, kAppMessage, kAppMessage}, {kAppMessage}, {kAppMessage, kAppMessage}},
      {"all per pass", kAppMessage, kAppMessage, 0, 1, 0,
       {kAppMessage, kAppMessage + 1, kAppMessage}, {kAppMessage, kAppMessage},
       {kAppMessage + 1}},
      {"input in range dispatched without discarding", kKeyDown, kAppMessage, 0, 1, 0,
       {kKeyDown, kAppMessage}, {kKeyDown, kAppMessage}, {}},
      {"input in range dropped when discarding", kKeyDown, kAppMessage, 0, 1, 1,
       {kKeyDown, kAppMessage, kMouseMove}, {kAppMessage}, {}},
      {"input outside the range removed one per pass", kAppMessage, kAppMessage, 1, 0, 0,
       {kKeyDown, kMouseMove, kAppMessage}, {kAppMessage}, {kMouseMove}},
      {"input outside the range all removed", kAppMessage, kAppMessage, 1, 1, 0,
       {kNcMouseMove, kKeyDown, kMouseMove, kAppMessage + 1}, {}, {kAppMessage + 1}},
      {"discard flag alone removes input only", 0, 0, 0, 1, 1,
       {kKeyDown, kAppMessage, kMouseMove}, {}, {kAppMessage}},
      {"nothing configured touches nothing", 0, 0, 0, 1, 0,
       {kKeyDown, kAppMessage}, {}, {kKeyDown, kAppMessage}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingServiceObject so;
    so.Configure(c.first, c.last, c.remove_keys, 1);
    for (UINT m : c.posted) so.Post(m);
    so.ProcessMessage(c.all, c.discard);
    EXPECT_THAT(so.dispatched, ::testing::ElementsAreArray(c.dispatched));
    EXPECT_THAT(so.Waiting(), ::testing::ElementsAreArray(c.left));
  }
}

// SleepWPM and WaitForSingleObjectWPM pump only when a peek range or input
// discarding asks for it; otherwise they are plain waits.
TEST(WaitsTest, SleepAndWaitDispatchOnlyWhenConfigured) {
  HANDLE signalled = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const std::tuple<DWORD, DWORD, int, size_t> cases[] = {
      {0, 0, 0, 0}, {kAppMessage, kAppMessage, 0, 3}, {0, 0, 1, 0}};
  for (const auto& [first, last, discard, dispatched] : cases) {
    SCOPED_TRACE(first + discard);
    RecordingServiceObject so;
    so.Configure(first, last, 0, 10);
    for (int i = 0; i < 3; ++i) so.Post(kAppMessage);
    so.SleepWPM(30, 1, discard);
    EXPECT_EQ(so.dispatched.size(), dispatched);
    EXPECT_EQ(so.Waiting().size(), 3 - dispatched);
    EXPECT_EQ(so.WaitForSingleObjectWPM(signalled, 250, 0, discard), WAIT_OBJECT_0);
    EXPECT_EQ(so.WaitForSingleObjectWPM(never, 50, 0, discard), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(so.WaitForSingleObjectWPM(nullptr, 250, 0, discard), WAIT_FAILED)
        << "a failed wait ends at once";
  }
  CloseHandle(signalled);
  CloseHandle(never);
}

// The event thread's send is handled inside the wait; its handler lets
// another thread post a message, whose dispatch ends the wait. Each slice of
// the wait is the whole timeout here: only a slice that a message ends early
// lets the wait see either in time.
TEST(WaitsTest, WaitServesSendsAndPostsFromOtherThreadsMeanwhile) {
  RecordingServiceObject so;
  so.Configure(kAppMessage, kAppMessage, 0, INFINITE);
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  so.answer = [&](const TestServiceObject::Event&) {
    SetEvent(go);
    return LRESULT{0};
  };
  so.on_message = [&](UINT) { SetEvent(done); };
  HWND hwnd = so.m_hWnd;
  std::thread poster([&] {
    if (WaitForSingleObject(go, 20000) == WAIT_OBJECT_0) PostMessageA(hwnd, kAppMessage, 0, 0);
  });
  so.m_bDeliverEvents = 1;
  opossvc::EventThread thread;
  ASSERT_TRUE(thread.Start(so));
  so.QueueEvent(OPOS_EVENT_OUTPUTCOMPLETE, 1, 0, 0);
  EXPECT_EQ(so.WaitForSingleObjectWPM(done, 20000, 0, 0), WAIT_OBJECT_0);
  poster.join();
  EXPECT_EQ(so.events.size(), 1u);
  EXPECT_THAT(so.dispatched, ::testing::ElementsAre(kAppMessage));
  thread.Stop();
  CloseHandle(go);
  CloseHandle(done);
}

}  // namespace
