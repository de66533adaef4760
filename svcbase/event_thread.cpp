#include <opossvc/event_thread.h>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/messages.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/threads.h>

#include "svcbase/delivery_flags.h"
#include "svcbase/direct_io_string.h"

namespace opossvc {
namespace {

UINT RunEvents(LPVOID so) { return static_cast<CSvcBase*>(so)->ProcessEvents(); }

bool HasEnded(HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

// Empties the queue, freeing the string of each direct-I/O record as its
// delivery would have. Records are taken one at a time, each in one locked
// step, so an event thread that has not yet ended takes none of them twice.
void DropQueued(COposEvent& queue) {
  ULONG_PTR type = 0, data1 = 0, data2 = 0, data3 = 0;
  while (queue.GetFirstData(&type, &data1, &data2, &data3, TRUE)) {
    if (type == OPOS_EVENT_DIRECTIO) detail::FreeDirectIOString(data3);
  }
}

}  // namespace

EventThread::~EventThread() { Stop(); }

bool EventThread::Start(CSvcBase& so) {
  if (thread_ != nullptr) {
    // A stop that could not wait is completed here, once it can be.
    if (!stopping_ || (InSendMessage() && !HasEnded(thread_->m_hThread))) {
      SetLastError(ERROR_BUSY);
      return false;
    }
    Join();
  }
  detail::StoreFlag(so.m_bOpened, LONG{1});
  // Suspended until it is no longer auto-deleted, so that Join may wait on it.
  CWinThread* thread = AfxBeginThread(&RunEvents, &so, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
  if (thread == nullptr) {
    detail::StoreFlag(so.m_bOpened, LONG{0});
    return false;
  }
  thread->m_bAutoDelete = FALSE;
  thread->ResumeThread();
  thread_ = thread;
  so_ = &so;
  stopping_ = false;
  return true;
}

UINT EventThread::Stop() {
  if (thread_ == nullptr) return 0;
  detail::StoreFlag(so_->m_bOpened, LONG{0});
  so_->m_Event.WakeWaiter();
  UINT taken = 0;
  if (InSendMessage() && !HasEnded(thread_->m_hThread)) {
    stopping_ = true;
  } else {
    taken = Join();
  }
  DropQueued(so_->m_Event);
  return taken;
}

UINT EventThread::Join() {
  // The event thread may be inside a send to the window: keep handling sent
  // messages until it has ended.
  HANDLE handle = thread_->m_hThread;
  while (MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE) ==
         WAIT_OBJECT_0 + 1) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  }
  DWORD taken = 0;
  GetExitCodeThread(handle, &taken);
  delete thread_;
  thread_ = nullptr;
  stopping_ = false;
  return taken;
}

}  // namespace opossvc
