#include "platform/posix/user/window_system.h"

#include <algorithm>
#include <chrono>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/sync.h>

namespace opossvc::detail {
namespace {

std::string FoldClassName(const char* name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

bool IsAtom(LPCSTR name) { return reinterpret_cast<uintptr_t>(name) <= 0xFFFF; }

bool ThreadMatches(const Window& window, const void* thread_id) {
  return window.thread_id == *static_cast<const DWORD*>(thread_id);
}

// Completes a sent message with 0 if its handler leaves by an exception, so
// that the sender is released whatever happens.
class SentMessageGuard {
 public:
  SentMessageGuard(std::shared_ptr<SentMessage> message, MessageQueue& queue)
      : message_(std::move(message)), queue_(queue) {
    ++queue_.in_send;
  }
  ~SentMessageGuard() {
    --queue_.in_send;
    if (done_) return;
    QueueWakeup wakeup;
    MutexLock lock(g_wait_lock);
    message_->Complete(0, true, wakeup);
  }
  void Finish(LRESULT result) {
    QueueWakeup wakeup;
    MutexLock lock(g_wait_lock);
    message_->Complete(result, false, wakeup);
    done_ = true;
  }
  SentMessageGuard(const SentMessageGuard&) = delete;
  SentMessageGuard& operator=(const SentMessageGuard&) = delete;

 private:
  std::shared_ptr<SentMessage> message_;
  MessageQueue& queue_;
  bool done_ = false;
};

}  // namespace

bool InRange(UINT message, UINT first, UINT last) {
  if (first == 0 && last == 0) return true;
  if (first > last) return message >= first || message <= last;
  return message >= first && message <= last;
}

// ---- SentMessage ----------------------------------------------------------

void SentMessage::Complete(LRESULT value, bool did_fail, QueueWakeup& wakeup) {
  if (state == State::kDone) return;
  result = value;
  failed = did_fail;
  state = State::kDone;
  if (std::shared_ptr<MessageQueue> queue = sender.lock()) wakeup.Add(std::move(queue));
}

// ---- QueueWakeup ------------------------------------------------------------

QueueWakeup::~QueueWakeup() {
  if (queue_) queue_->wake.notify_one();
}

void QueueWakeup::Add(std::shared_ptr<MessageQueue> queue) {
  queue->WakeWaiters();
  if (queue_ == queue) return;
  if (queue_) {
    queue->wake.notify_one();
    return;
  }
  queue_ = std::move(queue);
}

// ---- MessageQueue ---------------------------------------------------------

std::deque<MSG>::iterator MessageQueue::FindPosted(HWND hwnd, UINT first, UINT last) {
  const HWND thread_only = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
  return std::find_if(posted.begin(), posted.end(), [&](const MSG& msg) {
    if (hwnd == thread_only) {
      if (msg.hwnd != nullptr) return false;
    } else if (hwnd != nullptr && msg.hwnd != hwnd) {
      return false;
    }
    return InRange(msg.message, first, last);
  });
}

bool MessageQueue::QuitMatches(HWND hwnd, UINT first, UINT last) const {
  const HWND thread_only = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
  return quit && (hwnd == nullptr || hwnd == thread_only) && InRange(WM_QUIT, first, last);
}

bool MessageQueue::Post(const MSG& msg, QueueWakeup& wakeup) {
  if (dead) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return false;
  }
  if (posted.size() >= kMaxPosted) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return false;
  }
  posted.push_back(msg);
  posted_since_look = true;
  wakeup.Add(shared_from_this());
  return true;
}

std::shared_ptr<SentMessage> MessageQueue::NewSend() {
  for (const auto& send : sends_) {
    if (send->state == SentMessage::State::kDone) return send;
  }
  auto send = std::make_shared<SentMessage>();
  send->sender = shared_from_this();
  if (sends_.size() < kKeptSends) sends_.push_back(send);
  return send;
}

bool MessageQueue::Ready() {
  switch (mode) {
    case WaitMode::kSentOnly:
      return !incoming.empty();
    case WaitMode::kFilter:
      return !incoming.empty() ||
             FindPosted(filter_hwnd, filter_first, filter_last) != posted.end() ||
             QuitMatches(filter_hwnd, filter_first, filter_last);
    case WaitMode::kWakeMask:
      if ((wake_mask & QS_SENDMESSAGE) != 0 && !incoming.empty()) return true;
      if ((wake_mask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) == 0) return false;
      return input_available ? (!posted.empty() || quit) : posted_since_look;
  }
  return false;
}

void MessageQueue::OnThreadExit() {
  std::vector<std::shared_ptr<Window>> gone;
  {
    QueueWakeup wakeup;
    MutexLock lock(g_wait_lock);
    WindowSystem& system = WindowSystem::Get();
    dead = true;
    for (const auto& message : incoming) message->Complete(0, true, wakeup);
    incoming.clear();
    posted.clear();
    hooks.clear();
    const DWORD id = thread_id;
    gone = system.WindowsWhere(&ThreadMatches, &id);
    for (const auto& window : gone) system.RemoveWindow(window->hwnd);
    system.RemoveQueue(thread_id);
  }
}

// ---- WindowSystem ---------------------------------------------------------

WindowSystem& WindowSystem::Get() {
  // Never destroyed: threads may end, and windows be used, during exit.
  static WindowSystem* system = new WindowSystem;
  return *system;
}

std::shared_ptr<Window> WindowSystem::LookupWindow(HWND hwnd) {
  auto it = windows_.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == windows_.end() ? nullptr : it->second;
}

HWND WindowSystem::AddWindow(std::shared_ptr<Window> window) {
  next_hwnd_ += 2;
  window->hwnd = reinterpret_cast<HWND>(next_hwnd_);
  ++window->cls->windows;
  HWND hwnd = window->hwnd;
  windows_.emplace(next_hwnd_, std::move(window));
  return hwnd;
}

void WindowSystem::RemoveWindow(HWND hwnd) {
  auto it = windows_.find(reinterpret_cast<uintptr_t>(hwnd));
  if (it == windows_.end()) return;
  --it->second->cls->windows;
  windows_.erase(it);
}

std::vector<std::shared_ptr<Window>> WindowSystem::WindowsWhere(bool (*match)(const Window&,
                                                                              const void*),
                                                                const void* arg) {
  std::vector<std::shared_ptr<Window>> found;
  for (const auto& [key, window] : windows_) {
    if (match(*window, arg)) found.push_back(window);
  }
  // Creation order, so that callers act on windows predictably.
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a->hwnd < b->hwnd; });
  return found;
}

std::shared_ptr<WindowClass> WindowSystem::FindClass(LPCSTR name_or_atom) {
  if (name_or_atom == nullptr) return nullptr;
  if (IsAtom(name_or_atom)) {
    const ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name_or_atom));
    for (const auto& [name, cls] : classes_) {
      if (cls->atom == atom) return cls;
    }
    return nullptr;
  }
  auto it = classes_.find(FoldClassName(name_or_atom));
  return it == classes_.end() ? nullptr : it->second;
}

bool WindowSystem::AddClass(std::shared_ptr<WindowClass> cls) {
  std::string key = FoldClassName(cls->name.c_str());
  if (classes_.count(key) != 0) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return false;
  }
  cls->atom = next_atom_++;
  classes_.emplace(std::move(key), std::move(cls));
  return true;
}

bool WindowSystem::RemoveClass(LPCSTR name_or_atom) {
  std::shared_ptr<WindowClass> cls = FindClass(name_or_atom);
  if (!cls) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return false;
  }
  if (cls->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return false;
  }
  classes_.erase(FoldClassName(cls->name.c_str()));
  return true;
}

std::shared_ptr<MessageQueue> WindowSystem::FindQueue(DWORD thread_id) {
  auto it = queues_.find(thread_id);
  return it == queues_.end() ? nullptr : it->second.lock();
}

void WindowSystem::AddQueue(const std::shared_ptr<MessageQueue>& queue) {
  queues_[queue->thread_id] = queue;
}

void WindowSystem::RemoveQueue(DWORD thread_id) { queues_.erase(thread_id); }

HHOOK WindowSystem::NextHookHandle() {
  next_hook_ += 2;
  return reinterpret_cast<HHOOK>(next_hook_);
}

// ---- Queue access and sending -----------------------------------------------

std::shared_ptr<MessageQueue> CurrentQueue() {
  ThreadState& state = CurrentThreadState();
  if (state.message_queue) return std::static_pointer_cast<MessageQueue>(state.message_queue);
  auto queue = std::make_shared<MessageQueue>(state.thread_id);
  {
    MutexLock lock(g_wait_lock);
    WindowSystem::Get().AddQueue(queue);
  }
  state.message_queue = queue;
  return queue;
}

bool DeliverSentMessages(MessageQueue& queue) {
  for (bool any = false;; any = true) {
    std::shared_ptr<SentMessage> message;
    WNDPROC proc = nullptr;
    {
      QueueWakeup wakeup;
      MutexLock lock(g_wait_lock);
      if (queue.incoming.empty()) return any;
      message = std::move(queue.incoming.front());
      queue.incoming.pop_front();
      std::shared_ptr<Window> window = WindowSystem::Get().LookupWindow(message->hwnd);
      if (!window || window->thread_id != queue.thread_id) {
        message->Complete(0, true, wakeup);
        continue;
      }
      message->state = SentMessage::State::kRunning;
      proc = window->proc;
    }
    SentMessageGuard guard(message, queue);
    LRESULT result =
        CallWindowProcA(proc, message->hwnd, message->message, message->wparam, message->lparam);
    guard.Finish(result);
  }
}

bool SendToOtherThread(const std::shared_ptr<Window>& window, UINT message, WPARAM wparam,
                       LPARAM lparam, UINT flags, DWORD timeout, LRESULT* result) {
  using Clock = std::chrono::steady_clock;
  std::shared_ptr<MessageQueue> own = CurrentQueue();
  std::shared_ptr<MessageQueue> target;
  std::shared_ptr<SentMessage> sent;
  {
    QueueWakeup wakeup;
    MutexLock lock(g_wait_lock);
    target = WindowSystem::Get().FindQueue(window->thread_id);
    if (!target || target->dead) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    sent = own->NewSend();
    sent->hwnd = window->hwnd;
    sent->message = message;
    sent->wparam = wparam;
    sent->lparam = lparam;
    sent->state = SentMessage::State::kQueued;
    sent->result = 0;
    sent->failed = false;
    target->incoming.push_back(sent);
    wakeup.Add(target);
  }

  // The reply first; then the sends made to this thread meanwhile, unless
  // the caller blocks them.
  const bool serve_sends = (flags & SMTO_BLOCK) == 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout);
  for (;;) {
    {
      MutexLock lock(g_wait_lock);
      own->mode = MessageQueue::WaitMode::kSentOnly;
      for (;;) {
        if (sent->state == SentMessage::State::kDone) {
          *result = sent->result;
          if (sent->failed) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
          }
          return true;
        }
        if (serve_sends && !own->incoming.empty()) break;
        if (timeout == INFINITE) {
          g_wait_lock.Wait(own->wake);
        } else if (!g_wait_lock.WaitUntil(own->wake, deadline) &&
                   sent->state != SentMessage::State::kDone) {
          if (sent->state == SentMessage::State::kQueued) {
            auto& incoming = target->incoming;
            incoming.erase(std::remove(incoming.begin(), incoming.end(), sent), incoming.end());
            sent->state = SentMessage::State::kDone;  // nobody holds it now: free for reuse
          }
          SetLastError(ERROR_TIMEOUT);
          return false;
        }
      }
    }
    DeliverSentMessages(*own);
  }
}

LRESULT CallProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  WNDPROC proc = nullptr;
  {
    MutexLock lock(g_wait_lock);
    std::shared_ptr<Window> window = WindowSystem::Get().LookupWindow(hwnd);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    proc = window->proc;
  }
  return CallWindowProcA(proc, hwnd, message, wparam, lparam);
}

}  // namespace opossvc::detail
