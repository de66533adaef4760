// Window classes, creation and destruction, window data.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
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
  // A child learns its size and place at once; an overlapped window when shown.
  EXPECT_EQ(child.Messages(), (Messages{WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE, WM_MOVE}));

  const HWND parent_hwnd = parent->hwnd;
  // Destroying the parent destroys the child between the parent's two messages.
  ASSERT_TRUE(DestroyWindow(parent_hwnd));
  EXPECT_FALSE(IsWindow(parent_hwnd));
  EXPECT_FALSE(IsWindow(child.hwnd));
  Messages parent_messages = parent->Messages();
  ASSERT_GE(parent_messages.size(), 4u);
  EXPECT_EQ(parent_messages[parent_messages.size() - 2], UINT{WM_DESTROY});
  EXPECT_EQ(parent_messages.back(), UINT{WM_NCDESTROY});
  EXPECT_EQ(child.Messages(), (Messages{WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE, WM_MOVE,
                                        WM_DESTROY, WM_NCDESTROY}));
}

TEST(WindowTest, CreationRefusedByTheProcedure) {
  const struct {
    UINT refused;
    LRESULT answer;
    Messages expected;
  } cases[] = {
      {WM_NCCREATE, FALSE, {WM_NCCREATE, WM_NCDESTROY}},
      {WM_CREATE, -1, {WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_NCDESTROY}},
  };
  for (const auto& c : cases) {
    TestWindow window([&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      return m == c.refused ? c.answer : DefWindowProcA(h, m, w, l);
    });
    EXPECT_EQ(window.hwnd, nullptr) << c.refused;
    // Whether WM_DESTROY comes before WM_NCDESTROY is not documented (Wine's
    // does not send it).
    Messages messages = window.Messages();
    std::erase(messages, UINT{WM_DESTROY});
    EXPECT_EQ(messages, c.expected) << c.refused;
  }
}

TEST(WindowClassTest, RegistrationLookupAndRemoval) {
  constexpr int kExtra = 2 * sizeof(LONG_PTR);
  WNDCLASSA wc{};
  wc.lpfnWndProc = &DefWindowProcA;
  wc.cbWndExtra = kExtra;
  wc.hInstance = reinterpret_cast<HINSTANCE>(0x12340000);  // any value serves
  wc.lpszClassName = "opossvc.test.Plain";
  const ATOM atom = RegisterClassA(&wc);
  ASSERT_NE(atom, 0);
  wc.lpszClassName = "OPOSSVC.TEST.PLAIN";
  EXPECT_FAILS_WITH(RegisterClassA(&wc), ERROR_CLASS_ALREADY_EXISTS);
  WNDCLASSA info{};
  // A null instance means the system's classes.
  EXPECT_FAILS_WITH(GetClassInfoA(nullptr, "opossvc.test.Plain", &info),
                    ERROR_CLASS_DOES_NOT_EXIST);
  ASSERT_TRUE(GetClassInfoA(wc.hInstance, "Opossvc.Test.Plain", &info));
  EXPECT_EQ(info.lpfnWndProc, &DefWindowProcA);
  EXPECT_EQ(info.cbWndExtra, kExtra);

  HWND hwnd = CreateWindowExA(WS_EX_TRANSPARENT, MAKEINTATOM(atom), "", WS_POPUP, 5, 6, 7, 8,
                              nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(GetWindowLongA(hwnd, GWL_EXSTYLE), WS_EX_TRANSPARENT);

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

  EXPECT_FAILS_WITH(UnregisterClassA("opossvc.test.plain", wc.hInstance), ERROR_CLASS_HAS_WINDOWS);
  DestroyWindow(hwnd);
  EXPECT_TRUE(UnregisterClassA("opossvc.test.plain", wc.hInstance));
  EXPECT_FALSE(GetClassInfoA(wc.hInstance, "opossvc.test.plain", &info));
}

}  // namespace
