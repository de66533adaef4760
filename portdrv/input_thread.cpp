// The input thread: each pass reads and clears the port's error state, reads
// the modem lines, runs input flow control and the power-line watch (all in
// one PortLock section, so that GetPowerState and the watch see the lines in
// one order), then delivers what has arrived.
//
// The thread polls: besides the bytes it watches the modem lines and the
// line errors, which raise no event here, so a pass follows at least every
// "InputSleep" ms; it reads the port only when the error state showed bytes
// waiting (or could not be read). A device that has neither (a
// pseudo-terminal) leaves nothing to poll for: while input is not held
// back, the pause lasts until bytes arrive or the port closes or fails. The pause between passes ends as soon as bytes arrive, and
// is left out after a pass that filled the read buffer, or that read while
// input is held back (so that the line comes back as soon as the queue has
// drained). PortClose ends the pause by clearing the port's event mask.
// While the device is gone, a pass is an attempt to open it again
// (device_loss.cpp).
#include <algorithm>
#include <cstring>
#include <vector>

#include <opossvc/portdrv.h>
#include <opossvc/svcbase.h>
#include <opossvc/win32/errors.h>

#include "platform/internal/serial_port.h"
#include "portdrv/client_list.h"
#include "portdrv/critical_section_lock.h"
#include "portdrv/line_mode.h"

using opossvc::detail::CriticalSectionLock;
using opossvc::detail::SerialPort;

void CPortdrv::PortInputProc() {
  const DWORD session = Session.load();
  // The buffers were made by PortOpen; from here they are this thread's own.
  InputBuffers buffers;
  buffers.block.swap(ReadBuffer);
  buffers.copy.swap(DeliveryBuffer);
  ReopenPause = InputSleep.load(std::memory_order_relaxed);
  InputThreadStarted.store(1);
  if (InputStopped(session) || buffers.block.empty()) return;
  while (InputPass(session, &buffers)) {
  }
}

bool CPortdrv::InputStopped(DWORD session) const {
  return InputStop.load(std::memory_order_relaxed) != 0 ||
         Session.load(std::memory_order_relaxed) != session;
}

bool CPortdrv::InputPass(DWORD session, InputBuffers* buffers) {
  if (DeviceGone.load() != 0) return AwaitDevice(session);
  DWORD errors = 0;
  bool errorsRead = false;
  PowerChange changes[2];
  int changeCount = 0;
  std::shared_ptr<SerialPort> device;
  bool held = false;
  bool watched = true;
  DWORD queued = 0;
  {
    CriticalSectionLock port(&PortLock);
    device = PortHandle;
    if (PortHandle != nullptr) {
      COMSTAT stat = {};
      const DWORD cleared = PortHandle->ClearError(&errors, &stat);
      errorsRead = cleared == 0;
      queued = stat.cbInQue;
      NoteDeviceLoss(cleared);
      const DWORD status = ModemStatus();
      DsrState = (status & MS_DSR_ON) != 0 ? 1 : 0;
      CtsState = (status & MS_CTS_ON) != 0 ? 1 : 0;
      opossvc::detail::InputFlowState flow{InputFull, RtsRaised};
      const DWORD change =
          opossvc::detail::InputFlowStep(HandShake, errorsRead ? stat.cbInQue : 0, LowWater,
                                         HighWater, Enabled != 0, CtsState != 0, &flow);
      InputFull = flow.inputFull;
      RtsRaised = flow.rtsRaised;
      if (change != 0) PortHandle->Escape(change);
      held = InputFull != 0;
      watched = LinesWatched != 0;
      changeCount = WatchLines(changes);
    }
  }
  if (!ReportPower(session, changes, changeCount)) return false;
  if (DeviceGone.load() != 0) return ReportLoss(session);

  const bool lineError = errorsRead && errors != 0;
  if (lineError && !ErrorLoop(session, buffers)) return false;

  // A receive queue found empty is not read: what arrives meanwhile ends the
  // wait below at once and is read by the next pass. An idle port then costs
  // one look at its state and one wait per pass.
  DWORD count = 0;
  const bool empty = errorsRead && !lineError && queued == 0;
  if (!empty && ReadInput(buffers, &count) && count != 0 &&
      !Deliver(session, buffers, count, false)) {
    return false;
  }
  if (InputStopped(session)) return false;
  if (DeviceGone.load() != 0) return ReportLoss(session);
  if (count < buffers->block.size() && !(held && count != 0)) {
    AwaitInput(device.get(), InputSleep.load(std::memory_order_relaxed), !watched && !held);
  }
  return !InputStopped(session);
}

// Without PortLock, which the other threads need meanwhile. The port stays
// open: it is closed only after this thread has ended, or, when a
// notification of this thread closed the port, after its pass saw the stop.
void CPortdrv::AwaitInput(SerialPort* device, DWORD ms, bool unbounded) {
  ms = std::max<DWORD>(ms, 1);
  DWORD events = 0;
  if (device != nullptr && device->WaitInput(unbounded ? INFINITE : ms, &events) == 0) return;
  // No wait on the port (it is closing, or failing): a plain pause, which
  // the stop ends.
  Pause(StopEvent, ms);
}

bool CPortdrv::ErrorLoop(DWORD session, InputBuffers* buffers) {
  for (;;) {
    DWORD count = 0;
    ReadInput(buffers, &count);
    if (!Deliver(session, buffers, count, true)) return false;
    if (InputStopped(session)) return false;
    DWORD errors = 0;
    bool errorsRead = false;
    {
      CriticalSectionLock port(&PortLock);
      COMSTAT stat = {};
      const DWORD cleared = PortHandle != nullptr ? PortHandle->ClearError(&errors, &stat)
                                                  : static_cast<DWORD>(ERROR_INVALID_HANDLE);
      errorsRead = cleared == 0;
      NoteDeviceLoss(cleared);
    }
    if (!errorsRead || errors == 0) return true;
    // A line that keeps failing is read at the pace of the normal passes.
    if (Pause(StopEvent, InputSleep.load(std::memory_order_relaxed))) return false;
  }
}

bool CPortdrv::ReadInput(InputBuffers* buffers, DWORD* count) {
  *count = 0;
  CriticalSectionLock port(&PortLock);
  if (PortHandle == nullptr) return false;
  const DWORD size = static_cast<DWORD>(buffers->block.size());
  const DWORD error = PortHandle->Read(buffers->block.data(), size, count);
  NoteDeviceLoss(error);
  const bool ok = error == 0;
  *count = std::min(*count, size);
  return ok;
}

bool CPortdrv::Deliver(DWORD session, InputBuffers* buffers, DWORD count, bool lineError) {
  for (CSvcBase* svc : ClientArray->Distinct()) {
    if (InputStopped(session)) return false;
    if (!ClientArray->Enter(svc, true)) continue;  // closed meanwhile
    if (lineError) svc->PortError(0);
    // Each client gets the block as read, whatever an earlier one did to it;
    // and none after its PortClose, even one made from its PortError.
    if (!lineError || (ClientArray->Contains(svc) && !InputStopped(session))) {
      std::memcpy(buffers->copy.data(), buffers->block.data(), count);
      svc->DataUpdate(buffers->copy.data(), static_cast<long>(count));
    }
    ClientArray->Leave();
  }
  std::fill(buffers->block.begin(), buffers->block.end(), 0);
  std::fill(buffers->copy.begin(), buffers->copy.end(), 0);
  return true;
}

long CPortdrv::ClearCommInputBuffer() {
  if (PortOpened.load() == 0) return OPOSSVC_E_NOT_CLIENT;
  CriticalSectionLock port(&PortLock);
  if (PortHandle == nullptr) return OPOSSVC_E_NOT_CLIENT;
  return PortHandle->Purge(PURGE_RXCLEAR) == 0 ? 0 : OPOSSVC_E_PORT_CALL;
}
