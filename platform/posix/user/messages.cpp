// Window classes, windows and messages: the Win32 entry points.
#include <opossvc/win32/messages.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>
#include <opossvc/win32/time.h>

#include "platform/posix/files/environment.h"
#include "platform/posix/kernel/wait.h"
#include "platform/posix/user/window_system.h"

namespace opossvc::detail {
namespace {

constexpr int kMaxExtraBytes = 1024;
constexpr size_t kMaxClassName = 256;
constexpr int kDefaultScreenWidth = 1024;
constexpr int kDefaultScreenHeight = 768;

const HWND kThreadOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

bool IsChildOf(const Window& window, const void* parent) {
  return window.parent == static_cast<HWND>(const_cast<void*>(parent));
}

bool IsTopLevel(const Window& window, const void*) { return window.parent == nullptr; }

// The window, when it belongs to the calling thread; otherwise null with the
// last error set.
std::shared_ptr<Window> OwnWindow(HWND hwnd) OPOSSVC_REQUIRES(g_wait_lock) {
  std::shared_ptr<Window> window = WindowSystem::Get().LookupWindow(hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (window->thread_id != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return window;
}

std::shared_ptr<Window> AnyWindow(HWND hwnd) OPOSSVC_REQUIRES(g_wait_lock) {
  std::shared_ptr<Window> window = WindowSystem::Get().LookupWindow(hwnd);
  if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return window;
}

ATOM RegisterClassFrom(const WNDCLASSEXA& wc) {
  if (wc.lpszClassName == nullptr || wc.lpfnWndProc == nullptr || wc.cbWndExtra < 0 ||
      wc.cbWndExtra > kMaxExtraBytes || wc.cbClsExtra < 0 || wc.cbClsExtra > kMaxExtraBytes ||
      reinterpret_cast<uintptr_t>(wc.lpszClassName) <= 0xFFFF ||
      std::strlen(wc.lpszClassName) >= kMaxClassName || *wc.lpszClassName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto cls = std::make_shared<WindowClass>();
  cls->name = wc.lpszClassName;
  cls->style = wc.style;
  cls->proc = wc.lpfnWndProc;
  cls->cls_extra = wc.cbClsExtra;
  cls->wnd_extra = wc.cbWndExtra;
  cls->instance = wc.hInstance;
  cls->icon = wc.hIcon;
  cls->cursor = wc.hCursor;
  cls->background = wc.hbrBackground;
  MutexLock lock(g_wait_lock);
  if (!WindowSystem::Get().AddClass(cls)) return 0;
  return cls->atom;
}

// Calls the thread's CBT hooks, newest first through CallNextHookEx; a
// nonzero answer vetoes.
LRESULT CallCbtHook(int code, WPARAM wparam, LPARAM lparam) {
  HOOKPROC proc = nullptr;
  {
    std::shared_ptr<MessageQueue> queue = CurrentQueue();
    MutexLock lock(g_wait_lock);
    if (queue->hooks.empty()) return 0;
    proc = queue->hooks.back().proc;
  }
  return proc(code, wparam, lparam);
}

// Sends WM_NCDESTROY and forgets a window whose creation failed.
void AbortCreation(HWND hwnd, bool send_ncdestroy) {
  if (send_ncdestroy) CallProcedure(hwnd, WM_NCDESTROY, 0, 0);
  MutexLock lock(g_wait_lock);
  WindowSystem::Get().RemoveWindow(hwnd);
}

// Removes the sends still queued for a window that is gone.
void FailPendingSends(HWND hwnd, QueueWakeup& wakeup) OPOSSVC_REQUIRES(g_wait_lock) {
  std::shared_ptr<MessageQueue> queue = WindowSystem::Get().FindQueue(GetCurrentThreadId());
  if (!queue) return;
  auto& incoming = queue->incoming;
  for (auto it = incoming.begin(); it != incoming.end();) {
    if ((*it)->hwnd == hwnd) {
      (*it)->Complete(0, true, wakeup);
      it = incoming.erase(it);
    } else {
      ++it;
    }
  }
}

bool PeekInto(LPMSG msg, HWND hwnd, UINT first, UINT last, UINT flags) {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  const UINT kinds = flags >> 16;  // QS_* bits; none takes every kind
  const bool handled_sent = DeliverSentMessages(*queue);
  if (kinds != 0 && (handled_sent || (kinds & QS_POSTMESSAGE) == 0)) return false;
  MutexLock lock(g_wait_lock);
  queue->posted_since_look = false;
  auto it = queue->FindPosted(hwnd, first, last);
  if (it != queue->posted.end()) {
    *msg = *it;
    if ((flags & PM_REMOVE) != 0) queue->posted.erase(it);
    return true;
  }
  if (queue->QuitMatches(hwnd, first, last)) {
    *msg = MSG{};
    msg->message = WM_QUIT;
    msg->wParam = static_cast<WPARAM>(static_cast<LONG_PTR>(queue->quit_code));
    msg->time = GetTickCount();
    if ((flags & PM_REMOVE) != 0) queue->quit = false;
    return true;
  }
  return false;
}

// Whether a GetMessageA/PeekMessageA window filter names a usable window.
bool ValidFilter(HWND hwnd) {
  if (hwnd == nullptr || hwnd == kThreadOnly) return true;
  MutexLock lock(g_wait_lock);
  return AnyWindow(hwnd) != nullptr;
}

bool PostTo(const std::shared_ptr<MessageQueue>& queue, HWND hwnd, UINT message, WPARAM wparam,
            LPARAM lparam, QueueWakeup& wakeup) OPOSSVC_REQUIRES(g_wait_lock) {
  MSG msg{};
  msg.hwnd = hwnd;
  msg.message = message;
  msg.wParam = wparam;
  msg.lParam = lparam;
  msg.time = GetTickCount();
  return queue->Post(msg, wakeup);
}

int ScreenMetric(bool width) {
  int w = kDefaultScreenWidth;
  int h = kDefaultScreenHeight;
  if (const char* setting = ReadSetting("OPOS_SCREEN_SIZE")) {
    char* end = nullptr;
    long sw = std::strtol(setting, &end, 10);
    if (end != setting && (*end == 'x' || *end == 'X')) {
      const char* rest = end + 1;
      long sh = std::strtol(rest, &end, 10);
      if (end != rest && *end == '\0' && sw > 0 && sh > 0 && sw <= 65535 && sh <= 65535) {
        w = static_cast<int>(sw);
        h = static_cast<int>(sh);
      }
    }
  }
  return width ? w : h;
}

char TranslateKey(WPARAM vk) {
  if (vk >= '0' && vk <= '9') return static_cast<char>(vk);
  if (vk >= 'A' && vk <= 'Z') return static_cast<char>(vk - 'A' + 'a');
  switch (vk) {
    case VK_BACK:
    case VK_TAB:
    case VK_RETURN:
    case VK_ESCAPE:
    case VK_SPACE:
      return static_cast<char>(vk);
    default:
      return 0;
  }
}

// The `size` bytes at byte `index` of a window's extra bytes, or null
// (ERROR_INVALID_INDEX) when they do not lie wholly inside them.
unsigned char* ExtraBytes(Window& window, int index, size_t size) {
  if (index < 0 || static_cast<size_t>(index) + size > window.extra.size()) {
    SetLastError(ERROR_INVALID_INDEX);
    return nullptr;
  }
  return window.extra.data() + index;
}

}  // namespace
}  // namespace opossvc::detail

using opossvc::detail::CurrentQueue;
using opossvc::detail::g_wait_lock;
using opossvc::detail::MessageQueue;
using opossvc::detail::MutexLock;
using opossvc::detail::Window;
using opossvc::detail::WindowSystem;

// ---- Window classes ---------------------------------------------------------

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass) {
  if (lpWndClass == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.style = lpWndClass->style;
  wc.lpfnWndProc = lpWndClass->lpfnWndProc;
  wc.cbClsExtra = lpWndClass->cbClsExtra;
  wc.cbWndExtra = lpWndClass->cbWndExtra;
  wc.hInstance = lpWndClass->hInstance;
  wc.hIcon = lpWndClass->hIcon;
  wc.hCursor = lpWndClass->hCursor;
  wc.hbrBackground = lpWndClass->hbrBackground;
  wc.lpszMenuName = lpWndClass->lpszMenuName;
  wc.lpszClassName = lpWndClass->lpszClassName;
  return opossvc::detail::RegisterClassFrom(wc);
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpWndClass) {
  if (lpWndClass == nullptr || lpWndClass->cbSize != sizeof(WNDCLASSEXA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return opossvc::detail::RegisterClassFrom(*lpWndClass);
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
  MutexLock lock(g_wait_lock);
  return WindowSystem::Get().RemoveClass(lpClassName) ? TRUE : FALSE;
}

BOOL WINAPI GetClassInfoA(HINSTANCE hInstance, LPCSTR lpClassName, LPWNDCLASSA lpWndClass) {
  if (lpWndClass == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  MutexLock lock(g_wait_lock);
  std::shared_ptr<opossvc::detail::WindowClass> cls = WindowSystem::Get().FindClass(lpClassName);
  // A null instance asks for the system's classes: here only the global ones,
  // since a class registered without an instance is the program's own.
  if (!cls || (hInstance == nullptr && (cls->style & CS_GLOBALCLASS) == 0)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  *lpWndClass = WNDCLASSA{};
  lpWndClass->style = cls->style;
  lpWndClass->lpfnWndProc = cls->proc;
  lpWndClass->cbClsExtra = cls->cls_extra;
  lpWndClass->cbWndExtra = cls->wnd_extra;
  lpWndClass->hInstance = cls->instance;
  lpWndClass->hIcon = cls->icon;
  lpWndClass->hCursor = cls->cursor;
  lpWndClass->hbrBackground = cls->background;
  lpWndClass->lpszClassName = lpClassName;
  return TRUE;
}

// ---- Windows ----------------------------------------------------------------

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                            int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID lpParam) {
  using namespace opossvc::detail;
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  if (hWndParent == HWND_MESSAGE) hWndParent = nullptr;
  if (X == CW_USEDEFAULT) X = Y = 0;
  if (nWidth == CW_USEDEFAULT) nWidth = nHeight = 0;
  if (nWidth < 0) nWidth = 0;
  if (nHeight < 0) nHeight = 0;

  auto window = std::make_shared<Window>();
  HWND hwnd = nullptr;
  {
    MutexLock lock(g_wait_lock);
    window->cls = WindowSystem::Get().FindClass(lpClassName);
    if (!window->cls) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    if (hWndParent != nullptr && !WindowSystem::Get().LookupWindow(hWndParent)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    if ((dwStyle & WS_CHILD) != 0 && hWndParent == nullptr) {
      SetLastError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    window->thread_id = queue->thread_id;
    window->proc = window->cls->proc;
    window->parent = hWndParent;
    window->instance = hInstance;
    window->id = (dwStyle & WS_CHILD) != 0 ? reinterpret_cast<LONG_PTR>(hMenu) : 0;
    window->style = dwStyle;
    window->ex_style = dwExStyle;
    window->rect = RECT{X, Y, X + nWidth, Y + nHeight};
    window->text = lpWindowName != nullptr ? lpWindowName : "";
    window->extra.assign(static_cast<size_t>(window->cls->wnd_extra), 0);
    hwnd = WindowSystem::Get().AddWindow(window);
  }

  CREATESTRUCTA cs{};
  cs.lpCreateParams = lpParam;
  cs.hInstance = hInstance;
  cs.hMenu = hMenu;
  cs.hwndParent = hWndParent;
  cs.cy = nHeight;
  cs.cx = nWidth;
  cs.y = Y;
  cs.x = X;
  cs.style = opossvc::Long32(dwStyle);
  cs.lpszName = lpWindowName;
  cs.lpszClass = lpClassName;
  cs.dwExStyle = dwExStyle;

  CBT_CREATEWNDA cbt{&cs, nullptr};
  const LRESULT veto =
      CallCbtHook(HCBT_CREATEWND, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&cbt));
  if (veto != 0) {
    AbortCreation(hwnd, false);
    return nullptr;
  }
  if (CallProcedure(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) == 0) {
    AbortCreation(hwnd, true);
    return nullptr;
  }
  // No frame: the client area is the whole window.
  RECT client{X, Y, X + nWidth, Y + nHeight};
  CallProcedure(hwnd, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&client));
  if (CallProcedure(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    return nullptr;
  }
  // A child or pop-up learns its size and place now; an overlapped window
  // would when first shown, which a hidden one never is.
  if ((dwStyle & (WS_CHILD | WS_POPUP)) != 0 && IsWindow(hwnd)) {
    auto pair = [](int low, int high) {
      return static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(low, high)));
    };
    CallProcedure(hwnd, WM_SIZE, 0 /* SIZE_RESTORED */, pair(nWidth, nHeight));
    CallProcedure(hwnd, WM_MOVE, 0, pair(X, Y));
  }
  // A procedure may have destroyed the window while it was being created.
  return IsWindow(hwnd) ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  using namespace opossvc::detail;
  std::vector<std::shared_ptr<Window>> children;
  {
    MutexLock lock(g_wait_lock);
    std::shared_ptr<Window> window = OwnWindow(hWnd);
    if (!window) return FALSE;
    if (window->destroying) return TRUE;  // already under way further up the stack
    window->destroying = true;
    children = WindowSystem::Get().WindowsWhere(&IsChildOf, hWnd);
  }
  CallProcedure(hWnd, WM_DESTROY, 0, 0);
  for (const auto& child : children) {
    if (child->thread_id == GetCurrentThreadId()) DestroyWindow(child->hwnd);
  }
  CallProcedure(hWnd, WM_NCDESTROY, 0, 0);
  QueueWakeup wakeup;
  MutexLock lock(g_wait_lock);
  WindowSystem::Get().RemoveWindow(hWnd);
  FailPendingSends(hWnd, wakeup);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
  MutexLock lock(g_wait_lock);
  return WindowSystem::Get().LookupWindow(hWnd) ? TRUE : FALSE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  MutexLock lock(g_wait_lock);
  std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
  if (!window) return 0;
  if (lpdwProcessId != nullptr) *lpdwProcessId = GetCurrentProcessId();
  return window->thread_id;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
  MutexLock lock(g_wait_lock);
  std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
  if (!window) return 0;
  switch (nIndex) {
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(window->proc);
    case GWLP_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(window->instance);
    case GWLP_HWNDPARENT:
      return reinterpret_cast<LONG_PTR>(window->parent);
    case GWLP_ID:
      return window->id;
    case GWL_STYLE:
      return opossvc::Long32(window->style);
    case GWL_EXSTYLE:
      return opossvc::Long32(window->ex_style);
    case GWLP_USERDATA:
      return window->user_data;
    default:
      break;
  }
  const unsigned char* at = opossvc::detail::ExtraBytes(*window, nIndex, sizeof(LONG_PTR));
  if (at == nullptr) return 0;
  LONG_PTR value;
  std::memcpy(&value, at, sizeof(value));
  return value;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  MutexLock lock(g_wait_lock);
  std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
  if (!window) return 0;
  LONG_PTR old = 0;
  switch (nIndex) {
    case GWLP_WNDPROC:
      if (dwNewLong == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      old = reinterpret_cast<LONG_PTR>(window->proc);
      window->proc = reinterpret_cast<WNDPROC>(dwNewLong);
      return old;
    case GWLP_HINSTANCE:
      old = reinterpret_cast<LONG_PTR>(window->instance);
      window->instance = reinterpret_cast<HINSTANCE>(dwNewLong);
      return old;
    case GWLP_HWNDPARENT:
      old = reinterpret_cast<LONG_PTR>(window->parent);
      window->parent = reinterpret_cast<HWND>(dwNewLong);
      return old;
    case GWLP_ID:
      old = window->id;
      window->id = dwNewLong;
      return old;
    case GWL_STYLE:
      old = opossvc::Long32(window->style);
      window->style = static_cast<DWORD>(dwNewLong);
      return old;
    case GWL_EXSTYLE:
      old = opossvc::Long32(window->ex_style);
      window->ex_style = static_cast<DWORD>(dwNewLong);
      return old;
    case GWLP_USERDATA:
      old = window->user_data;
      window->user_data = dwNewLong;
      return old;
    default:
      break;
  }
  unsigned char* at = opossvc::detail::ExtraBytes(*window, nIndex, sizeof(LONG_PTR));
  if (at == nullptr) return 0;
  std::memcpy(&old, at, sizeof(old));
  std::memcpy(at, &dwNewLong, sizeof(dwNewLong));
  return old;
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
  if (nIndex == GWLP_WNDPROC || nIndex == GWLP_HINSTANCE || nIndex == GWLP_HWNDPARENT) {
    SetLastError(ERROR_INVALID_INDEX);  // pointers do not fit
    return 0;
  }
  if (nIndex >= 0) {
    MutexLock lock(g_wait_lock);
    std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
    if (!window) return 0;
    // A window LONG is 32 bits, as on Windows.
    const unsigned char* at = opossvc::detail::ExtraBytes(*window, nIndex, sizeof(int32_t));
    if (at == nullptr) return 0;
    int32_t value;
    std::memcpy(&value, at, sizeof(value));
    return value;
  }
  return opossvc::Long32(GetWindowLongPtrA(hWnd, nIndex));
}

LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong) {
  if (nIndex == GWLP_WNDPROC || nIndex == GWLP_HINSTANCE || nIndex == GWLP_HWNDPARENT) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  if (nIndex >= 0) {
    MutexLock lock(g_wait_lock);
    std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
    if (!window) return 0;
    unsigned char* at = opossvc::detail::ExtraBytes(*window, nIndex, sizeof(int32_t));
    if (at == nullptr) return 0;
    int32_t old;
    const auto value = static_cast<int32_t>(opossvc::Long32(dwNewLong));
    std::memcpy(&old, at, sizeof(old));
    std::memcpy(at, &value, sizeof(value));
    return old;
  }
  return opossvc::Long32(SetWindowLongPtrA(hWnd, nIndex, opossvc::Long32(dwNewLong)));
}

HWND WINAPI GetParent(HWND hWnd) {
  MutexLock lock(g_wait_lock);
  std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
  return window ? window->parent : nullptr;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  MutexLock lock(g_wait_lock);
  std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
  if (!window) return FALSE;
  const bool was_visible = (window->style & WS_VISIBLE) != 0;
  if (nCmdShow == SW_HIDE) {
    window->style &= ~static_cast<DWORD>(WS_VISIBLE);
  } else {
    window->style |= static_cast<DWORD>(WS_VISIBLE);
  }
  return was_visible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
  MutexLock lock(g_wait_lock);
  std::shared_ptr<Window> window = WindowSystem::Get().LookupWindow(hWnd);
  return window && (window->style & WS_VISIBLE) != 0 ? TRUE : FALSE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
  MutexLock lock(g_wait_lock);
  std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
  if (!window || lpRect == nullptr) return FALSE;
  *lpRect = window->rect;
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
  MutexLock lock(g_wait_lock);
  std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
  if (!window || lpRect == nullptr) return FALSE;
  *lpRect =
      RECT{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
  return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hWnd);
      return 0;
    case WM_SETTEXT: {
      MutexLock lock(g_wait_lock);
      std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
      if (!window) return FALSE;
      const char* text = reinterpret_cast<const char*>(lParam);
      window->text = text != nullptr ? text : "";
      return TRUE;
    }
    case WM_GETTEXTLENGTH: {
      MutexLock lock(g_wait_lock);
      std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
      return window ? static_cast<LRESULT>(window->text.size()) : 0;
    }
    case WM_GETTEXT: {
      MutexLock lock(g_wait_lock);
      std::shared_ptr<Window> window = opossvc::detail::AnyWindow(hWnd);
      char* buffer = reinterpret_cast<char*>(lParam);
      if (!window || buffer == nullptr || wParam == 0) return 0;
      size_t n = std::min<size_t>(window->text.size(), wParam - 1);
      std::memcpy(buffer, window->text.data(), n);
      buffer[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    default:
      return 0;
  }
}

LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam,
                               LPARAM lParam) {
  if (lpPrevWndFunc == nullptr) return 0;
  return lpPrevWndFunc(hWnd, Msg, wParam, lParam);
}

// ---- Messages ---------------------------------------------------------------

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  using namespace opossvc::detail;
  if (hWnd == nullptr) return PostThreadMessageA(GetCurrentThreadId(), Msg, wParam, lParam);
  WindowSystem& system = WindowSystem::Get();
  QueueWakeup wakeup;
  MutexLock lock(g_wait_lock);
  if (hWnd == HWND_BROADCAST) {
    for (const auto& window : system.WindowsWhere(&IsTopLevel, nullptr)) {
      if (std::shared_ptr<MessageQueue> queue = system.FindQueue(window->thread_id)) {
        PostTo(queue, window->hwnd, Msg, wParam, lParam, wakeup);
      }
    }
    return TRUE;
  }
  std::shared_ptr<Window> window = AnyWindow(hWnd);
  if (!window) return FALSE;
  std::shared_ptr<MessageQueue> queue = system.FindQueue(window->thread_id);
  if (!queue) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return PostTo(queue, hWnd, Msg, wParam, lParam, wakeup) ? TRUE : FALSE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  using namespace opossvc::detail;
  // The calling thread's own queue exists from its first message call on.
  if (idThread == GetCurrentThreadId()) CurrentQueue();
  QueueWakeup wakeup;
  MutexLock lock(g_wait_lock);
  std::shared_ptr<MessageQueue> queue = WindowSystem::Get().FindQueue(idThread);
  if (!queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return PostTo(queue, nullptr, Msg, wParam, lParam, wakeup) ? TRUE : FALSE;
}

VOID WINAPI PostQuitMessage(int nExitCode) {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  MutexLock lock(g_wait_lock);
  queue->quit = true;
  queue->quit_code = nExitCode;
  queue->posted_since_look = true;
  queue->WakeWaiters();
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(hWnd, Msg, wParam, lParam, SMTO_NORMAL, INFINITE, &result);
  return static_cast<LRESULT>(result);
}

LRESULT WINAPI SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags,
                                   UINT uTimeout, PDWORD_PTR lpdwResult) {
  using namespace opossvc::detail;
  if (lpdwResult != nullptr) *lpdwResult = 0;
  std::shared_ptr<Window> window;
  {
    MutexLock lock(g_wait_lock);
    window = AnyWindow(hWnd);
    if (!window) return 0;
  }
  LRESULT result = 0;
  if (window->thread_id == GetCurrentThreadId()) {
    result = CallProcedure(hWnd, Msg, wParam, lParam);
  } else if (!SendToOtherThread(window, Msg, wParam, lParam, fuFlags, uTimeout, &result)) {
    return 0;
  }
  if (lpdwResult != nullptr) *lpdwResult = static_cast<DWORD_PTR>(result);
  return 1;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
  if (lpMsg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!opossvc::detail::ValidFilter(hWnd)) return FALSE;
  const bool found =
      opossvc::detail::PeekInto(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg);
  return found ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  using namespace opossvc::detail;
  if (lpMsg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (!ValidFilter(hWnd)) return -1;
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  for (;;) {
    if (PeekInto(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, PM_REMOVE)) {
      return lpMsg->message == WM_QUIT ? FALSE : TRUE;
    }
    MutexLock lock(g_wait_lock);
    queue->mode = MessageQueue::WaitMode::kFilter;
    queue->filter_hwnd = hWnd;
    queue->filter_first = wMsgFilterMin;
    queue->filter_last = wMsgFilterMax;
    while (!queue->Ready()) g_wait_lock.Wait(queue->wake);
  }
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
  if (lpMsg == nullptr) return FALSE;
  switch (lpMsg->message) {
    case WM_KEYDOWN:
      if (char c = opossvc::detail::TranslateKey(lpMsg->wParam)) {
        PostMessageA(lpMsg->hwnd, WM_CHAR, static_cast<unsigned char>(c), lpMsg->lParam);
      }
      return TRUE;
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
  using namespace opossvc::detail;
  if (lpMsg == nullptr || lpMsg->hwnd == nullptr) return 0;
  {
    MutexLock lock(g_wait_lock);
    std::shared_ptr<Window> window = AnyWindow(lpMsg->hwnd);
    if (!window) return 0;
    if (window->thread_id != GetCurrentThreadId()) {
      SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
      return 0;
    }
  }
  return CallProcedure(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                       DWORD dwMilliseconds, DWORD dwWakeMask) {
  return MsgWaitForMultipleObjectsEx(nCount, pHandles, dwMilliseconds, dwWakeMask,
                                     fWaitAll ? MWMO_WAITALL : 0);
}

DWORD WINAPI MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds,
                                         DWORD dwWakeMask, DWORD dwFlags) {
  using namespace opossvc::detail;
  if (nCount >= MAXIMUM_WAIT_OBJECTS || (nCount > 0 && pHandles == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Waitable>> wait_set;
  if (!ResolveWaitHandles(pHandles, nCount, &wait_set)) return WAIT_FAILED;
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  {
    MutexLock lock(g_wait_lock);
    queue->mode = MessageQueue::WaitMode::kWakeMask;
    queue->wake_mask = dwWakeMask;
    queue->input_available = (dwFlags & MWMO_INPUTAVAILABLE) != 0;
  }
  wait_set.push_back(queue);
  const bool wait_all = (dwFlags & MWMO_WAITALL) != 0;
  if (wait_all) {
    for (size_t i = 0; i < wait_set.size(); ++i) {
      for (size_t j = 0; j < i; ++j) {
        if (wait_set[i] == wait_set[j]) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
      }
    }
  }
  return WaitForObjects(wait_set, wait_all, dwMilliseconds);
}

BOOL WINAPI InSendMessage(void) { return CurrentQueue()->in_send > 0 ? TRUE : FALSE; }

// ---- Hooks --------------------------------------------------------------------

HHOOK WINAPI SetWindowsHookExA(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId) {
  if (idHook != WH_CBT) {
    SetLastError(ERROR_INVALID_HOOK_FILTER);
    return nullptr;
  }
  if (dwThreadId == 0) {
    // System-wide hooks would need code injected into other processes.
    SetLastError(hmod == nullptr ? ERROR_HOOK_NEEDS_HMOD : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (lpfn == nullptr || dwThreadId != GetCurrentThreadId()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  MutexLock lock(g_wait_lock);
  HHOOK handle = WindowSystem::Get().NextHookHandle();
  queue->hooks.push_back(opossvc::detail::Hook{handle, lpfn});
  return handle;
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hhk) {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  MutexLock lock(g_wait_lock);
  auto& hooks = queue->hooks;
  for (auto it = hooks.begin(); it != hooks.end(); ++it) {
    if (it->handle == hhk) {
      hooks.erase(it);
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_HOOK_HANDLE);
  return FALSE;
}

LRESULT WINAPI CallNextHookEx(HHOOK hhk, int nCode, WPARAM wParam, LPARAM lParam) {
  HOOKPROC next = nullptr;
  {
    std::shared_ptr<MessageQueue> queue = CurrentQueue();
    MutexLock lock(g_wait_lock);
    const auto& hooks = queue->hooks;
    for (size_t i = hooks.size(); i-- > 0;) {
      if (hooks[i].handle == hhk) {
        if (i > 0) next = hooks[i - 1].proc;
        break;
      }
    }
  }
  return next != nullptr ? next(nCode, wParam, lParam) : 0;
}

// ---- System metrics -------------------------------------------------------------

int WINAPI GetSystemMetrics(int nIndex) {
  switch (nIndex) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
    case SM_CXVIRTUALSCREEN:
      return opossvc::detail::ScreenMetric(true);
    case SM_CYSCREEN:
    case SM_CYFULLSCREEN:
    case SM_CYVIRTUALSCREEN:
      return opossvc::detail::ScreenMetric(false);
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
      return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return 17;
    case SM_CYCAPTION:
      return 23;
    case SM_CYMENU:
      return 19;
    case SM_CXBORDER:
    case SM_CYBORDER:
    case SM_CMONITORS:
      return 1;
    default:
      return 0;  // includes SM_MOUSEPRESENT and SM_CMOUSEBUTTONS: no mouse
  }
}
