// The line modes of the driver (see portdrv.h for the table).
#include "portdrv/line_mode.h"

#include <algorithm>
#include <cstdint>

namespace opossvc::detail {
namespace {

// XonLim and XoffLim are 16-bit: a larger receive queue saturates them.
WORD Limit16(int64_t value) { return static_cast<WORD>(std::min<int64_t>(value, 0xFFFF)); }

// A line left "as the port had it" but under the port's own handshake, from an
// earlier user of the port, is raised instead: the mode does its own flow
// control, a handshake refuses the driver's EscapeCommFunction on the line,
// and on a termios port an RTS handshake brings CTS output flow with it.
void ReleaseDtr(DCB* dcb) {
  if (dcb->fDtrControl == DTR_CONTROL_HANDSHAKE) dcb->fDtrControl = DTR_CONTROL_ENABLE;
}
void ReleaseRts(DCB* dcb) {
  if (dcb->fRtsControl == RTS_CONTROL_HANDSHAKE) dcb->fRtsControl = RTS_CONTROL_ENABLE;
}

}  // namespace

bool ApplyLineSettings(const PortSettings& settings, DCB* dcb) {
  dcb->BaudRate = BaudRateAt(settings.Baudrate).bitsPerSecond;
  dcb->ByteSize = DataBitsAt(settings.BitLength);
  dcb->Parity = ParityAt(settings.Parity);
  dcb->StopBits = StopBitsAt(settings.Stop);

  if (settings.Hydra != 0) {
    dcb->fOutxCtsFlow = 1;
    dcb->fOutxDsrFlow = 1;
    dcb->fDtrControl = DTR_CONTROL_ENABLE;
    dcb->fRtsControl = RTS_CONTROL_ENABLE;
  } else {
    switch (settings.HandShake) {
      case 1:
        dcb->fOutxCtsFlow = 1;
        dcb->fOutxDsrFlow = 0;
        dcb->fRtsControl = RTS_CONTROL_ENABLE;
        ReleaseDtr(dcb);
        break;
      case 2:
        dcb->fOutxCtsFlow = 0;
        dcb->fOutxDsrFlow = 1;
        dcb->fDtrControl = DTR_CONTROL_ENABLE;
        ReleaseRts(dcb);
        break;
      case 3:
        dcb->fOutxCtsFlow = 0;
        dcb->fOutxDsrFlow = 0;
        dcb->fRtsControl = RTS_CONTROL_ENABLE;
        ReleaseDtr(dcb);
        break;
      case 4:
        dcb->fOutxCtsFlow = 0;
        dcb->fOutxDsrFlow = 0;
        dcb->fDtrControl = DTR_CONTROL_ENABLE;
        ReleaseRts(dcb);
        break;
      default:
        dcb->fOutxCtsFlow = 0;
        dcb->fOutxDsrFlow = 0;
        dcb->fDtrControl = DTR_CONTROL_ENABLE;
        dcb->fRtsControl = RTS_CONTROL_ENABLE;
        break;
    }
  }

  if (settings.XonXoff == 1) {
    dcb->fOutX = 1;
    dcb->fInX = 1;
    dcb->XonLim = Limit16(settings.InputBuf / 4);
    dcb->XoffLim = Limit16(static_cast<int64_t>(settings.InputBuf) * 3 / 4);
  } else {
    // The device's previous state may have software flow control on; left
    // so, every XON and XOFF byte of the data would be swallowed.
    dcb->fOutX = 0;
    dcb->fInX = 0;
  }

  dcb->ErrorChar = 0;
  dcb->EvtChar = 0;
  dcb->EofChar = 0;
  dcb->fNull = 0;
  dcb->fBinary = 1;
  dcb->fAbortOnError = 1;
  dcb->fParity = settings.Parity != 0 ? 1 : 0;
  return dcb->fRtsControl == RTS_CONTROL_ENABLE;
}

// Also for the modes without output flow, whose bits are off already, unless
// a further client's "SHydra" has just taken the port out of the Hydra mode.
void SetOutputFlow(LONG handShake, LONG hydra, DCB* dcb) {
  dcb->fOutxCtsFlow = hydra != 0 || handShake == 1 ? 1 : 0;
  dcb->fOutxDsrFlow = hydra != 0 || handShake == 2 ? 1 : 0;
}

void ClearOutputFlow(DCB* dcb) {
  dcb->fOutxCtsFlow = 0;
  dcb->fOutxDsrFlow = 0;
}

bool DeviceReady(LONG handShake, LONG hydra, DWORD modemStatus) {
  const bool cts = (modemStatus & MS_CTS_ON) != 0;
  const bool dsr = (modemStatus & MS_DSR_ON) != 0;
  if (handShake == 0) return true;
  if (hydra != 0) return cts && dsr;
  if (handShake == 1) return cts;
  if (handShake == 2) return dsr;
  return true;
}

EnableLines EnableLinesFor(LONG handShake, LONG hydra, bool enable) {
  EnableLines lines;
  if (hydra != 0) {
    lines.first = enable ? SETDTR : CLRDTR;
    lines.second = enable ? SETRTS : CLRRTS;
  } else if (handShake == 1) {
    lines.first = enable ? SETRTS : CLRRTS;
    lines.tracksRts = true;
  } else if (handShake == 2) {
    lines.first = enable ? SETDTR : CLRDTR;
  }
  return lines;
}

WaterMarks WaterMarksFor(LONG inputBuf, DWORD portQueue) {
  DWORD queue = static_cast<DWORD>(inputBuf);
  if (portQueue != 0) queue = std::min(queue, portQueue);
  return {queue / 4, static_cast<DWORD>(static_cast<uint64_t>(queue) * 3 / 4)};
}

DWORD InputFlowStep(LONG handShake, DWORD queued, DWORD lowWater, DWORD highWater, bool enabled,
                    bool cts, InputFlowState* state) {
  if (handShake < 1 || handShake > 3) return 0;
  DWORD change = 0;
  if (queued > highWater && state->inputFull == 0) {
    state->inputFull = 1;
    if (handShake == 1) change = CLRRTS;
    if (handShake == 2) change = CLRDTR;
  } else if (state->inputFull == 1 && enabled && queued < lowWater) {
    state->inputFull = 0;
    if (handShake == 1) change = SETRTS;
    if (handShake == 2) change = SETDTR;
  }
  if (handShake != 3) return change;

  // Mode 3: RTS follows CTS while the port is enabled and input is not held.
  const bool up = cts && enabled && state->inputFull == 0;
  if (up && state->rtsRaised == 0) {
    state->rtsRaised = 1;
    return SETRTS;
  }
  if (!up && state->rtsRaised == 1) {
    state->rtsRaised = 0;
    return CLRRTS;
  }
  return 0;
}

WatchedLines WatchedLinesFor(LONG handShake, LONG hydra) {
  WatchedLines watched;
  switch (handShake) {
    case 1:
    case 3:
      watched.count = 1;
      watched.lines[0] = Line::kCts;
      break;
    case 2:
      watched.count = 1;
      watched.lines[0] = Line::kDsr;
      break;
    default:
      if (hydra != 0) {
        watched.count = 2;
        watched.lines[0] = Line::kDsr;
        watched.lines[1] = Line::kCts;
      }
      break;
  }
  return watched;
}

}  // namespace opossvc::detail
