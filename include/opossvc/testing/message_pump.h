// MessagePump: a window thread for tests.
//
// Objects that own windows (a CWnd, a service object derived from CSvcBase)
// must be made, used and destroyed on a thread that services its message
// queue, or messages sent to them from other threads never get an answer.
// A MessagePump is such a thread: it runs a GetMessageA loop until it is
// stopped, and runs code handed to it in between messages.
//
//   opossvc::testing::MessagePump pump;
//   auto so = pump.Create<CMyServiceObject>();      // made on the pump thread
//   pump.Run([&] { so->OpenInit(...); });           // runs there, caller waits
//   ... worker threads send messages to so's window; the pump serves them ...
//   // `so` is deleted on the pump thread when it goes out of scope.
//
// Code given to Run is delivered as a message sent to a hidden window of the
// pump, so it also runs while the pump thread is inside a nested message
// loop of its own (a message-pumping wait). An exception it throws is
// rethrown by Run on the calling thread.
//
// PumpUntil services the calling thread's own queue instead, for objects the
// test made on its own thread.
#ifndef OPOSSVC_TESTING_MESSAGE_PUMP_H_
#define OPOSSVC_TESTING_MESSAGE_PUMP_H_

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include <opossvc/win32/messages.h>
#include <opossvc/win32/types.h>

namespace opossvc::testing {

class MessagePump {
 public:
  // Starts the pump thread and returns once its window exists.
  MessagePump();
  // Stops the thread (see Stop).
  ~MessagePump();
  MessagePump(const MessagePump&) = delete;
  MessagePump& operator=(const MessagePump&) = delete;

  // Runs fn on the pump thread and returns its result; the calling thread
  // waits, handling messages sent to its own windows meanwhile. Throws
  // std::runtime_error when the pump has stopped.
  template <class F>
  std::invoke_result_t<F&> Run(F&& fn);

  // Queues fn to run on the pump thread's main loop and returns at once.
  // False when the pump has stopped.
  bool Post(std::function<void()> fn);

  // Makes a T on the pump thread; deleting it also happens there.
  struct Deleter {
    MessagePump* pump;
    template <class T>
    void operator()(T* object) const {
      pump->Run([object] { delete object; });
    }
  };
  template <class T, class... Args>
  std::unique_ptr<T, Deleter> Create(Args&&... args);

  // Ends the loop and joins the thread. Windows still alive on it are
  // destroyed with the thread. Idempotent.
  void Stop();

  DWORD thread_id() const { return thread_id_; }
  // The pump's own hidden window.
  HWND hwnd() const { return hwnd_; }

  // Dispatches the calling thread's messages until pred() holds (true) or
  // timeout_ms have passed (false). Checks pred() at least every few
  // milliseconds even when no message comes.
  static bool PumpUntil(const std::function<bool()>& pred, DWORD timeout_ms = 10000);
  // Dispatches every message already waiting for the calling thread.
  static void PumpPending();

 private:
  void Loop();
  void RunTask(const std::function<void()>& task);

  std::thread thread_;
  DWORD thread_id_ = 0;
  HWND hwnd_ = nullptr;
};

template <class F>
std::invoke_result_t<F&> MessagePump::Run(F&& fn) {
  using Result = std::invoke_result_t<F&>;
  if constexpr (std::is_void_v<Result>) {
    RunTask([&] { fn(); });
  } else {
    std::optional<Result> result;
    RunTask([&] { result.emplace(fn()); });
    return std::move(*result);
  }
}

template <class T, class... Args>
std::unique_ptr<T, MessagePump::Deleter> MessagePump::Create(Args&&... args) {
  T* object = Run([&] { return new T(std::forward<Args>(args)...); });
  return std::unique_ptr<T, Deleter>(object, Deleter{this});
}

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTING_MESSAGE_PUMP_H_
