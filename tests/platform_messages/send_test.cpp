// SendMessageA within and across threads, and sends to windows that die.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include <opossvc/testing/message_pump.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/messages.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>

#include "tests/platform_messages/window_helpers.h"

namespace {

using opossvc::test::TestWindow;

constexpr DWORD kLong = 10000;

// Blocks the calling thread until a message is being sent to it, without
// handling it.
bool WaitForIncomingSend() {
  return MsgWaitForMultipleObjects(0, nullptr, FALSE, kLong, QS_SENDMESSAGE) == WAIT_OBJECT_0;
}

TEST(SendTest, SameThreadCallsTheProcedureDirectly) {
  TestWindow window([](HWND h, UINT message, WPARAM w, LPARAM l) -> LRESULT {
    if (message != WM_USER) return DefWindowProcA(h, message, w, l);
    return static_cast<LRESULT>(w + 1 + (InSendMessage() ? 1000 : 0));
  });
  EXPECT_EQ(SendMessageA(window.hwnd, WM_USER, 41, 0), 42);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "nothing was queued";
}

TEST(SendTest, CrossThreadSendIsHandledInsideTheOwnersPeek) {
  std::atomic<bool> returned{false};
  std::atomic<bool> returned_before_handler{true};
  std::atomic<bool> in_send{false};
  TestWindow window([&](HWND h, UINT message, WPARAM w, LPARAM l) -> LRESULT {
    if (message != WM_USER) return DefWindowProcA(h, message, w, l);
    returned_before_handler = returned.load();
    in_send = InSendMessage() != FALSE;
    return static_cast<LRESULT>(w * 2);
  });
  const HWND hwnd = window.hwnd;
  LRESULT result = 0;
  std::thread sender([&] {
    result = SendMessageA(hwnd, WM_USER, 21, 0);
    returned = true;
  });
  ASSERT_TRUE(WaitForIncomingSend());
  EXPECT_EQ(window.CountOf(WM_USER), 0) << "handled before the owner looked at its queue";
  // A peek whose filter takes nothing still delivers the sent message.
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_APP + 100, WM_APP + 100, PM_NOREMOVE));
  sender.join();
  EXPECT_EQ(result, 42);
  EXPECT_FALSE(returned_before_handler.load()) << "the sender did not wait for the reply";
  EXPECT_TRUE(in_send.load());
  ASSERT_EQ(window.CountOf(WM_USER), 1);
  EXPECT_EQ(window.Calls().back().thread, GetCurrentThreadId());
}

// A on this thread sends to B on the pump; B, while handling it, sends back
// to A, which handles that inside its own waiting SendMessageA.
TEST(SendTest, ReentrantSendsBetweenTwoThreads) {
  TestWindow a([](HWND h, UINT message, WPARAM w, LPARAM l) -> LRESULT {
    if (message != WM_USER + 1) return DefWindowProcA(h, message, w, l);
    return static_cast<LRESULT>(w + 100);
  });
  const HWND a_hwnd = a.hwnd;
  opossvc::testing::MessagePump pump;
  auto b = pump.Create<TestWindow>([a_hwnd](HWND h, UINT message, WPARAM w, LPARAM l) -> LRESULT {
    if (message != WM_USER) return DefWindowProcA(h, message, w, l);
    return SendMessageA(a_hwnd, WM_USER + 1, w + 1, 0) * 10;
  });
  EXPECT_EQ(SendMessageA(b->hwnd, WM_USER, 1, 0), 1020);
  ASSERT_EQ(a.CountOf(WM_USER + 1), 1);
  EXPECT_EQ(a.Calls().back().thread, GetCurrentThreadId());
  EXPECT_EQ(b->Calls().back().thread, pump.thread_id());
}

// What a window's owner thread does after a send to the window is queued.
enum class OwnerFate {
  kDestroyedBefore,
  kThreadEndedBefore,
  kThreadEndsWhilePending,
  kWindowDestroyedWhilePending
};

TEST(SendTest, SendToADeadWindowReturnsZeroWithoutHanging) {
  for (OwnerFate fate :
       {OwnerFate::kDestroyedBefore, OwnerFate::kThreadEndedBefore,
        OwnerFate::kThreadEndsWhilePending, OwnerFate::kWindowDestroyedWhilePending}) {
    SCOPED_TRACE(static_cast<int>(fate));
    const bool pending = fate == OwnerFate::kThreadEndsWhilePending ||
                         fate == OwnerFate::kWindowDestroyedWhilePending;
    HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::unique_ptr<TestWindow> window;
    std::thread owner([&] {
      window = std::make_unique<TestWindow>([](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        return m == WM_USER ? 7 : DefWindowProcA(h, m, w, l);
      });
      if (fate == OwnerFate::kDestroyedBefore) DestroyWindow(window->hwnd);
      SetEvent(created);
      if (!pending) return;
      ASSERT_TRUE(WaitForIncomingSend());
      if (fate == OwnerFate::kWindowDestroyedWhilePending) {
        DestroyWindow(window->hwnd);
        opossvc::test::Drain();  // must not deliver the send to a dead window
      }
      // kThreadEndsWhilePending: end without looking at the queue again.
    });
    ASSERT_EQ(WaitForSingleObject(created, kLong), static_cast<DWORD>(WAIT_OBJECT_0));
    if (!pending) owner.join();
    SetLastError(0);
    EXPECT_EQ(SendMessageA(window->hwnd, WM_USER, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    if (pending) owner.join();
    EXPECT_FALSE(IsWindow(window->hwnd));
    EXPECT_EQ(window->CountOf(WM_USER), 0);
    if (fate == OwnerFate::kThreadEndedBefore || fate == OwnerFate::kThreadEndsWhilePending) {
      // Destroyed with its thread, which could no longer run its procedure.
      EXPECT_EQ(window->CountOf(WM_DESTROY), 0);
    }
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
    opossvc::test::Drain();
  });
  ASSERT_EQ(WaitForSingleObject(created, kLong), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD_PTR result = 99;
  EXPECT_EQ(SendMessageTimeoutA(window->hwnd, WM_USER, 0, 0, SMTO_NORMAL, 30, &result), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_EQ(result, 0u);
  SetEvent(go);
  owner.join();
  EXPECT_EQ(window->CountOf(WM_USER), 0) << "a withdrawn message was still delivered";
  CloseHandle(go);
  CloseHandle(created);
}

}  // namespace
