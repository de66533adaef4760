// Window classes, creation and destruction, window data and creation hooks.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/messages.h>
#include <opossvc/win32/threads.h>

#include "tests/platform_messages/window_helpers.h"

namespace {

using opossvc::test::TestWindow;

std::vector<UINT> Messages(const TestWindow& window) {
  std::vector<UINT> messages;
  for (const auto& call : window.Calls()) messages.push_back(call.message);
  return messages;
}

TEST(WindowTest, CreationAndDestructionMessagesInOrder) {
  auto parent = std::make_unique<TestWindow>();
  TestWindow child(nullptr, parent->hwnd, WS_CHILD);
  ASSERT_NE(child.hwnd, nullptr);
  EXPECT_EQ(GetParent(child.hwnd), parent->hwnd);
  EXPECT_EQ(Messages(child), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));

  // Destroying the parent destroys the child between the parent's two messages.
  const HWND parent_hwnd = parent->hwnd;
  EXPECT_FALSE(IsWindow(nullptr));
  std::thread([&] {
    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(parent_hwnd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }).join();
  EXPECT_TRUE(IsWindow(parent_hwnd));
  ASSERT_TRUE(DestroyWindow(parent_hwnd));
  EXPECT_FALSE(IsWindow(parent_hwnd));
  EXPECT_FALSE(IsWindow(child.hwnd));
  std::vector<UINT> parent_messages = Messages(*parent);
  ASSERT_GE(parent_messages.size(), 4u);
  EXPECT_EQ(parent_messages[parent_messages.size() - 2], static_cast<UINT>(WM_DESTROY));
  EXPECT_EQ(parent_messages.back(), static_cast<UINT>(WM_NCDESTROY));
  EXPECT_EQ(Messages(child), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(DestroyWindow(parent_hwnd));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(WindowTest, CreationRefusedByTheProcedure) {
  struct Case {
    UINT refused;
    LRESULT answer;
    std::vector<UINT> expected;
  } cases[] = {
      {WM_NCCREATE, FALSE, {WM_NCCREATE, WM_NCDESTROY}},
      {WM_CREATE, -1, {WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}},
  };
  for (const Case& c : cases) {
    TestWindow window([&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      return m == c.refused ? c.answer : DefWindowProcA(h, m, w, l);
    });
    EXPECT_EQ(window.hwnd, nullptr) << c.refused;
    EXPECT_EQ(Messages(window), c.expected) << c.refused;
  }
}

TEST(WindowTest, CreationArgumentErrors) {
  TestWindow valid;
  HWND gone = TestWindow().hwnd;
  struct Case {
    const char* what;
    LPCSTR cls;
    DWORD style;
    HWND parent;
    DWORD error;
  } cases[] = {
      {"unknown class", "opossvc.test.NoSuchClass", 0, nullptr, ERROR_CANNOT_FIND_WND_CLASS},
      {"null class", nullptr, 0, nullptr, ERROR_CANNOT_FIND_WND_CLASS},
      {"child without parent", "opossvc.test.Recorder", WS_CHILD, nullptr, ERROR_TLW_WITH_WSCHILD},
      {"dead parent", "opossvc.test.Recorder", WS_CHILD, gone, ERROR_INVALID_WINDOW_HANDLE},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(
        CreateWindowExA(0, c.cls, "", c.style, 0, 0, 1, 1, c.parent, nullptr, nullptr, nullptr),
        nullptr)
        << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
}

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_CREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(l);
    SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  return m == WM_USER ? 1 : DefWindowProcA(h, m, w, l);
}

LRESULT CALLBACK Subclass(HWND h, UINT m, WPARAM w, LPARAM l) {
  return m == WM_USER ? 2 : CallWindowProcA(&PlainProc, h, m, w, l);
}

TEST(WindowClassTest, RegistrationLookupAndRemoval) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &PlainProc;
  wc.cbWndExtra = 2 * sizeof(LONG_PTR);
  wc.lpszClassName = "opossvc.test.Plain";
  const ATOM atom = RegisterClassA(&wc);
  ASSERT_NE(atom, 0);
  wc.lpszClassName = "OPOSSVC.TEST.PLAIN";
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  WNDCLASSA info{};
  ASSERT_TRUE(GetClassInfoA(nullptr, "Opossvc.Test.Plain", &info));
  EXPECT_EQ(info.lpfnWndProc, &PlainProc);
  EXPECT_EQ(info.cbWndExtra, static_cast<int>(2 * sizeof(LONG_PTR)));

  int param = 0;
  HWND hwnd = CreateWindowExA(WS_EX_TRANSPARENT, MAKEINTATOM(atom), "", 0, 5, 6, 7, 8, nullptr,
                              nullptr, nullptr, &param);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(GetWindowLongPtrA(hwnd, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&param));
  EXPECT_EQ(GetWindowLongA(hwnd, GWL_EXSTYLE), WS_EX_TRANSPARENT);
  RECT rect{};
  ASSERT_TRUE(GetWindowRect(hwnd, &rect));
  EXPECT_EQ(rect.left, 5);
  EXPECT_EQ(rect.bottom, 14);
  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(hwnd, &pid), GetCurrentThreadId());
  EXPECT_EQ(pid, GetCurrentProcessId());

  // Extra bytes: in bounds they hold values, beyond they are refused.
  EXPECT_EQ(SetWindowLongPtrA(hwnd, sizeof(LONG_PTR), 1234), 0);
  EXPECT_EQ(GetWindowLongPtrA(hwnd, sizeof(LONG_PTR)), 1234);
  for (int index :
       {static_cast<int>(sizeof(LONG_PTR)) + 1, 2 * static_cast<int>(sizeof(LONG_PTR)), -100}) {
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtrA(hwnd, index), 0) << index;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX)) << index;
  }

  // Replacing the procedure takes effect at once and returns the old one.
  EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 1);
  EXPECT_EQ(SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Subclass)),
            reinterpret_cast<LONG_PTR>(&PlainProc));
  EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 2);

  EXPECT_FALSE(ShowWindow(hwnd, SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(hwnd));

  EXPECT_FALSE(UnregisterClassA("opossvc.test.plain", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
  DestroyWindow(hwnd);
  EXPECT_TRUE(UnregisterClassA("opossvc.test.plain", nullptr));
  EXPECT_FALSE(GetClassInfoA(nullptr, "opossvc.test.plain", &info));
}

thread_local std::vector<int>* t_hook_log = nullptr;
thread_local HHOOK t_hook = nullptr;
thread_local bool t_veto = false;

LRESULT CALLBACK CbtHook(int code, WPARAM w, LPARAM l) {
  if (code == HCBT_CREATEWND) {
    t_hook_log->push_back(IsWindow(reinterpret_cast<HWND>(w)) ? 1 : 0);
    if (t_veto) return 1;
  }
  return CallNextHookEx(t_hook, code, w, l);
}

TEST(HookTest, CreationHookRunsBeforeTheFirstMessageAndMayVeto) {
  std::vector<int> log;
  t_hook_log = &log;
  t_hook = SetWindowsHookExA(WH_CBT, &CbtHook, nullptr, GetCurrentThreadId());
  ASSERT_NE(t_hook, nullptr);
  {
    TestWindow window;
    ASSERT_NE(window.hwnd, nullptr);
    EXPECT_EQ(log, std::vector<int>{1});
    EXPECT_EQ(Messages(window).front(), static_cast<UINT>(WM_NCCREATE));
  }
  t_veto = true;
  {
    TestWindow vetoed;
    EXPECT_EQ(vetoed.hwnd, nullptr);
    EXPECT_TRUE(vetoed.Calls().empty());
  }
  t_veto = false;
  EXPECT_TRUE(UnhookWindowsHookEx(t_hook));
  EXPECT_FALSE(UnhookWindowsHookEx(t_hook));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HOOK_HANDLE));

  struct Case {
    int id;
    DWORD thread;
    DWORD error;
  } cases[] = {
      {WH_CBT + 1, GetCurrentThreadId(), ERROR_INVALID_HOOK_FILTER},
      {WH_CBT, 0, ERROR_HOOK_NEEDS_HMOD},
      {WH_CBT, GetCurrentThreadId() + 1, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SetWindowsHookExA(c.id, &CbtHook, nullptr, c.thread), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(WindowTest, WindowsOfAnEndedThreadAreGone) {
  HWND hwnd = nullptr;
  std::unique_ptr<TestWindow> window;
  std::thread([&] {
    window = std::make_unique<TestWindow>();
    hwnd = window->hwnd;
  }).join();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), 0u);
  EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  MSG msg{hwnd, WM_USER, 0, 0, 0, {0, 0}};
  EXPECT_EQ(DispatchMessageA(&msg), 0);
  EXPECT_EQ(window->CountOf(WM_DESTROY), 0);
}

}  // namespace
