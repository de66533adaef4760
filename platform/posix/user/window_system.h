// The process's windows, window classes and per-thread message queues.
//
// Everything here is guarded by g_wait_lock (the wait machinery's lock), so
// that MsgWaitForMultipleObjects can wait for "a message arrived, or one of
// these handles was signalled" in one wait. Window procedures, hooks and
// anything else that runs caller code are always called with no lock held.
//
// A thread waiting for its own queue alone (GetMessageA, or a send waiting
// for its reply) waits on the queue's one condition variable; whoever makes
// the queue ready wakes it through QueueWakeup once g_wait_lock is released,
// so that the woken thread does not at once block on the lock its waker
// still holds.
//
// A cross-thread send is a SentMessage put in the target thread's queue; the
// sender waits for it to be done (and serves sends made to it in the
// meantime). The target runs it inside GetMessageA / PeekMessageA / its own
// send. A message whose window is gone, or whose thread ended, completes with
// result 0 and `failed` set. SentMessage objects are kept by their sender's
// queue and used again once done, so that a send allocates nothing.
#ifndef OPOSSVC_PLATFORM_POSIX_USER_WINDOW_SYSTEM_H_
#define OPOSSVC_PLATFORM_POSIX_USER_WINDOW_SYSTEM_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/messages.h>
#include <opossvc/win32/types.h>

#include "platform/posix/kernel/thread_state.h"
#include "platform/posix/kernel/wait.h"

namespace opossvc::detail {

struct WindowClass {
  ATOM atom = 0;
  std::string name;  // as registered
  UINT style = 0;
  WNDPROC proc = nullptr;
  int cls_extra = 0;
  int wnd_extra = 0;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
  int windows = 0;  // live windows of the class
};

struct Window {
  HWND hwnd = nullptr;
  DWORD thread_id = 0;  // owner thread
  std::shared_ptr<WindowClass> cls;
  WNDPROC proc = nullptr;
  HWND parent = nullptr;
  HINSTANCE instance = nullptr;
  LONG_PTR id = 0;  // HMENU of a child
  LONG_PTR user_data = 0;
  DWORD style = 0;
  DWORD ex_style = 0;
  RECT rect{};
  std::string text;
  std::vector<unsigned char> extra;  // cbWndExtra bytes
  bool destroying = false;           // DestroyWindow has begun
};

class MessageQueue;
class QueueWakeup;

// A message sent to a window of another thread, awaiting its reply. The
// sender fills in the message before it queues it; the target reads those
// fields while it runs the message and not after it is done, when the sender
// may use the object for its next send.
class SentMessage {
 public:
  enum class State { kQueued, kRunning, kDone };

  // Completes the message; its sender is woken through `wakeup`.
  void Complete(LRESULT value, bool did_fail, QueueWakeup& wakeup) OPOSSVC_REQUIRES(g_wait_lock);

  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
  std::weak_ptr<MessageQueue> sender;  // the queue of the sending thread
  State state OPOSSVC_GUARDED_BY(g_wait_lock) = State::kDone;
  LRESULT result OPOSSVC_GUARDED_BY(g_wait_lock) = 0;
  bool failed OPOSSVC_GUARDED_BY(g_wait_lock) = false;
};

struct Hook {
  HHOOK handle;
  HOOKPROC proc;
};

// One thread's message queue. As a Waitable it is ready when the thread has
// something to do for the current wait (see WaitMode); only its own thread
// waits on it.
class MessageQueue final : public Waitable,
                           public ThreadExitObserver,
                           public std::enable_shared_from_this<MessageQueue> {
 public:
  // Win32's quota of posted messages per queue.
  static constexpr size_t kMaxPosted = 10000;

  enum class WaitMode {
    kSentOnly,  // a message is being sent to this thread
    kFilter,    // GetMessageA: a sent message, or a posted one (or quit) the filter takes
    kWakeMask,  // MsgWaitForMultipleObjects: the wake mask's conditions
  };

  explicit MessageQueue(DWORD thread_id) : thread_id(thread_id) {}

  bool Ready() override OPOSSVC_REQUIRES(g_wait_lock);
  Grant Take() override OPOSSVC_REQUIRES(g_wait_lock) { return Grant::kSignaled; }
  void OnThreadExit() override OPOSSVC_EXCLUDES(g_wait_lock);

  // The first posted message that the filter takes, or posted_.end().
  std::deque<MSG>::iterator FindPosted(HWND hwnd, UINT first, UINT last)
      OPOSSVC_REQUIRES(g_wait_lock);
  bool QuitMatches(HWND hwnd, UINT first, UINT last) const OPOSSVC_REQUIRES(g_wait_lock);
  // Appends a posted message and wakes the owner through `wakeup`; false
  // with the last error set when the queue is gone or full.
  bool Post(const MSG& msg, QueueWakeup& wakeup) OPOSSVC_REQUIRES(g_wait_lock);
  // A message object for a send of the owner thread: one of its own that is
  // done, or a new one.
  std::shared_ptr<SentMessage> NewSend() OPOSSVC_REQUIRES(g_wait_lock);

  // The owner thread's one condition wait, for its messages and for the
  // replies to its sends; QueueWakeup notifies it.
  std::condition_variable wake;

  const DWORD thread_id;
  bool dead OPOSSVC_GUARDED_BY(g_wait_lock) = false;
  std::deque<MSG> posted OPOSSVC_GUARDED_BY(g_wait_lock);
  std::deque<std::shared_ptr<SentMessage>> incoming OPOSSVC_GUARDED_BY(g_wait_lock);
  bool quit OPOSSVC_GUARDED_BY(g_wait_lock) = false;
  int quit_code OPOSSVC_GUARDED_BY(g_wait_lock) = 0;
  // A message was posted (or quit requested) since the thread last looked
  // at the queue with PeekMessageA or GetMessageA.
  bool posted_since_look OPOSSVC_GUARDED_BY(g_wait_lock) = false;
  std::vector<Hook> hooks OPOSSVC_GUARDED_BY(g_wait_lock);  // newest last

  // What the owner thread is waiting for; set by it before each wait.
  WaitMode mode OPOSSVC_GUARDED_BY(g_wait_lock) = WaitMode::kSentOnly;
  HWND filter_hwnd OPOSSVC_GUARDED_BY(g_wait_lock) = nullptr;
  UINT filter_first OPOSSVC_GUARDED_BY(g_wait_lock) = 0;
  UINT filter_last OPOSSVC_GUARDED_BY(g_wait_lock) = 0;
  DWORD wake_mask OPOSSVC_GUARDED_BY(g_wait_lock) = 0;
  bool input_available OPOSSVC_GUARDED_BY(g_wait_lock) = false;

  // Depth of cross-thread sent messages being handled; owner thread only.
  int in_send = 0;

 private:
  static constexpr size_t kKeptSends = 8;
  // The owner thread's send objects, for reuse once done (NewSend).
  std::vector<std::shared_ptr<SentMessage>> sends_ OPOSSVC_GUARDED_BY(g_wait_lock);
};

// Wakes the owners of message queues once g_wait_lock is released. Declared
// before the MutexLock on g_wait_lock of a scope, it outlives the lock, and it keeps
// the queue alive until it wakes it.
class QueueWakeup {
 public:
  QueueWakeup() = default;
  ~QueueWakeup();
  QueueWakeup(const QueueWakeup&) = delete;
  QueueWakeup& operator=(const QueueWakeup&) = delete;

  // Wakes the threads that wait on the queue through the generic wait
  // (MsgWaitForMultipleObjects) now, and its owner's condition wait when
  // this object goes; a second queue's owner is woken at once.
  void Add(std::shared_ptr<MessageQueue> queue) OPOSSVC_REQUIRES(g_wait_lock);

 private:
  std::shared_ptr<MessageQueue> queue_;
};

// The registry of windows, classes and queues.
class WindowSystem {
 public:
  static WindowSystem& Get();

  std::shared_ptr<Window> LookupWindow(HWND hwnd) OPOSSVC_REQUIRES(g_wait_lock);
  HWND AddWindow(std::shared_ptr<Window> window) OPOSSVC_REQUIRES(g_wait_lock);
  void RemoveWindow(HWND hwnd) OPOSSVC_REQUIRES(g_wait_lock);
  std::vector<std::shared_ptr<Window>> WindowsWhere(bool (*match)(const Window&, const void*),
                                                    const void* arg) OPOSSVC_REQUIRES(g_wait_lock);

  std::shared_ptr<WindowClass> FindClass(LPCSTR name_or_atom) OPOSSVC_REQUIRES(g_wait_lock);
  // False with ERROR_CLASS_ALREADY_EXISTS.
  bool AddClass(std::shared_ptr<WindowClass> cls) OPOSSVC_REQUIRES(g_wait_lock);
  // False with ERROR_CLASS_DOES_NOT_EXIST or ERROR_CLASS_HAS_WINDOWS.
  bool RemoveClass(LPCSTR name_or_atom) OPOSSVC_REQUIRES(g_wait_lock);

  std::shared_ptr<MessageQueue> FindQueue(DWORD thread_id) OPOSSVC_REQUIRES(g_wait_lock);
  void AddQueue(const std::shared_ptr<MessageQueue>& queue) OPOSSVC_REQUIRES(g_wait_lock);
  void RemoveQueue(DWORD thread_id) OPOSSVC_REQUIRES(g_wait_lock);

  HHOOK NextHookHandle() OPOSSVC_REQUIRES(g_wait_lock);

 private:
  WindowSystem() = default;

  // Handles count up in steps of 2 from 0x10000 and are never reused.
  uintptr_t next_hwnd_ OPOSSVC_GUARDED_BY(g_wait_lock) = 0x10000;
  uintptr_t next_hook_ OPOSSVC_GUARDED_BY(g_wait_lock) = 0x20000;
  ATOM next_atom_ OPOSSVC_GUARDED_BY(g_wait_lock) = 0xC000;
  std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows_ OPOSSVC_GUARDED_BY(g_wait_lock);
  std::map<std::string, std::shared_ptr<WindowClass>> classes_
      OPOSSVC_GUARDED_BY(g_wait_lock);  // by folded name
  std::unordered_map<DWORD, std::weak_ptr<MessageQueue>> queues_ OPOSSVC_GUARDED_BY(g_wait_lock);
};

// The calling thread's queue, made on first use.
std::shared_ptr<MessageQueue> CurrentQueue() OPOSSVC_EXCLUDES(g_wait_lock);

// Runs the messages that other threads are sending to the calling thread,
// until none is left. Whether there was any.
bool DeliverSentMessages(MessageQueue& queue) OPOSSVC_EXCLUDES(g_wait_lock);

// Sends to a window of another thread; see SendMessageTimeoutA. Returns
// whether the message was handled, with its result.
bool SendToOtherThread(const std::shared_ptr<Window>& window, UINT message, WPARAM wparam,
                       LPARAM lparam, UINT flags, DWORD timeout, LRESULT* result)
    OPOSSVC_EXCLUDES(g_wait_lock);

// Calls the window's current procedure on the calling thread (its owner).
LRESULT CallProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
    OPOSSVC_EXCLUDES(g_wait_lock);

// Whether a window message number lies in a PeekMessageA-style filter.
bool InRange(UINT message, UINT first, UINT last);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_USER_WINDOW_SYSTEM_H_
