#include <opossvc/testing/message_pump.h>

#include <chrono>
#include <exception>
#include <future>
#include <stdexcept>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>

namespace opossvc::testing {
namespace {

constexpr char kClassName[] = "opossvc.testing.MessagePump";
// Sent (wait for it) or posted (do not) with lParam a std::function<void()>*;
// a posted one is owned by the message.
constexpr UINT kRunSent = WM_USER + 1;
constexpr UINT kRunPosted = WM_USER + 2;
// How often PumpUntil re-checks its predicate when no message arrives.
constexpr DWORD kPredicateSlice = 2;

LRESULT CALLBACK PumpWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kRunSent:
      (*reinterpret_cast<const std::function<void()>*>(lparam))();
      return 0;
    case kRunPosted: {
      std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lparam));
      (*task)();
      return 0;
    }
    default:
      return DefWindowProcA(hwnd, message, wparam, lparam);
  }
}

bool RegisterPumpClass() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &PumpWindowProc;
  wc.lpszClassName = kClassName;
  return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void DispatchOne(const MSG& msg) {
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

}  // namespace

MessagePump::MessagePump() {
  // The thread owns the promise, so that it outlives set_value.
  std::promise<std::pair<DWORD, HWND>> ready;
  std::future<std::pair<DWORD, HWND>> started = ready.get_future();
  thread_ = std::thread([this, ready = std::move(ready)]() mutable {
    HWND hwnd = nullptr;
    if (RegisterPumpClass()) {
      hwnd = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    }
    ready.set_value({GetCurrentThreadId(), hwnd});
    if (hwnd != nullptr) Loop();
  });
  std::pair<DWORD, HWND> ids = started.get();
  thread_id_ = ids.first;
  hwnd_ = ids.second;
  if (hwnd_ == nullptr) {
    thread_.join();
    throw std::runtime_error("MessagePump: cannot create its window");
  }
}

MessagePump::~MessagePump() { Stop(); }

void MessagePump::Loop() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchOne(msg);
  // Leftover posted tasks own their closures.
  while (PeekMessageA(&msg, hwnd_, kRunPosted, kRunPosted, PM_REMOVE)) {
    delete reinterpret_cast<std::function<void()>*>(msg.lParam);
  }
  DestroyWindow(hwnd_);
}

void MessagePump::RunTask(const std::function<void()>& task) {
  std::exception_ptr error;
  std::function<void()> guarded = [&] {
    try {
      task();
    } catch (...) {
      error = std::current_exception();
    }
  };
  DWORD_PTR ignored = 0;
  if (!SendMessageTimeoutA(hwnd_, kRunSent, 0, reinterpret_cast<LPARAM>(&guarded), SMTO_NORMAL,
                           INFINITE, &ignored)) {
    throw std::runtime_error("MessagePump: the pump thread has stopped");
  }
  if (error) std::rethrow_exception(error);
}

bool MessagePump::Post(std::function<void()> fn) {
  auto task = std::make_unique<std::function<void()>>(std::move(fn));
  if (!PostMessageA(hwnd_, kRunPosted, 0, reinterpret_cast<LPARAM>(task.get()))) return false;
  task.release();  // owned by the message now
  return true;
}

void MessagePump::Stop() {
  if (!thread_.joinable()) return;
  PostThreadMessageA(thread_id_, WM_QUIT, 0, 0);
  thread_.join();
}

bool MessagePump::PumpUntil(const std::function<bool()>& pred, DWORD timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the real loop
        return pred();
      }
      DispatchOne(msg);
      if (pred()) return true;
    }
    if (pred()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const DWORD slice = left < kPredicateSlice ? static_cast<DWORD>(left) : kPredicateSlice;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
  }
}

void MessagePump::PumpPending() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    DispatchOne(msg);
  }
}

}  // namespace opossvc::testing
