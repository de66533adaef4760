// CWnd: a C++ object bound to one window, with message-map dispatch.
//
// CreateEx creates the window on the calling thread and binds it to the
// object before the window receives its first message (WM_NCCREATE), so
// message-map handlers and WindowProc overrides see every message, WM_CREATE
// included. Messages reach WindowProc, which looks the message up in the
// object's message map (most derived class first) and falls back to
// DefWindowProc. After WM_NCDESTROY the object is unbound (m_hWnd becomes
// null) and PostNcDestroy runs; an object that deletes itself does so there.
//
//   class CMyWnd : public CWnd {
//    protected:
//     LRESULT OnPing(WPARAM wParam, LPARAM lParam);
//     DECLARE_MESSAGE_MAP()
//   };
//   BEGIN_MESSAGE_MAP(CMyWnd, CWnd)
//     ON_MESSAGE(WM_APP, &CMyWnd::OnPing)
//   END_MESSAGE_MAP()
//
// A framework exception (CException*) that leaves a handler or WindowProc is
// caught by the window procedure, as the framework does: it is reported on
// the standard error stream and deleted, and the message is answered with 0
// (-1 for WM_CREATE, so that creation fails). So a failing control-object
// call in a handler cannot end the process through the caller's message loop.
// Other exceptions pass through.
//
// Threading: a CWnd is used on its window's thread. SendMessage from another
// thread is handled on that thread (see win32/messages.h). Destroying a CWnd
// destroys its window when called on the window's thread; on any other
// thread the window stays and is merely unbound from the dead object.
//
// When the window's thread ends, the window is destroyed without messages:
// the object keeps a stale m_hWnd (IsWindow answers FALSE), PostNcDestroy
// does not run, and the object must be deleted by its owner.
#ifndef OPOSSVC_AFX_WND_H_
#define OPOSSVC_AFX_WND_H_

#include <cstring>

#include <opossvc/afx/msgmap.h>
#include <opossvc/afx/object.h>
#include <opossvc/export.h>
#include <opossvc/win32/messages.h>
#include <opossvc/win32/types.h>

class CWnd;
namespace opossvc::detail {
struct WndAccess;
}  // namespace opossvc::detail

// Handler type of ON_MESSAGE entries.
typedef LRESULT (CWnd::*AFX_PMSGW)(WPARAM, LPARAM);

namespace opossvc::detail {
// An entry keeps its handler in the common AFX_PMSG type; these move the
// bits in and out unchanged, so the round trip gives back the very handler.
inline AFX_PMSG ToEntryHandler(AFX_PMSGW handler) {
  static_assert(sizeof(AFX_PMSG) == sizeof(AFX_PMSGW));
  AFX_PMSG stored;
  std::memcpy(&stored, &handler, sizeof(stored));
  return stored;
}
inline AFX_PMSGW FromEntryHandler(AFX_PMSG stored) {
  AFX_PMSGW handler;
  std::memcpy(&handler, &stored, sizeof(handler));
  return handler;
}
}  // namespace opossvc::detail

// Binds `message` to a member `LRESULT memberFxn(WPARAM, LPARAM)` of the
// map's class or of one of its CWnd-derived bases.
// clang-format off
#define ON_MESSAGE(message, memberFxn)              \
  {static_cast<UINT>(message), 0, 0, 0, AfxSig_lwl, \
   ::opossvc::detail::ToEntryHandler(static_cast<AFX_PMSGW>(memberFxn))},
// clang-format on

class OPOSSVC_API CWnd : public CCmdTarget {
  DECLARE_DYNCREATE(CWnd)

 public:
  CWnd();
  // Destroys the window when still bound and on the window's thread.
  virtual ~CWnd();

  HWND m_hWnd;

  // Creates the window on this thread and binds it. FALSE when the object
  // already has a window, the class is unknown, or WM_NCCREATE/WM_CREATE
  // refused creation (GetLastError tells which).
  virtual BOOL CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName,
                        DWORD dwStyle, int x, int y, int nWidth, int nHeight, HWND hWndParent,
                        HMENU nIDorHMenu, LPVOID lpParam = nullptr);
  // Destroys the bound window; FALSE when there is none or it is not ours.
  virtual BOOL DestroyWindow();

  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return GetSafeHwnd(); }

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL ShowWindow(int nCmdShow);
  BOOL IsWindowVisible() const;

  // Binds an existing window of this thread without subclassing it: only
  // messages that reach AfxWndProc come to this object.
  BOOL Attach(HWND hWndNew);
  // Unbinds and returns the window, which lives on.
  HWND Detach();

  // The object bound to hWnd, or null. No temporary objects are made for
  // windows without one.
  static CWnd* FromHandle(HWND hWnd);
  static CWnd* FromHandlePermanent(HWND hWnd);

  // Message-map dispatch, then DefWindowProc for unhandled messages.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The message-map lookup alone: TRUE and *pResult when an entry handled it.
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  // The window procedure this object replaced, or DefWindowProcA.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Runs after WM_NCDESTROY, once the object is unbound. Does nothing here.
  virtual void PostNcDestroy();

 protected:
  WNDPROC m_pfnSuper;  // procedure replaced when CreateEx subclassed the window

  DECLARE_MESSAGE_MAP()

 private:
  friend struct opossvc::detail::WndAccess;
};

// The window procedure of every CWnd-bound window.
OPOSSVC_API LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Registers (once) and returns the name of a window class with the given
// attributes and DefWindowProcA as procedure. The name stays valid for the
// life of the process. Null only when the class cannot be registered.
OPOSSVC_API LPCTSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor = nullptr,
                                        HBRUSH hbrBackground = nullptr, HICON hIcon = nullptr);

#endif  // OPOSSVC_AFX_WND_H_
