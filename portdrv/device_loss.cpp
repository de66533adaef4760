// The loss of the device and its return, on the input thread.
//
// A device that goes away (a USB adapter unplugged, a terminal hung up) makes every call on its
// port fail with ERROR_DEVICE_NOT_CONNECTED. The input thread notices it on its next pass (its
// read of the error state or of the bytes fails so), and tells each client once: the watched
// power lines go off (PowerReport) and PortError(OPOS_E_NOHARDWARE) follows. While the device is
// gone, PortOutputData refuses records with OPOS_E_NOHARDWARE, the output thread holds the
// records already queued, GetPowerState reads every line off, and PortEnabled only records the
// state it is to find the lines in.
//
// Meanwhile the input thread opens the port again by its COM name, at first after "InputSleep"
// ms and then at doubling intervals up to kLongestReopenPause, so that a till whose device stays
// unplugged is not kept busy. When the same device is back it gets the port's settings (the
// line parameters and the output flow of the moment, the queues, the time-outs, the lines of
// PortEnabled), replaces the dead port, and input and output go on; the watched power lines
// coming on are reported as they are at any other pass.
#include <algorithm>
#include <memory>
#include <utility>

#include <opossvc/portdrv.h>
#include <opossvc/svcbase.h>
#include <opossvc/win32/errors.h>

#include "platform/internal/serial_port.h"
#include "portdrv/client_list.h"
#include "portdrv/critical_section_lock.h"
#include "portdrv/line_mode.h"

using opossvc::detail::CriticalSectionLock;
using opossvc::detail::SerialPort;

namespace {

constexpr DWORD kLongestReopenPause = 1000;

}  // namespace

void CPortdrv::NoteDeviceLoss(DWORD error) {
  if (error == ERROR_DEVICE_NOT_CONNECTED) DeviceGone.store(1);
}

bool CPortdrv::ReportLoss(DWORD session) {
  PowerChange changes[2];
  int count = 0;
  {
    CriticalSectionLock port(&PortLock);
    DsrState = 0;
    CtsState = 0;
    count = WatchLines(changes);
  }
  if (!ReportPower(session, changes, count)) return false;
  for (CSvcBase* svc : ClientArray->Distinct()) {
    if (InputStopped(session)) return false;
    if (!ClientArray->Enter(svc, true)) continue;
    svc->PortError(OPOS_E_NOHARDWARE);
    ClientArray->Leave();
  }
  ReopenPause = InputSleep.load(std::memory_order_relaxed);
  return !InputStopped(session);
}

bool CPortdrv::AwaitDevice(DWORD session) {
  if (Pause(StopEvent, ReopenPause) || InputStopped(session)) return false;
  if (Reopen()) {
    ReopenPause = InputSleep.load(std::memory_order_relaxed);
  } else {
    ReopenPause = std::min(std::max<DWORD>(ReopenPause, 1) * 2, kLongestReopenPause);
  }
  return !InputStopped(session);
}

bool CPortdrv::Reopen() {
  std::unique_ptr<SerialPort> opened;
  if (opossvc::detail::OpenSerialPort(PortName, &opened) != 0) return false;
  std::shared_ptr<SerialPort> device = std::move(opened);
  std::shared_ptr<SerialPort> dead;
  {
    CriticalSectionLock port(&PortLock);
    if (SetUpDevice(*device, Dcb) != 0) return false;
    RtsRaised = Dcb.fRtsControl == RTS_CONTROL_ENABLE || Dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    if (Enabled == 0) {
      const opossvc::detail::EnableLines lines =
          opossvc::detail::EnableLinesFor(HandShake, Hydra.load(std::memory_order_relaxed), false);
      if (lines.first != 0) device->Escape(lines.first);
      if (lines.second != 0) device->Escape(lines.second);
      if (lines.tracksRts) RtsRaised = 0;
    }
    InputFull = 0;
    dead = std::exchange(PortHandle, device);
    DeviceGone.store(0);
  }
  if (dead != nullptr) dead->Close();
  return true;
}
