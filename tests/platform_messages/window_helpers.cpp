#include "tests/platform_messages/window_helpers.h"

#include <algorithm>
#include <chrono>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/threads.h>

namespace opossvc::test {
namespace {

constexpr char kClassName[] = "opossvc.test.Recorder";

// The object being created on this thread, until WM_NCCREATE stores it.
thread_local TestWindow* t_creating = nullptr;

}  // namespace

TestWindow::TestWindow(Handler handler, HWND parent, DWORD style) : handler_(std::move(handler)) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &TestWindow::Proc;
  wc.lpszClassName = kClassName;
  RegisterClassA(&wc);  // once per process; later calls fail harmlessly
  t_creating = this;
  hwnd = CreateWindowExA(0, kClassName, "test", style, 0, 0, 10, 10, parent, nullptr, nullptr,
                         nullptr);
  t_creating = nullptr;
}

TestWindow::~TestWindow() {
  if (IsWindow(hwnd) && GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(hwnd);
  }
}

LRESULT CALLBACK TestWindow::Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr && t_creating != nullptr) {
    self = t_creating;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self == nullptr) return DefWindowProcA(hwnd, message, wparam, lparam);
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->calls_.push_back(Call{message, wparam, GetCurrentThreadId()});
  }
  self->called_.notify_all();
  if (self->handler_) return self->handler_(hwnd, message, wparam, lparam);
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

std::vector<TestWindow::Call> TestWindow::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

int TestWindow::CountOf(UINT message) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [&](const Call& c) { return c.message == message; }));
}

bool TestWindow::WaitForCall(UINT message, DWORD timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return called_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return std::any_of(calls_.begin(), calls_.end(),
                       [&](const Call& c) { return c.message == message; });
  });
}

void Drain() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

}  // namespace opossvc::test
