// CWnd binding and message maps, CWinThread.
#include <gtest/gtest.h>

#include <vector>

#include <opossvc/afx/exceptions.h>
#include <opossvc/afx/object.h>
#include <opossvc/afx/winthread.h>
#include <opossvc/afx/wnd.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>

namespace {

constexpr UINT kBaseOnly = WM_APP;
constexpr UINT kOverridden = WM_APP + 1;
constexpr UINT kDerivedOnly = WM_APP + 2;
constexpr UINT kUnmapped = WM_APP + 3;
constexpr UINT kThrows = WM_APP + 4;

// A window class with a two-level message map; answers name which handler ran.
class CBaseWnd : public CWnd {
  DECLARE_DYNCREATE(CBaseWnd)

 public:
  std::vector<UINT> seen;  // messages reaching WindowProc, in order
  HWND hwnd_at_create = nullptr;
  int post_nc_destroy = 0;
  bool delete_on_destroy = false;
  bool throw_on_create = false;

  // A pop-up: Windows sends an overlapped window WM_GETMINMAXINFO before WM_NCCREATE.
  BOOL Create() {
    return CreateEx(WS_EX_TRANSPARENT, AfxRegisterWndClass(0), nullptr, WS_POPUP, 0, 0, 0, 0,
                    nullptr, nullptr, nullptr);
  }

  // `virtual`, not `override`: the framework macros declare that way.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    seen.push_back(message);
    return CWnd::WindowProc(message, wParam, lParam);
  }

 protected:
  LRESULT OnBaseOnly(WPARAM w, LPARAM) { return 100 + static_cast<LRESULT>(w); }
  LRESULT OnOverriddenInBase(WPARAM, LPARAM) { return 200; }
  LRESULT OnCreate(WPARAM, LPARAM) {
    hwnd_at_create = m_hWnd;
    if (throw_on_create) AfxThrowOleException(E_FAIL);
    return 0;
  }
  // As a control-object call that fails inside a handler.
  LRESULT OnThrows(WPARAM, LPARAM) { AfxThrowOleDispatchException(7, "no paper"); }
  virtual void PostNcDestroy() {
    ++post_nc_destroy;
    if (delete_on_destroy) delete this;
  }
  DECLARE_MESSAGE_MAP()
};

IMPLEMENT_DYNCREATE(CBaseWnd, CWnd)

// clang-format off
BEGIN_MESSAGE_MAP(CBaseWnd, CWnd)
  ON_MESSAGE(WM_CREATE, &CBaseWnd::OnCreate)
  ON_MESSAGE(kBaseOnly, &CBaseWnd::OnBaseOnly)
  ON_MESSAGE(kOverridden, &CBaseWnd::OnOverriddenInBase)
  ON_MESSAGE(kThrows, &CBaseWnd::OnThrows)
END_MESSAGE_MAP()
// clang-format on

class CDerivedWnd : public CBaseWnd {
  DECLARE_DYNAMIC(CDerivedWnd)

 protected:
  LRESULT OnOverridden(WPARAM, LPARAM) { return 300; }
  LRESULT OnDerivedOnly(WPARAM, LPARAM l) { return 400 + l; }
  DECLARE_MESSAGE_MAP()
};

IMPLEMENT_DYNAMIC(CDerivedWnd, CBaseWnd)

// clang-format off
BEGIN_MESSAGE_MAP(CDerivedWnd, CBaseWnd)
  ON_MESSAGE(kOverridden, &CDerivedWnd::OnOverridden)
  ON_MESSAGE(kDerivedOnly, &CDerivedWnd::OnDerivedOnly)
END_MESSAGE_MAP()
// clang-format on

TEST(MessageMapTest, MostDerivedEntryWinsAndTheChainReachesTheBase) {
  CDerivedWnd wnd;
  ASSERT_TRUE(wnd.Create());
  struct Case {
    UINT message;
    WPARAM w;
    LPARAM l;
    LRESULT expected;
  } cases[] = {
      {kBaseOnly, 5, 0, 105},
      {kOverridden, 0, 0, 300},
      {kDerivedOnly, 0, 6, 406},
      {kUnmapped, 0, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wnd.SendMessage(c.message, c.w, c.l), c.expected) << c.message;
  }
  CBaseWnd base;
  ASSERT_TRUE(base.Create());
  EXPECT_EQ(base.SendMessage(kOverridden), 200);
  EXPECT_EQ(base.SendMessage(kDerivedOnly), 0);
}

TEST(WndTest, BoundBeforeTheFirstMessageAndUnboundAfterTheLast) {
  CBaseWnd wnd;
  ASSERT_TRUE(wnd.Create());
  const HWND hwnd = wnd.GetSafeHwnd();
  ASSERT_NE(hwnd, nullptr);
  ASSERT_FALSE(wnd.seen.empty());
  EXPECT_EQ(wnd.seen.front(), static_cast<UINT>(WM_NCCREATE));
  EXPECT_EQ(wnd.hwnd_at_create, hwnd);
  EXPECT_EQ(CWnd::FromHandle(hwnd), &wnd);

  ASSERT_TRUE(wnd.DestroyWindow());
  EXPECT_EQ(wnd.m_hWnd, nullptr);
  EXPECT_EQ(wnd.post_nc_destroy, 1);
  EXPECT_EQ(wnd.seen.back(), static_cast<UINT>(WM_NCDESTROY));
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(CWnd::FromHandle(hwnd), nullptr);
}

TEST(WndTest, SelfDeletingWindowAndDestructorCleanup) {
  auto* self_deleting = new CBaseWnd;
  self_deleting->delete_on_destroy = true;
  ASSERT_TRUE(self_deleting->Create());
  const HWND first = self_deleting->m_hWnd;
  EXPECT_TRUE(self_deleting->DestroyWindow());  // deletes the object (ASan checks the rest)
  EXPECT_FALSE(IsWindow(first));

  HWND second = nullptr;
  {
    CBaseWnd scoped;
    ASSERT_TRUE(scoped.Create());
    second = scoped.m_hWnd;
  }
  EXPECT_FALSE(IsWindow(second));
}

TEST(WndTest, FrameworkExceptionsEndInTheWindowProcedure) {
  CBaseWnd wnd;
  ASSERT_TRUE(wnd.Create());
  LRESULT result = -5;
  ASSERT_NO_THROW(result = wnd.SendMessage(kThrows));
  EXPECT_EQ(result, 0);
  // One from WM_CREATE fails the creation.
  CBaseWnd refused;
  refused.throw_on_create = true;
  EXPECT_FALSE(refused.Create());
  EXPECT_EQ(refused.m_hWnd, nullptr);
}

UINT ReturnFive(LPVOID) { return 5; }

TEST(WinThreadTest, AutoDeleteAndNoProcedure) {
  ASSERT_NE(AfxBeginThread(&ReturnFive, nullptr), nullptr);  // deletes itself (ASan checks)
  EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
}

}  // namespace
