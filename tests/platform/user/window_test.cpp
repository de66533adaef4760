// Window classes, creation and destruction, window data and creation hooks.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <thread>
#include <vector>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/messages.h>
#include <opossvc/win32/threads.h>

#include "tests/platform/user/window_helpers.h"

namespace {

using opossvc::test::TestWindow;
using Messages = std::vector<UINT>;

TEST(WindowTest, CreationAndDestructionMessagesInOrder) {
  auto parent = std::make_unique<TestWindow>();
  TestWindow child(nullptr, parent->hwnd, WS_CHILD);
  ASSERT_NE(child.hwnd, nullptr);
  EXPECT_EQ(GetParent(child.hwnd), parent->hwnd);
  EXPECT_EQ(child.Messages(), (Messages{WM_NCCREATE, WM_CREATE}));

  // Only the owner thread may destroy a window.
  const HWND parent_hwnd = parent->hwnd;
  std::thread([&] { EXPECT_FAILS_WITH(DestroyWindow(parent_hwnd), ERROR_ACCESS_DENIED); }).join();
  EXPECT_TRUE(IsWindow(parent_hwnd));
  // Destroying the parent destroys the child between the parent's two messages.
  ASSERT_TRUE(DestroyWindow(parent_hwnd));
  EXPECT_FALSE(IsWindow(parent_hwnd));
  EXPECT_FALSE(IsWindow(child.hwnd));
  Messages parent_messages = parent->Messages();
  ASSERT_GE(parent_messages.size(), 4u);
  EXPECT_EQ(parent_messages[parent_messages.size() - 2], UINT{WM_DESTROY});
  EXPECT_EQ(parent_messages.back(), UINT{WM_NCDESTROY});
  EXPECT_EQ(child.Messages(), (Messages{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FAILS_WITH(DestroyWindow(parent_hwnd), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(IsWindow(nullptr));
}

TEST(WindowTest, CreationRefusedByTheProcedure) {
  const struct {
    UINT refused;
    LRESULT answer;
    Messages expected;
  } cases[] = {
      {WM_NCCREATE, FALSE, {WM_NCCREATE, WM_NCDESTROY}},
      {WM_CREATE, -1, {WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}},
  };
  for (const auto& c : cases) {
    TestWindow window([&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      return m == c.refused ? c.answer : DefWindowProcA(h, m, w, l);
    });
    EXPECT_EQ(window.hwnd, nullptr) << c.refused;
    EXPECT_EQ(window.Messages(), c.expected) << c.refused;
  }
}

TEST(WindowTest, CreationArgumentErrors) {
  const HWND gone = TestWindow().hwnd;
  const char* recorder = "opossvc.test.Recorder";
  EXPECT_FAILS_WITH(CreateWindowExA(0, "opossvc.test.NoSuchClass", "", 0, 0, 0, 1, 1, nullptr,
                                    nullptr, nullptr, nullptr),
                    ERROR_CANNOT_FIND_WND_CLASS);
  EXPECT_FAILS_WITH(
      CreateWindowExA(0, recorder, "", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
      ERROR_TLW_WITH_WSCHILD);
  EXPECT_FAILS_WITH(
      CreateWindowExA(0, recorder, "", WS_CHILD, 0, 0, 1, 1, gone, nullptr, nullptr, nullptr),
      ERROR_INVALID_WINDOW_HANDLE);
}

TEST(WindowClassTest, RegistrationLookupAndRemoval) {
  constexpr int kExtra = 2 * sizeof(LONG_PTR);
  WNDCLASSA wc{};
  wc.lpfnWndProc = &DefWindowProcA;
  wc.cbWndExtra = kExtra;
  wc.lpszClassName = "opossvc.test.Plain";
  const ATOM atom = RegisterClassA(&wc);
  ASSERT_NE(atom, 0);
  wc.lpszClassName = "OPOSSVC.TEST.PLAIN";
  EXPECT_FAILS_WITH(RegisterClassA(&wc), ERROR_CLASS_ALREADY_EXISTS);
  WNDCLASSA info{};
  ASSERT_TRUE(GetClassInfoA(nullptr, "Opossvc.Test.Plain", &info));
  EXPECT_EQ(info.lpfnWndProc, &DefWindowProcA);
  EXPECT_EQ(info.cbWndExtra, kExtra);

  HWND hwnd = CreateWindowExA(WS_EX_TRANSPARENT, MAKEINTATOM(atom), "", 0, 5, 6, 7, 8, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(GetWindowLongA(hwnd, GWL_EXSTYLE), WS_EX_TRANSPARENT);
  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(hwnd, &pid), GetCurrentThreadId());
  EXPECT_EQ(pid, GetCurrentProcessId());

  // Extra bytes hold values; all four calls refuse a value not wholly inside them.
  EXPECT_EQ(SetWindowLongPtrA(hwnd, sizeof(LONG_PTR), 1234), 0);
  EXPECT_EQ(GetWindowLongPtrA(hwnd, sizeof(LONG_PTR)), 1234);
  for (int index : {kExtra - 3, kExtra, INT_MAX, -100}) {
    SCOPED_TRACE(index);
    EXPECT_FAILS_WITH(GetWindowLongPtrA(hwnd, index), ERROR_INVALID_INDEX);
    EXPECT_FAILS_WITH(SetWindowLongPtrA(hwnd, index, 1), ERROR_INVALID_INDEX);
    EXPECT_FAILS_WITH(GetWindowLongA(hwnd, index), ERROR_INVALID_INDEX);
    EXPECT_FAILS_WITH(SetWindowLongA(hwnd, index, 1), ERROR_INVALID_INDEX);
  }
  EXPECT_EQ(GetWindowLongPtrA(hwnd, sizeof(LONG_PTR)), 1234);
  // A window LONG takes four bytes, as on Windows: the last four hold one.
  EXPECT_EQ(SetWindowLongA(hwnd, kExtra - 4, -2), 0);
  EXPECT_EQ(GetWindowLongA(hwnd, kExtra - 4), -2);

  EXPECT_FAILS_WITH(UnregisterClassA("opossvc.test.plain", nullptr), ERROR_CLASS_HAS_WINDOWS);
  DestroyWindow(hwnd);
  EXPECT_TRUE(UnregisterClassA("opossvc.test.plain", nullptr));
  EXPECT_FALSE(GetClassInfoA(nullptr, "opossvc.test.plain", &info));
}

thread_local int t_created = 0;  // windows that existed when the hook heard of them
thread_local HHOOK t_hook = nullptr;
thread_local bool t_veto = false;

LRESULT CALLBACK CbtHook(int code, WPARAM w, LPARAM l) {
  if (code != HCBT_CREATEWND) return CallNextHookEx(t_hook, code, w, l);
  t_created += IsWindow(reinterpret_cast<HWND>(w)) ? 1 : 0;
  return t_veto ? 1 : CallNextHookEx(t_hook, code, w, l);
}

TEST(HookTest, CreationHookRunsBeforeTheFirstMessageAndMayVeto) {
  t_hook = SetWindowsHookExA(WH_CBT, &CbtHook, nullptr, GetCurrentThreadId());
  ASSERT_NE(t_hook, nullptr);
  {
    TestWindow window;
    EXPECT_EQ(t_created, 1);
    EXPECT_EQ(window.Messages().front(), UINT{WM_NCCREATE});
  }
  t_veto = true;
  {
    TestWindow vetoed;
    EXPECT_EQ(vetoed.hwnd, nullptr);
    EXPECT_TRUE(vetoed.Messages().empty());
  }
  EXPECT_TRUE(UnhookWindowsHookEx(t_hook));
  EXPECT_FAILS_WITH(UnhookWindowsHookEx(t_hook), ERROR_INVALID_HOOK_HANDLE);
  const DWORD me = GetCurrentThreadId();
  EXPECT_FAILS_WITH(SetWindowsHookExA(WH_CBT + 1, &CbtHook, nullptr, me),
                    ERROR_INVALID_HOOK_FILTER);
  EXPECT_FAILS_WITH(SetWindowsHookExA(WH_CBT, &CbtHook, nullptr, 0), ERROR_HOOK_NEEDS_HMOD);
  EXPECT_FAILS_WITH(SetWindowsHookExA(WH_CBT, &CbtHook, nullptr, me + 1), ERROR_INVALID_PARAMETER);
}

}  // namespace
