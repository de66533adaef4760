// Windows that record the calls of their window procedure, for tests.
#ifndef OPOSSVC_TESTS_PLATFORM_USER_WINDOW_HELPERS_H_
#define OPOSSVC_TESTS_PLATFORM_USER_WINDOW_HELPERS_H_

#include <algorithm>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/messages.h>
#include <opossvc/win32/threads.h>

#include "tests/support/last_error_expect.h"

namespace opossvc::test {

constexpr DWORD kLong = 10000;  // "soon"; never reached when the code works

using Handler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// A handler that answers `message` with answer(wparam) and leaves every other
// message to DefWindowProcA.
inline Handler Answer(UINT message, std::function<LRESULT(WPARAM)> answer) {
  return [message, answer = std::move(answer)](HWND h, UINT m, WPARAM w, LPARAM l) {
    return m == message ? answer(w) : DefWindowProcA(h, m, w, l);
  };
}

// A window of the creating thread. Every call of its procedure is logged with
// the calling thread; `handler`, when given, answers it.
class TestWindow {
 public:
  explicit TestWindow(Handler handler = nullptr, HWND parent = nullptr, DWORD style = 0)
      : handler_(std::move(handler)) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &TestWindow::Proc;
    wc.lpszClassName = "opossvc.test.Recorder";
    RegisterClassA(&wc);  // once per process; later calls fail harmlessly
    hwnd = CreateWindowExA(0, wc.lpszClassName, "test", style, 0, 0, 10, 10, parent, nullptr,
                           nullptr, this);
  }
  // Destroys the window when it still exists and belongs to this thread.
  ~TestWindow() {
    if (IsWindow(hwnd) && GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
      DestroyWindow(hwnd);
    }
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  // The messages the procedure was called with, in order.
  std::vector<UINT> Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<UINT> messages;
    for (const auto& call : calls_) messages.push_back(call.first);
    return messages;
  }
  int CountOf(UINT message) const {
    const std::vector<UINT> messages = Messages();
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
  }
  // The thread of the last call with `message`; 0 when there was none.
  DWORD ThreadOf(UINT message) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(calls_.rbegin(), calls_.rend(),
                           [&](const auto& call) { return call.first == message; });
    return it == calls_.rend() ? 0 : it->second;
  }

  HWND hwnd = nullptr;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcA(hwnd, message, wparam, lparam);
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->calls_.emplace_back(message, GetCurrentThreadId());
    }
    if (self->handler_) return self->handler_(hwnd, message, wparam, lparam);
    return DefWindowProcA(hwnd, message, wparam, lparam);
  }

  Handler handler_;
  mutable std::mutex mutex_;
  std::vector<std::pair<UINT, DWORD>> calls_;  // message and thread; guarded by mutex_
};

// Removes every message waiting for the calling thread.
inline void Drain() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

}  // namespace opossvc::test

#endif  // OPOSSVC_TESTS_PLATFORM_USER_WINDOW_HELPERS_H_
