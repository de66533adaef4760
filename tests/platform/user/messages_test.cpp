// Posting, peeking with filters, quit, waiting for messages, and SendMessageA
// within and across threads and to windows that die.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/messages.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>

#include <opossvc/testing/message_pump.h>

#include "tests/platform/user/window_helpers.h"

namespace {

using opossvc::test::Answer;
using opossvc::test::Drain;
using opossvc::test::kLong;
using opossvc::test::TestWindow;

TEST(PeekTest, RangesPickTheFirstMatchingMessage) {
  TestWindow window;
  // The message a ranged peek takes from a fresh queue; WM_NULL for none.
  auto first_of = [&](UINT first, UINT last) -> UINT {
    Drain();
    for (UINT m : {WM_USER, WM_USER + 1, WM_KEYDOWN, WM_MOUSEMOVE, WM_APP}) {
      PostMessageA(window.hwnd, m, 0, 0);
    }
    MSG msg{};
    return PeekMessageA(&msg, nullptr, first, last, PM_REMOVE) ? msg.message : WM_NULL;
  };
  EXPECT_EQ(first_of(0, 0), UINT{WM_USER});
  EXPECT_EQ(first_of(WM_USER + 1, WM_USER + 1), UINT{WM_USER + 1});
  EXPECT_EQ(first_of(WM_KEYFIRST, WM_KEYLAST), UINT{WM_KEYDOWN});
  EXPECT_EQ(first_of(WM_MOUSEFIRST, WM_MOUSELAST), UINT{WM_MOUSEMOVE});
  EXPECT_EQ(first_of(WM_USER + 2, WM_USER + 100), UINT{WM_NULL});
  Drain();
}

TEST(PeekTest, WindowFilters) {
  TestWindow a;
  TestWindow b;
  PostMessageA(a.hwnd, WM_USER, 1, 0);
  PostMessageA(b.hwnd, WM_USER, 3, 0);
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, b.hwnd, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  // A filter naming no window is an error, not "no message".
  HWND gone = TestWindow().hwnd;
  EXPECT_FAILS_WITH(PeekMessageA(&msg, gone, 0, 0, PM_REMOVE), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(GetMessageA(&msg, gone, 0, 0), -1);
}

TEST(PostTest, TheQueueHasAQuota) {
  TestWindow window;
  DWORD posted = 0;
  while (PostMessageA(window.hwnd, WM_USER, 0, 0) && posted < 20000) ++posted;
  EXPECT_EQ(posted, 10000u);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_ENOUGH_QUOTA});
  Drain();
  EXPECT_TRUE(PostMessageA(window.hwnd, WM_USER, 0, 0));
  Drain();
}

TEST(TranslateTest, OnlyKeyDownBecomesACharacter) {
  TestWindow window;
  MSG key{window.hwnd, WM_USER, 'Q', 0, 0, {0, 0}};
  EXPECT_FALSE(TranslateMessage(&key));
  key.message = WM_KEYDOWN;
  EXPECT_TRUE(TranslateMessage(&key));
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, UINT{WM_CHAR});
  EXPECT_EQ(msg.wParam, WPARAM{'q'});
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(MsgWaitTest, WakesForNewMessagesSendsAndObjects) {
  TestWindow window;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const HWND hwnd = window.hwnd;
  constexpr DWORD kMessage = WAIT_OBJECT_0 + 1;

  // A message posted from another thread wakes the wait.
  std::thread poster([hwnd] { PostMessageA(hwnd, WM_USER, 0, 0); });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, kLong, QS_ALLINPUT), kMessage);
  poster.join();

  // Once the thread has looked at the queue, the message is no longer new.
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), DWORD{WAIT_TIMEOUT});
  Drain();

  SetEvent(event);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), DWORD{WAIT_OBJECT_0});
  CloseHandle(event);
}

// Blocks the calling thread until a message is being sent to it, without
// handling it.
bool WaitForIncomingSend() {
  return MsgWaitForMultipleObjects(0, nullptr, FALSE, kLong, QS_SENDMESSAGE) == WAIT_OBJECT_0;
}

// 1000 while handling a send from another thread; the reply carries it back.
LRESULT CrossThreadMark() { return InSendMessage() ? 1000 : 0; }

TEST(SendTest, OwnThreadCallsDirectlyOtherThreadWaitsForTheOwnersPeek) {
  std::atomic<bool> returned{false};
  std::atomic<bool> returned_before_handler{true};
  TestWindow window(Answer(WM_USER, [&](WPARAM w) {
    returned_before_handler = returned.load();
    return LRESULT(w * 2) + CrossThreadMark();
  }));
  EXPECT_EQ(SendMessageA(window.hwnd, WM_USER, 4, 0), 8);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "a same-thread send was queued";

  const HWND hwnd = window.hwnd;
  LRESULT result = 0;
  std::thread sender([&] {
    result = SendMessageA(hwnd, WM_USER, 21, 0);
    returned = true;
  });
  ASSERT_TRUE(WaitForIncomingSend());
  EXPECT_EQ(window.CountOf(WM_USER), 1) << "handled before the owner looked at its queue";
  // A peek whose filter takes nothing still delivers the sent message.
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_APP + 100, WM_APP + 100, PM_NOREMOVE));
  sender.join();
  EXPECT_EQ(result, 1042);
  EXPECT_FALSE(returned_before_handler.load()) << "the sender did not wait for the reply";
  EXPECT_EQ(window.CountOf(WM_USER), 2);
  EXPECT_EQ(window.ThreadOf(WM_USER), GetCurrentThreadId());
}

// Kinds of message (PM_QS_*): a sent message is handled whatever the kinds,
// and a call with kinds that handled one takes nothing more; posted messages
// and WM_QUIT need PM_QS_POSTMESSAGE. PM_NOREMOVE leaves the first message
// first, and WM_QUIT comes after every posted message.
TEST(PeekTest, KindsOfMessageNoRemoveAndQuit) {
  TestWindow window;
  PostMessageA(window.hwnd, WM_USER, 1, 10);
  PostMessageA(window.hwnd, WM_USER, 2, 20);
  PostQuitMessage(42);
  MSG msg{};
  for (UINT kinds : {PM_QS_SENDMESSAGE, PM_QS_INPUT, PM_QS_PAINT}) {
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | kinds)) << kinds;
  }
  const HWND hwnd = window.hwnd;
  std::thread sender([hwnd] { SendMessageA(hwnd, WM_USER + 1, 0, 0); });
  ASSERT_TRUE(WaitForIncomingSend());
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE));
  sender.join();
  EXPECT_EQ(window.CountOf(WM_USER + 1), 1);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_POSTMESSAGE));
    EXPECT_EQ(msg.lParam, 10);
  }
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE | PM_QS_POSTMESSAGE));
  for (WPARAM expected : {1u, 2u}) {
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.wParam, expected);
  }
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.wParam, 42u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

// A on this thread sends to B on the pump; B, while handling it, sends back
// to A, which handles that inside its own waiting SendMessageA.
TEST(SendTest, ReentrantSendsAndPostsBetweenTwoThreads) {
  TestWindow a(Answer(WM_USER + 1, [](WPARAM w) { return LRESULT(w + 100); }));
  const HWND a_hwnd = a.hwnd;
  opossvc::testing::MessagePump pump;
  auto b = pump.Create<TestWindow>(Answer(
      WM_USER, [a_hwnd](WPARAM w) { return SendMessageA(a_hwnd, WM_USER + 1, w + 1, 0) * 10; }));
  EXPECT_EQ(SendMessageA(b->hwnd, WM_USER, 1, 0), 1020);
  EXPECT_EQ(a.CountOf(WM_USER + 1), 1);
  EXPECT_EQ(a.ThreadOf(WM_USER + 1), GetCurrentThreadId());
  EXPECT_EQ(b->ThreadOf(WM_USER), pump.thread_id());
}

// What a window's owner thread does after a send to the window is queued:
// 0 destroys the window before, 1 ends before, 2 ends while the send waits,
// 3 destroys the window while the send waits.
TEST(SendTest, SendToADeadWindowReturnsZeroWithoutHanging) {
  for (int fate = 0; fate < 4; ++fate) {
    SCOPED_TRACE(fate);
    const bool pending = fate >= 2;
    const bool thread_ends = fate == 1 || fate == 2;
    HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::unique_ptr<TestWindow> window;
    std::thread owner([&] {
      window = std::make_unique<TestWindow>(Answer(WM_USER, [](WPARAM) { return LRESULT{7}; }));
      if (fate == 0) DestroyWindow(window->hwnd);
      SetEvent(created);
      if (!pending) return;
      ASSERT_TRUE(WaitForIncomingSend());
      if (fate == 3) {
        DestroyWindow(window->hwnd);
        Drain();  // must not deliver the send to a dead window
      }
    });
    ASSERT_EQ(WaitForSingleObject(created, kLong), DWORD{WAIT_OBJECT_0});
    if (!pending) owner.join();
    const HWND hwnd = window->hwnd;
    SetLastError(0);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 0);
    // A send that dies waiting fails with an undocumented error (Wine's: ERROR_ACCESS_DENIED).
    EXPECT_TRUE(pending || GetLastError() == ERROR_INVALID_WINDOW_HANDLE) << GetLastError();
    if (pending) owner.join();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(window->CountOf(WM_USER), 0);
    // Destroyed with its thread, which could no longer run its procedure.
    EXPECT_EQ(window->CountOf(WM_DESTROY), thread_ends ? 0 : 1);
    CloseHandle(created);
  }
}

TEST(SendTest, TimedOutSendIsWithdrawn) {
  HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::unique_ptr<TestWindow> window;
  std::thread owner([&] {
    window = std::make_unique<TestWindow>();
    SetEvent(created);
    WaitForSingleObject(go, kLong);  // not looking at the queue meanwhile
    Drain();
  });
  ASSERT_EQ(WaitForSingleObject(created, kLong), DWORD{WAIT_OBJECT_0});
  DWORD_PTR result = 99;
  EXPECT_FAILS_WITH(SendMessageTimeoutA(window->hwnd, WM_USER, 0, 0, SMTO_NORMAL, 30, &result),
                    ERROR_TIMEOUT);
  EXPECT_EQ(result, 0u);
  SetEvent(go);
  owner.join();
  EXPECT_EQ(window->CountOf(WM_USER), 0) << "a withdrawn message was still delivered";
  CloseHandle(go);
  CloseHandle(created);
}

}  // namespace
