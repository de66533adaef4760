// EventThread: a service object's event thread, from open to close.
//
// While a service object is open, a thread of its own runs
// CSvcBase::ProcessEvents, which sends each deliverable event to the
// object's window and waits for the handler. Closing has to clear m_bOpened
// and then wait for that thread while the window's thread keeps handling
// the messages sent to it, or the two threads wait for each other.
// EventThread does both, so that a close is one call:
//
//   long CMySO::Open(const char* cls, const char* dev, IDispatch* co) {
//     if (OpenInit(cls, dev, co, OPOSSVC_EM_ALL_EVENTS, FALSE) != OPOS_SUCCESS)
//       return m_lResultCode;
//     m_bDeliverEvents = 1;
//     if (!m_events.Start(*this)) return m_lResultCode = OPOS_E_FAILURE;
//     return m_lResultCode;
//   }
//   long CMySO::Close() {
//     ... release the device: PortClose, so that no driver thread queues more
//     m_events.Stop();
//     return OPOS_SUCCESS;
//   }
//
// Start and Stop run on the window's thread (the thread that made the
// service object). Destroy the EventThread, or call Stop, before the service
// object is destroyed, and not from inside one of its event handlers.
#ifndef OPOSSVC_EVENT_THREAD_H_
#define OPOSSVC_EVENT_THREAD_H_

#include <opossvc/afx/winthread.h>
#include <opossvc/export.h>
#include <opossvc/svcbase.h>
#include <opossvc/win32/types.h>

namespace opossvc {

class OPOSSVC_API EventThread {
 public:
  EventThread() = default;
  // Stops the thread (see Stop).
  ~EventThread();
  EventThread(const EventThread&) = delete;
  EventThread& operator=(const EventThread&) = delete;

  // Sets so.m_bOpened and starts a thread that runs so.ProcessEvents().
  // False, with GetLastError, when no thread could start (m_bOpened is then
  // cleared again), or when this object's thread is still running
  // (ERROR_BUSY): one EventThread serves one open at a time.
  bool Start(CSvcBase& so);

  // Clears m_bOpened, waits until ProcessEvents has returned while handling
  // the messages sent to this thread, and removes the records left in the
  // queue, so that events of a closed session never reach the application
  // and the next open starts afresh; the string of a direct-I/O record is
  // freed as its delivery would have freed it. Returns the number of records
  // that ProcessEvents took; 0 when no thread runs.
  //
  // Called while this thread handles a sent message (an event handler that
  // closes the device, for one), it cannot wait, for the sender may be the
  // event thread itself. It then clears m_bOpened and empties the queue, so
  // that nothing is delivered once the handler has returned, and returns 0;
  // the thread is waited for by the next Start or Stop, or the destructor.
  UINT Stop();

  // Whether a thread was started and has not been waited for.
  bool IsRunning() const { return thread_ != nullptr; }

 private:
  // Waits for the thread while handling sent messages, then lets it go.
  UINT Join();

  // All three belong to the window's thread.
  CWinThread* thread_ = nullptr;  // not auto-deleted: Join deletes it
  CSvcBase* so_ = nullptr;
  bool stopping_ = false;  // Stop could not wait
};

}  // namespace opossvc

#endif  // OPOSSVC_EVENT_THREAD_H_
