// Power state from the modem lines: the input thread's watch and
// GetPowerState share the last reported state of each line under PortLock,
// so a state that a service object has read is not reported to it again.
//
// A modem status that cannot be read (the device is gone) counts as every
// line off, never as whatever an unread status word would hold.
#include <opossvc/portdrv.h>
#include <opossvc/svcbase.h>

#include "platform/internal/serial_port.h"
#include "portdrv/client_list.h"
#include "portdrv/critical_section_lock.h"
#include "portdrv/line_mode.h"

using opossvc::detail::CriticalSectionLock;
using opossvc::detail::Line;

DWORD CPortdrv::ModemStatus() {
  DWORD status = 0;
  if (PortHandle == nullptr || PortHandle->ModemStatus(&status) != 0) return 0;
  return status;
}

int CPortdrv::WatchLines(PowerChange changes[2]) {
  const opossvc::detail::WatchedLines watched =
      opossvc::detail::WatchedLinesFor(HandShake, Hydra.load(std::memory_order_relaxed));
  int count = 0;
  for (int i = 0; i < watched.count; ++i) {
    const bool cts = watched.lines[i] == Line::kCts;
    const LONG state = cts ? CtsState : DsrState;
    LONG& reported = cts ? CtsReported : DsrReported;
    if (state == reported) continue;
    if (reported != -1) changes[count++] = {state, reported};
    reported = state;
  }
  return count;
}

bool CPortdrv::ReportPower(DWORD session, const PowerChange* changes, int count) {
  for (int i = 0; i < count; ++i) {
    for (CSvcBase* svc : ClientArray->Distinct()) {
      if (InputStopped(session)) return false;
      if (!ClientArray->Enter(svc, true)) continue;
      svc->PowerReport(2, changes[i].newState, changes[i].oldState);
      ClientArray->Leave();
    }
  }
  return !InputStopped(session);
}

int CPortdrv::GetPowerState(long line) {
  if (line != 1 && line != 2) return 0;
  if (PortOpened.load() == 0) return 0;
  CriticalSectionLock port(&PortLock);
  if (PortHandle == nullptr) return 0;
  const DWORD status = ModemStatus();
  if (line == 1) {
    CtsReported = (status & MS_CTS_ON) != 0 ? 1 : 0;
    return CtsReported;
  }
  DsrReported = (status & MS_DSR_ON) != 0 ? 1 : 0;
  return DsrReported;
}
