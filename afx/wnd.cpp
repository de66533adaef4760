#include <opossvc/afx/wnd.h>

#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include <opossvc/afx/exceptions.h>
#include <opossvc/thread_annotations.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/threads.h>

namespace opossvc::detail {
namespace {

// Which CWnd object each bound window belongs to.
class WndMap {
 public:
  static WndMap& Get() {
    // Never destroyed: CWnd objects may outlive static destruction.
    static WndMap* map = new WndMap;
    return *map;
  }

  bool Add(HWND hwnd, CWnd* wnd) {
    std::lock_guard<std::mutex> lock(mutex_);
    return map_.emplace(hwnd, wnd).second;
  }

  void Remove(HWND hwnd, CWnd* wnd) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = map_.find(hwnd);
    if (it != map_.end() && it->second == wnd) map_.erase(it);
  }

  CWnd* Find(HWND hwnd) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = map_.find(hwnd);
    return it == map_.end() ? nullptr : it->second;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HWND, CWnd*> map_;  // guarded by mutex_
};

// The object whose CreateEx is running on this thread, until the creation
// hook has bound it to its new window.
thread_local CWnd* t_wnd_init = nullptr;
// The creation hook of the innermost running CreateEx on this thread.
thread_local HHOOK t_create_hook = nullptr;

// Class names returned by AfxRegisterWndClass, kept for the process's life.
class ClassNames {
 public:
  static ClassNames& Get() {
    static ClassNames* names = new ClassNames;
    return *names;
  }
  const char* Intern(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return names_.insert(name).first->c_str();
  }

 private:
  std::mutex mutex_;
  std::set<std::string> names_;  // guarded by mutex_
};

// Reports a framework exception that left a window procedure, as the
// framework does, and gives the procedure's answer: creation fails, any
// other message gets 0.
LRESULT AnswerForException(HWND hwnd, UINT message, const CException& e) {
  char text[256];
  if (!e.GetErrorMessage(text, sizeof text)) {
    std::snprintf(text, sizeof text, "%s", e.GetRuntimeClass()->m_lpszClassName);
  }
  std::fprintf(stderr, "opossvc: message 0x%04X to window %p ended in an exception: %s\n", message,
               static_cast<void*>(hwnd), text);
  return message == WM_CREATE ? -1 : 0;
}

}  // namespace

struct WndAccess {
  static void Bind(CWnd* wnd, HWND hwnd) {
    WndMap::Get().Add(hwnd, wnd);
    wnd->m_hWnd = hwnd;
  }

  static void Unbind(CWnd* wnd) {
    if (wnd->m_hWnd == nullptr) return;
    WndMap::Get().Remove(wnd->m_hWnd, wnd);
    wnd->m_hWnd = nullptr;
  }

  // Binds the window being created to the object of the running CreateEx and
  // routes its messages through AfxWndProc, before its first message.
  static LRESULT CALLBACK CbtHook(int code, WPARAM wparam, LPARAM lparam) {
    CWnd* wnd = t_wnd_init;
    if (code != HCBT_CREATEWND || wnd == nullptr) {
      return CallNextHookEx(t_create_hook, code, wparam, lparam);
    }
    t_wnd_init = nullptr;
    HWND hwnd = reinterpret_cast<HWND>(wparam);
    Bind(wnd, hwnd);
    WNDPROC old = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
    if (old != &AfxWndProc) wnd->m_pfnSuper = old;
    LRESULT veto = CallNextHookEx(t_create_hook, code, wparam, lparam);
    if (veto != 0) Unbind(wnd);  // the window will not exist
    return veto;
  }

  // After WM_NCDESTROY: give back the replaced procedure, unbind, and let
  // the object clean up (it may delete itself).
  static void AfterNcDestroy(CWnd* wnd, HWND hwnd) {
    if (wnd->m_pfnSuper != nullptr &&
        GetWindowLongPtrA(hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&AfxWndProc)) {
      SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(wnd->m_pfnSuper));
    }
    Unbind(wnd);
    wnd->PostNcDestroy();
  }

  static const char* InternClassName(const std::string& name) {
    return ClassNames::Get().Intern(name);
  }
};

}  // namespace opossvc::detail

using opossvc::detail::WndAccess;

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = opossvc::detail::WndMap::Get().Find(hWnd);
  if (wnd == nullptr) return DefWindowProcA(hWnd, message, wParam, lParam);
  LRESULT result = 0;
  try {
    result = wnd->WindowProc(message, wParam, lParam);
  } catch (CException* e) {
    // Left to run on, it would end a caller's plain message loop.
    result = opossvc::detail::AnswerForException(hWnd, message, *e);
    e->Delete();
  }
  if (message == WM_NCDESTROY) WndAccess::AfterNcDestroy(wnd, hWnd);
  return result;
}

IMPLEMENT_DYNCREATE(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::CWnd() : m_hWnd(nullptr), m_pfnSuper(nullptr) {}

CWnd::~CWnd() {
  if (m_hWnd == nullptr) return;
  HWND hwnd = m_hWnd;
  if (IsWindow(hwnd) && GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
    // Virtual calls from here reach CWnd's own members only.
    ::DestroyWindow(hwnd);
  }
  WndAccess::Unbind(this);
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle,
                    int x, int y, int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu,
                    LPVOID lpParam) {
  if (m_hWnd != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  using opossvc::detail::t_create_hook;
  using opossvc::detail::t_wnd_init;
  HHOOK hook = SetWindowsHookExA(WH_CBT, &WndAccess::CbtHook, nullptr, GetCurrentThreadId());
  if (hook == nullptr) return FALSE;
  CWnd* const outer_wnd = t_wnd_init;
  const HHOOK outer_hook = t_create_hook;
  t_wnd_init = this;
  t_create_hook = hook;
  HWND hwnd = CreateWindowExA(dwExStyle, lpszClassName, lpszWindowName, dwStyle, x, y, nWidth,
                              nHeight, hWndParent, nIDorHMenu, nullptr, lpParam);
  const bool bound = t_wnd_init != this;
  t_wnd_init = outer_wnd;
  t_create_hook = outer_hook;
  UnhookWindowsHookEx(hook);
  if (!bound) {
    // The window never came to be; the object still hears of its end.
    PostNcDestroy();
    return FALSE;
  }
  // A failed creation has delivered WM_NCDESTROY, which unbound the object
  // and ran PostNcDestroy; the object may be gone.
  return hwnd != nullptr ? TRUE : FALSE;
}

BOOL CWnd::DestroyWindow() {
  HWND hwnd = m_hWnd;
  if (hwnd == nullptr) return FALSE;
  if (::DestroyWindow(hwnd)) return TRUE;  // the object may be gone now
  // A window that died with its thread leaves the object bound to nothing.
  if (!IsWindow(hwnd)) WndAccess::Unbind(this);
  return FALSE;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }

BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }

BOOL CWnd::Attach(HWND hWndNew) {
  if (m_hWnd != nullptr || hWndNew == nullptr || !IsWindow(hWndNew) ||
      opossvc::detail::WndMap::Get().Find(hWndNew) != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WndAccess::Bind(this, hWndNew);
  return TRUE;
}

HWND CWnd::Detach() {
  HWND hwnd = m_hWnd;
  WndAccess::Unbind(this);
  return hwnd;
}

CWnd* CWnd::FromHandle(HWND hWnd) { return FromHandlePermanent(hWnd); }

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  return hWnd == nullptr ? nullptr : opossvc::detail::WndMap::Get().Find(hWnd);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!OnWndMsg(message, wParam, lParam, &result)) {
    result = DefWindowProc(message, wParam, lParam);
  }
  return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
       map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->nSig != AfxSig_end; ++entry) {
      if (entry->nMessage != message || entry->nCode != 0 || entry->nID != 0) continue;
      if (entry->nSig != AfxSig_lwl) continue;
      AFX_PMSGW handler = opossvc::detail::FromEntryHandler(entry->pfn);
      LRESULT result = (this->*handler)(wParam, lParam);
      if (pResult != nullptr) *pResult = result;
      return TRUE;
    }
  }
  return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper != nullptr) return CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

void CWnd::PostNcDestroy() {}

LPCTSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon) {
  char buffer[128];
  std::snprintf(buffer, sizeof(buffer), "Afx:%llx:%x:%llx:%llx:%llx", 0ull, nClassStyle,
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hCursor)),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hbrBackground)),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hIcon)));
  const char* name = WndAccess::InternClassName(buffer);
  WNDCLASSA wc{};  // the name says everything in it: one registered before is the same
  wc.style = nClassStyle;
  wc.lpfnWndProc = &DefWindowProcA;
  wc.hCursor = hCursor;
  wc.hbrBackground = hbrBackground;
  wc.hIcon = hIcon;
  wc.lpszClassName = name;
  if (RegisterClassA(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  return name;
}
