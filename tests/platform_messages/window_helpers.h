// Windows that record the calls of their window procedure, for tests.
#ifndef OPOSSVC_TESTS_PLATFORM_MESSAGES_WINDOW_HELPERS_H_
#define OPOSSVC_TESTS_PLATFORM_MESSAGES_WINDOW_HELPERS_H_

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include <opossvc/win32/messages.h>

namespace opossvc::test {

using Handler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// A window of the creating thread. Every call of its procedure is logged;
// `handler`, when given, answers it (DefWindowProcA otherwise).
class TestWindow {
 public:
  explicit TestWindow(Handler handler = nullptr, HWND parent = nullptr, DWORD style = 0);
  // Destroys the window when it still exists and belongs to this thread.
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  struct Call {
    UINT message;
    WPARAM wparam;
    DWORD thread;
  };
  std::vector<Call> Calls() const;
  int CountOf(UINT message) const;
  // Waits until the procedure has been called with `message`.
  bool WaitForCall(UINT message, DWORD timeout_ms = 10000) const;

  HWND hwnd = nullptr;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  Handler handler_;
  mutable std::mutex mutex_;
  mutable std::condition_variable called_;
  std::vector<Call> calls_;  // guarded by mutex_
};

// Removes every message waiting for the calling thread.
void Drain();

}  // namespace opossvc::test

#endif  // OPOSSVC_TESTS_PLATFORM_MESSAGES_WINDOW_HELPERS_H_
