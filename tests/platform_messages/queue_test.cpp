// Posting, peeking with filters, quit, and waiting for messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/messages.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>

#include <opossvc/testing/message_pump.h>

#include "tests/platform_messages/window_helpers.h"

namespace {

using opossvc::test::Drain;
using opossvc::test::TestWindow;

TEST(PeekTest, RangesPickTheFirstMatchingMessage) {
  TestWindow window;
  struct Case {
    const char* what;
    UINT first;
    UINT last;
    UINT expected;  // WM_NULL: nothing matches
  } cases[] = {
      {"everything", 0, 0, WM_USER},
      {"one number", WM_USER + 1, WM_USER + 1, WM_USER + 1},
      {"keyboard", WM_KEYFIRST, WM_KEYLAST, WM_KEYDOWN},
      {"mouse", WM_MOUSEFIRST, WM_MOUSELAST, WM_MOUSEMOVE},
      {"inverted takes the outside", WM_APP, WM_USER - 1, WM_KEYDOWN},
      {"empty range", WM_USER + 2, WM_USER + 100, WM_NULL},
  };
  for (const Case& c : cases) {
    Drain();
    for (UINT m : {WM_USER, WM_USER + 1, WM_KEYDOWN, WM_MOUSEMOVE, WM_APP}) {
      ASSERT_TRUE(PostMessageA(window.hwnd, m, 0, 0));
    }
    MSG msg{};
    BOOL found = PeekMessageA(&msg, nullptr, c.first, c.last, PM_REMOVE);
    if (c.expected == WM_NULL) {
      EXPECT_FALSE(found) << c.what;
    } else {
      ASSERT_TRUE(found) << c.what;
      EXPECT_EQ(msg.message, c.expected) << c.what;
      EXPECT_EQ(msg.hwnd, window.hwnd) << c.what;
    }
  }
  Drain();
}

TEST(PeekTest, NoRemoveLeavesTheMessageAndOrderIsKept) {
  TestWindow window;
  PostMessageA(window.hwnd, WM_USER, 1, 10);
  PostMessageA(window.hwnd, WM_USER, 2, 20);
  MSG msg{};
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(msg.lParam, 10);
  }
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(PeekTest, WindowFilters) {
  TestWindow a;
  TestWindow b;
  PostMessageA(a.hwnd, WM_USER, 1, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER, 2, 0);
  PostMessageA(b.hwnd, WM_USER, 3, 0);
  const HWND thread_only = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, b.hwnd, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
  ASSERT_TRUE(PeekMessageA(&msg, thread_only, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_FALSE(PeekMessageA(&msg, thread_only, 0, 0, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  // A filter naming no window is an error, not "no message".
  HWND gone = TestWindow().hwnd;
  SetLastError(0);
  EXPECT_FALSE(PeekMessageA(&msg, gone, 0, 0, PM_REMOVE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(GetMessageA(&msg, gone, 0, 0), -1);
}

TEST(QuitTest, QuitComesAfterPostedMessages) {
  TestWindow window;
  PostMessageA(window.hwnd, WM_USER, 0, 0);
  PostQuitMessage(42);
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.wParam, 42u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(PostTest, ThreadsWithoutAQueueAndTheQuota) {
  // A thread that never made a queue, and one whose queue ended with it.
  DWORD never_queued = 0;
  DWORD ended = 0;
  std::thread([&] { never_queued = GetCurrentThreadId(); }).join();
  std::thread([&] {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    ended = GetCurrentThreadId();
  }).join();
  for (DWORD id : {never_queued, ended}) {
    SetLastError(0);
    EXPECT_FALSE(PostThreadMessageA(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  }

  TestWindow window;
  DWORD posted = 0;
  while (PostMessageA(window.hwnd, WM_USER, 0, 0) && posted < 20000) ++posted;
  EXPECT_EQ(posted, 10000u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
  Drain();
  EXPECT_TRUE(PostMessageA(window.hwnd, WM_USER, 0, 0));
  Drain();
}

TEST(PostTest, MessageForAWindowOfAnotherThreadGoesToThatThread) {
  opossvc::testing::MessagePump pump;
  auto window = pump.Create<TestWindow>();
  ASSERT_TRUE(PostMessageA(window->hwnd, WM_USER + 7, 5, 0));
  ASSERT_TRUE(window->WaitForCall(WM_USER + 7));
  EXPECT_EQ(window->Calls().back().thread, pump.thread_id());
  EXPECT_EQ(window->Calls().back().wparam, 5u);
}

TEST(TranslateTest, KeyDownBecomesACharacter) {
  TestWindow window;
  MSG key{};
  key.hwnd = window.hwnd;
  key.message = WM_KEYDOWN;
  key.wParam = 'Q';
  EXPECT_TRUE(TranslateMessage(&key));
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_CHAR));
  EXPECT_EQ(msg.wParam, static_cast<WPARAM>('q'));
  key.message = WM_USER;
  EXPECT_FALSE(TranslateMessage(&key));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(MsgWaitTest, WakesForNewMessagesSendsAndObjects) {
  TestWindow window;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const HWND hwnd = window.hwnd;

  // A message posted from another thread wakes the wait.
  std::thread poster([hwnd] { PostMessageA(hwnd, WM_USER, 0, 0); });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 10000, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_OBJECT_0 + 1));
  poster.join();

  // Once the thread has looked at the queue, the message is no longer new.
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &event, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE),
            static_cast<DWORD>(WAIT_OBJECT_0 + 1));
  // A mask without posted messages ignores it.
  EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &event, 0, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE),
            static_cast<DWORD>(WAIT_TIMEOUT));
  Drain();

  SetEvent(event);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(event);
}

TEST(SystemMetricsTest, ScreenSizeDefaultsAndSetting) {
  struct Case {
    const char* setting;  // null: unset
    int width;
    int height;
  } cases[] = {
      {nullptr, 1024, 768}, {"800x600", 800, 600}, {"1920X1080", 1920, 1080},
      {"wide", 1024, 768},  {"0x600", 1024, 768},  {"800x600px", 1024, 768},
  };
  for (const Case& c : cases) {
    if (c.setting != nullptr) {
      setenv("OPOS_SCREEN_SIZE", c.setting, 1);
    } else {
      unsetenv("OPOS_SCREEN_SIZE");
    }
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), c.width) << (c.setting ? c.setting : "unset");
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), c.height) << (c.setting ? c.setting : "unset");
  }
  unsetenv("OPOS_SCREEN_SIZE");
  EXPECT_EQ(GetSystemMetrics(9999), 0);
}

}  // namespace
