// CObject run-time classes, CWnd binding and message maps, CWinThread and
// the test kit's MessagePump.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include <opossvc/afx/exceptions.h>
#include <opossvc/afx/object.h>
#include <opossvc/afx/winthread.h>
#include <opossvc/afx/wnd.h>
#include <opossvc/testing/message_pump.h>
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

  BOOL Create() {
    return CreateEx(WS_EX_TRANSPARENT, AfxRegisterWndClass(0), nullptr, 0, 0, 0, 0, 0, nullptr,
                    nullptr, nullptr);
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

TEST(RuntimeClassTest, RecordsChainsAndFactories) {
  EXPECT_STREQ(RUNTIME_CLASS(CWnd)->m_lpszClassName, "CWnd");
  EXPECT_TRUE(RUNTIME_CLASS(CDerivedWnd)->IsDerivedFrom(RUNTIME_CLASS(CObject)));
  EXPECT_TRUE(RUNTIME_CLASS(CDerivedWnd)->IsDerivedFrom(RUNTIME_CLASS(CDerivedWnd)));
  EXPECT_FALSE(RUNTIME_CLASS(CBaseWnd)->IsDerivedFrom(RUNTIME_CLASS(CDerivedWnd)));
  EXPECT_FALSE(RUNTIME_CLASS(CWnd)->IsDerivedFrom(nullptr));
  // Dynamically creatable classes are found by name; others have no factory.
  EXPECT_EQ(CRuntimeClass::FromName(OLESTR("CBaseWnd")), RUNTIME_CLASS(CBaseWnd));
  EXPECT_EQ(CRuntimeClass::FromName("cbasewnd"), nullptr);
  EXPECT_EQ(CRuntimeClass::FromName(OLESTR("CBaseWnd\u00e9")), nullptr);
  EXPECT_EQ(CRuntimeClass::FromName(static_cast<LPCSTR>(nullptr)), nullptr);
  EXPECT_EQ(RUNTIME_CLASS(CDerivedWnd)->CreateObject(), nullptr);
  CObject* made = CRuntimeClass::CreateObject("CBaseWnd");
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CWnd)));
  EXPECT_FALSE(made->IsKindOf(RUNTIME_CLASS(CDerivedWnd)));
  delete made;
}

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
  EXPECT_FALSE(wnd.CreateEx(0, AfxRegisterWndClass(0), nullptr, 0, 0, 0, 0, 0, nullptr, nullptr));

  ASSERT_TRUE(wnd.DestroyWindow());
  EXPECT_EQ(wnd.m_hWnd, nullptr);
  EXPECT_EQ(wnd.post_nc_destroy, 1);
  EXPECT_EQ(wnd.seen.back(), static_cast<UINT>(WM_NCDESTROY));
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(CWnd::FromHandle(hwnd), nullptr);
  EXPECT_FALSE(wnd.DestroyWindow());
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

TEST(WndTest, AfxRegisterWndClassIsStableAndRegistered) {
  LPCTSTR plain = AfxRegisterWndClass(0);
  EXPECT_EQ(plain, AfxRegisterWndClass(0));
  WNDCLASSA info{};
  ASSERT_TRUE(GetClassInfoA(nullptr, AfxRegisterWndClass(CS_DBLCLKS), &info));
  EXPECT_EQ(info.style, static_cast<UINT>(CS_DBLCLKS));
}

LRESULT CALLBACK OriginalProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  return m == kUnmapped ? 77 : DefWindowProcA(h, m, w, l);
}

TEST(WndTest, ClassByNameKeepsItsProcedureForUnmappedMessagesAndMustExist) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &OriginalProc;
  wc.lpszClassName = "opossvc.test.Original";
  ASSERT_NE(RegisterClassA(&wc), 0);
  CDerivedWnd wnd;
  ASSERT_TRUE(wnd.CreateEx(0, "opossvc.test.Original", "", 0, 0, 0, 0, 0, nullptr, nullptr));
  EXPECT_EQ(wnd.SendMessage(kUnmapped), 77);  // through m_pfnSuper
  EXPECT_EQ(wnd.SendMessage(kDerivedOnly, 0, 1), 401);
  ASSERT_TRUE(wnd.DestroyWindow());
  EXPECT_TRUE(UnregisterClassA("opossvc.test.Original", nullptr));
  EXPECT_FALSE(wnd.CreateEx(0, "opossvc.test.Original", "", 0, 0, 0, 0, 0, nullptr, nullptr));
  EXPECT_EQ(wnd.m_hWnd, nullptr);
}

TEST(WndTest, CrossThreadSendsAndFrameworkExceptionsEndInTheWindowProcedure) {
  CBaseWnd wnd;
  ASSERT_TRUE(wnd.Create());
  LRESULT result = -5;
  ASSERT_NO_THROW(result = wnd.SendMessage(kThrows));
  EXPECT_EQ(result, 0);
  // Sent from another thread into a plain GetMessageA loop, which serves on.
  opossvc::testing::MessagePump pump;
  auto remote = pump.Create<CDerivedWnd>();
  ASSERT_TRUE(pump.Run([&] { return remote->Create(); }));
  EXPECT_EQ(remote->SendMessage(kThrows), 0);
  EXPECT_EQ(remote->SendMessage(kDerivedOnly, 0, 2), 402);
  EXPECT_EQ(GetWindowThreadProcessId(remote->m_hWnd, nullptr), pump.thread_id());
  // Destroying the object on its thread destroys the window there too.
  const HWND hwnd = remote->m_hWnd;
  remote.reset();
  EXPECT_FALSE(IsWindow(hwnd));
  // One from WM_CREATE fails the creation.
  CBaseWnd refused;
  refused.throw_on_create = true;
  EXPECT_FALSE(refused.Create());
  EXPECT_EQ(refused.m_hWnd, nullptr);
}

UINT ReturnFive(LPVOID) { return 5; }

TEST(WinThreadTest, AutoDeleteAndKeptThreads) {
  ASSERT_NE(AfxBeginThread(&ReturnFive, nullptr), nullptr);  // deletes itself (ASan checks)
  CWinThread* kept =
      AfxBeginThread(&ReturnFive, nullptr, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
  ASSERT_NE(kept, nullptr);
  kept->m_bAutoDelete = FALSE;
  EXPECT_EQ(kept->ResumeThread(), 1u);
  ASSERT_EQ(WaitForSingleObject(kept->m_hThread, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(kept->m_hThread, &code));
  EXPECT_EQ(code, 5u);
  delete kept;
  EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
}

TEST(MessagePumpTest, RunsCodeOnItsThreadAndCarriesResultsAndErrors) {
  opossvc::testing::MessagePump pump;
  EXPECT_THROW(pump.Run([]() -> int { throw std::logic_error("boom"); }), std::logic_error);

  // Run reaches the pump even inside a nested loop that serves only sent
  // messages and a range of its own, as message-pumping waits do.
  HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE left = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  bool nested = false;  // pump thread only
  ASSERT_TRUE(pump.Post([&] {
    nested = true;
    SetEvent(entered);
    MSG msg;
    do {
      PeekMessageA(&msg, nullptr, WM_APP + 50, WM_APP + 50, PM_REMOVE);
    } while (MsgWaitForMultipleObjects(1, &release, FALSE, 10000, QS_SENDMESSAGE) ==
             WAIT_OBJECT_0 + 1);
    nested = false;
    SetEvent(left);
  }));
  ASSERT_EQ(WaitForSingleObject(entered, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(pump.Run([&] { return nested; })) << "not served inside the nested loop";
  SetEvent(release);
  EXPECT_EQ(WaitForSingleObject(left, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  for (HANDLE h : {entered, release, left}) CloseHandle(h);

  pump.Stop();
  EXPECT_THROW(pump.Run([] {}), std::runtime_error);
  EXPECT_FALSE(pump.Post([] {}));
  // PumpUntil serves the calling thread's own queue.
  CBaseWnd wnd;
  ASSERT_TRUE(wnd.Create());
  wnd.PostMessage(kBaseOnly);
  EXPECT_TRUE(opossvc::testing::MessagePump::PumpUntil(
      [&] { return !wnd.seen.empty() && wnd.seen.back() == kBaseOnly; }));
}

}  // namespace
