// The output queue and the output thread.
//
// PortOutputData copies a record into the queue and wakes the thread if it
// waits. The thread writes the front record in chunks of half the transmit
// queue while it holds QueueLock (so queueing and clearing wait for the
// record being written), taking PortLock once per record, for its flow
// control and the ready test, but not around the writes (see WriteChunk). A
// write that makes no progress is tried once more after "Timeout" ms; a
// second one times the record out: it stays at the front with the bytes not
// yet written. The thread waits on an event rather than polling: while the
// queue is empty until a record is queued or the port closes, and while a
// flow-controlled record is held back for the line at most "IdleSleep" ms
// (the modem lines raise no event here).
#include <algorithm>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include <opossvc/portdrv.h>
#include <opossvc/svcbase.h>
#include <opossvc/win32/errors.h>

#include "platform/internal/serial_port.h"
#include "portdrv/client_list.h"
#include "portdrv/critical_section_lock.h"
#include "portdrv/line_mode.h"
#include "portdrv/output_queue.h"

using opossvc::detail::CountedCriticalSectionLock;
using opossvc::detail::CriticalSectionLock;
using opossvc::detail::OutputRecord;
using opossvc::detail::SerialPort;

long CPortdrv::PortOutputData(BSTR* data, long errorCode, CSvcBase* svc, int immediate,
                              int handshake, long outputId) {
  if (PortOpened.load() == 0) return OPOSSVC_E_NOT_CLIENT;
  if (data == nullptr) return OPOSSVC_E_PORT_CALL;
  return PortOutputData(reinterpret_cast<const char*>(*data), SysStringByteLen(*data), errorCode,
                        svc, immediate, handshake, outputId);
}

long CPortdrv::PortOutputData(const char* data, unsigned long length, long errorCode,
                              CSvcBase* svc, int immediate, int handshake, long outputId) {
  if (PortOpened.load() == 0) return OPOSSVC_E_NOT_CLIENT;
  if (DeviceGone.load() != 0) return OPOS_E_NOHARDWARE;
  const DWORD size = static_cast<DWORD>(length);
  if (data == nullptr && size != 0) return OPOSSVC_E_PORT_CALL;
  if (handshake != 0 && !PrepareHandshake()) return OPOSSVC_E_NOT_READY;
  std::string bytes;
  try {
    if (size != 0) bytes.assign(data, size);
  } catch (const std::bad_alloc&) {
    return OPOSSVC_E_PORT_CALL;
  }
  return QueueRecord(std::move(bytes), errorCode, svc, immediate, handshake, outputId);
}

bool CPortdrv::PrepareHandshake() {
  CriticalSectionLock port(&PortLock);
  if (PortHandle == nullptr) return true;  // closing: queueing refuses
  if (HandshakeDisabled != 0) {
    EnableHandshake();
    HandshakeDisabled = 0;
  }
  return DeviceReadyLocked();
}

long CPortdrv::QueueRecord(std::string&& bytes, long errorCode, CSvcBase* svc, int immediate,
                           int handshake, long outputId) {
  bool wake = false;
  {
    CountedCriticalSectionLock queue(&QueueLock, &QueueWaiters, &QueueYielding, QueueEntered);
    if (QueueOpen == 0) return OPOSSVC_E_NOT_CLIENT;
    OutputRecord record;
    record.svc = svc;
    record.errorCode = opossvc::Long32(errorCode);
    record.handshake = handshake;
    record.outputId = opossvc::Long32(outputId);
    record.bytes = std::move(bytes);
    try {
      if (immediate != 0) {
        Queue->InsertImmediate(std::move(record), OutputBusy != 0);
      } else {
        Queue->Append(std::move(record));
      }
    } catch (const std::bad_alloc&) {
      return OPOSSVC_E_PORT_CALL;
    }
    if (handshake == 0) DemotionDone = 0;
    OutputPending = 1;
    wake = OutputWaiting != 0;
    OutputWaiting = 0;
  }
  // One wake-up per wait of the thread; while it drains the queue it finds
  // the record by itself.
  if (wake) SetEvent(OutputWake);
  return 0;
}

long CPortdrv::ClearOutputBuffer(CSvcBase* svc) {
  if (PortOpened.load() == 0) return OPOSSVC_E_NOT_CLIENT;
  if (svc == nullptr) return OPOSSVC_E_NO_SERVICE;
  CountedCriticalSectionLock queue(&QueueLock, &QueueWaiters, &QueueYielding, QueueEntered);
  const long result = ClearNoImmOutputBuffer(svc);
  if (svc == CurrentSvc) {
    CriticalSectionLock port(&PortLock);
    if (PortHandle != nullptr) PortHandle->Purge(PURGE_TXCLEAR);
  }
  return result;
}

long CPortdrv::ClearNoImmOutputBuffer(CSvcBase* svc) {
  // A record held at the front after a time-out may go too; the next front
  // record is not being written.
  if (Queue->RemoveAllOf(svc)) OutputBusy = 0;
  return 0;
}

void CPortdrv::RemoveArrayAt(int index) {
  Queue->RemoveAt(static_cast<size_t>(index));
  if (index == 0) OutputBusy = 0;
}

void CPortdrv::EnableHandshake() {
  opossvc::detail::SetOutputFlow(HandShake, Hydra.load(std::memory_order_relaxed), &Dcb);
  if (PortHandle != nullptr) PortHandle->SetState(Dcb);
}

void CPortdrv::DisableHandshake() {
  opossvc::detail::ClearOutputFlow(&Dcb);
  if (PortHandle != nullptr) PortHandle->SetState(Dcb);
}

long CPortdrv::Minimum(long a, long b) { return a < b ? a : b; }

bool CPortdrv::OutputStopped(DWORD session) const {
  return OutputStop.load(std::memory_order_relaxed) != 0 ||
         Session.load(std::memory_order_relaxed) != session;
}

void CPortdrv::YieldToQueueWaiters(DWORD session) {
  // Each waiter is about to take the lock, which this thread does not hold,
  // so the wait ends without a stop of its own.
  while (QueueWaiters.load() != 0 && !OutputStopped(session)) {
    ResetEvent(QueueEntered);
    QueueYielding.store(1);
    if (QueueWaiters.load() != 0) WaitForSingleObject(QueueEntered, INFINITE);
    QueueYielding.store(0);
  }
}

bool CPortdrv::Pause(HANDLE event, DWORD ms) {
  return WaitForSingleObject(event, std::max<DWORD>(ms, 1)) == WAIT_OBJECT_0;
}

void CPortdrv::PortOutputProc() {
  const DWORD session = Session.load();
  OutputThreadStarted.store(1);
  WriteStalled = 0;
  while (!OutputStopped(session)) {
    bool work = false;
    YieldToQueueWaiters(session);
    {
      CriticalSectionLock queue(&QueueLock);
      if (OutputPending != 0) {
        work = !Queue->empty();
        if (!work) OutputPending = 0;
      }
      OutputWaiting = work ? 0 : 1;
    }
    if (!work) {
      // Nothing else to watch while idle: the next record or the close ends
      // the wait.
      WaitForSingleObject(OutputWake, INFINITE);
      continue;
    }
    for (;;) {
      const PassResult result = OutputPass(session);
      if (result == PassResult::kStop) return;
      if (result == PassResult::kDrained) break;
      if (result == PassResult::kHeld) {
        // Waiting for the line: a new record (which may need the demotion)
        // or the stop wakes the thread early.
        Pause(OutputWake, IdleSleep.load(std::memory_order_relaxed));
      }
      if (OutputStopped(session)) return;
    }
  }
}

CPortdrv::PassResult CPortdrv::OutputPass(DWORD session) {
  if (OutputStopped(session)) return PassResult::kStop;
  OutputNotice notice;
  PassResult result;
  YieldToQueueWaiters(session);
  {
    CriticalSectionLock queue(&QueueLock);
    result = WriteFront(session, &notice);
    // The end of the inner loop, tested while the lock is held anyway: a
    // record that the notification below queues sets OutputPending again.
    if (result == PassResult::kDone && Queue->empty()) {
      OutputPending = 0;
      result = PassResult::kDrained;
    }
    // Marked before the queue lock goes, so that a PortClose of the record's
    // service object either sees the record or waits for this notification.
    if (notice.svc != nullptr) ClientArray->Enter(notice.svc, false);
  }
  if (notice.svc == nullptr) return result;
  if (notice.complete) {
    notice.svc->OutputDataComplete(notice.value);
  } else {
    notice.svc->PortError(notice.value);
  }
  ClientArray->Leave();
  return result;
}

CPortdrv::PassResult CPortdrv::WriteFront(DWORD session, OutputNotice* notice) {
  OutputWaiting = 0;
  if (Queue->empty()) return PassResult::kDone;
  // The records wait for the device to come back (device_loss.cpp).
  if (DeviceGone.load() != 0) return PassResult::kHeld;
  OutputRecord& record = Queue->front();

  // The record's one PortLock section: its flow control, the port for its
  // writes and, for a stalled flow-controlled record, the ready test.
  const bool holdBack = record.handshake != 0 && WriteStalled != 0 && HandShake != 0;
  bool ready = true;
  std::shared_ptr<SerialPort> device;
  {
    CriticalSectionLock port(&PortLock);
    if (record.handshake == 0 && HandshakeDisabled == 0) {
      DisableHandshake();
      HandshakeDisabled = 1;
    } else if (record.handshake != 0 && HandshakeDisabled != 0) {
      EnableHandshake();
      HandshakeDisabled = 0;
    }
    if (holdBack && DemotionDone != 0) ready = DeviceReadyLocked();
    device = PortHandle;
  }

  if (holdBack) {
    if (DemotionDone == 0) {
      Queue->Demote();
      DemotionDone = 1;
      return PassResult::kDone;
    }
    if (!ready) {
      OutputWaiting = 1;  // a record queued meanwhile may need the demotion
      return PassResult::kHeld;
    }
  }

  OutputBusy = 1;
  CSvcBase* const svc = record.svc;
  const LONG errorCode = record.errorCode;
  const LONG outputId = record.outputId;
  const LONG handshake = record.handshake;
  CurrentSvc = svc;

  const size_t size = record.bytes.size();
  const long half = OutputBuf / 2;
  size_t offset = 0;
  bool timedOut = false;
  WriteStalled = 0;
  while (offset < size) {
    if (OutputStopped(session)) {
      record.bytes.erase(0, offset);
      return PassResult::kStop;
    }
    const long chunk = Minimum(half, static_cast<long>(size - offset));
    bool lost = false;
    const DWORD written =
        WriteChunk(device.get(), record.bytes.data() + offset, static_cast<DWORD>(chunk), &lost);
    offset += written;
    if (lost) {
      // No time-out: the rest is written once the device is back.
      record.bytes.erase(0, offset);
      return PassResult::kHeld;
    }
    if (written != 0) {
      WriteStalled = 0;
    } else if (WriteStalled != 0) {
      timedOut = true;
      break;
    } else {
      WriteStalled = 1;
      Pause(StopEvent, Timeout.load(std::memory_order_relaxed));
    }
  }

  if (!timedOut) {
    RemoveArrayAt(0);
    if (svc != nullptr) *notice = {svc, true, outputId};
    return PassResult::kDone;
  }
  if (offset > 0) record.bytes.erase(0, offset);
  if (DemotionDone == 0) {
    Queue->Demote();
    DemotionDone = 1;
  } else if (svc != nullptr && handshake != 0 && errorCode != 0) {
    // Reported once: the record completes later with the identifier 0.
    record.outputId = 0;
    record.errorCode = 0;
    *notice = {svc, false, errorCode};
  }
  return PassResult::kDone;
}

// The write itself runs without PortLock: held back by flow control it may
// take its whole time-out, and the input thread must go on reading, holding
// input back and watching the lines meanwhile. The port, taken under
// PortLock once per record, stays open: it is closed only after this thread
// has ended, and the only other calls that act on the transmit side
// (ClearOutputBuffer's purge) need QueueLock, which this thread holds.
DWORD CPortdrv::WriteChunk(SerialPort* device, const char* data, DWORD size, bool* lost) {
  if (device == nullptr) return 0;
  DWORD written = 0;
  *lost = device->Write(data, size, &written) == ERROR_DEVICE_NOT_CONNECTED;
  return std::min(written, size);
}

bool CPortdrv::DeviceReadyLocked() {
  if (PortHandle == nullptr || HandShake == 0) return true;
  DWORD status = 0;
  if (PortHandle->ModemStatus(&status) != 0) return true;
  return opossvc::detail::DeviceReady(HandShake, Hydra.load(std::memory_order_relaxed), status);
}
