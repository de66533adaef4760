// The line modes: how "HandShake" (0 to 4) and the Hydra flag use the
// control lines. Pure functions of the settings; the driver applies them.
#ifndef OPOSSVC_PORTDRV_LINE_MODE_H_
#define OPOSSVC_PORTDRV_LINE_MODE_H_

#include <opossvc/win32/comm.h>
#include <opossvc/win32/types.h>

#include "portdrv/port_settings.h"

namespace opossvc::detail {

// Fills the DCB read from the port with the settings (HandShake already
// after the variant): rate, data bits, parity, stop bits, the mode's output
// flow and DTR/RTS control, XON/XOFF, and the fixed fields. Fields the
// settings do not speak of stay as read, except that a line the mode leaves
// as the port had it is raised when an earlier user left it under the port's
// handshake. Returns whether the mode leaves RTS raised at open.
bool ApplyLineSettings(const PortSettings& settings, DCB* dcb);

// The output flow bits of the mode (for a record sent under flow control):
// both with Hydra, CTS in mode 1, DSR in mode 2, none in the others.
void SetOutputFlow(LONG handShake, LONG hydra, DCB* dcb);
void ClearOutputFlow(DCB* dcb);

// Whether the device may be sent a flow-controlled record, from the modem
// status word (MS_CTS_ON, MS_DSR_ON).
bool DeviceReady(LONG handShake, LONG hydra, DWORD modemStatus);

// The line changes of PortEnabled, in order (EscapeCommFunction codes, 0 for
// none), and whether it raises or drops the RTS that the driver tracks.
struct EnableLines {
  DWORD first = 0;
  DWORD second = 0;
  bool tracksRts = false;
};
EnableLines EnableLinesFor(LONG handShake, LONG hydra, bool enable);

// The marks of input flow control: a quarter and three quarters of the
// receive queue, which is "InputBuf" unless the port's own queue is smaller
// (`portQueue`, 0 when unknown), since the count of waiting bytes can never
// pass what the port holds.
struct WaterMarks {
  DWORD low = 0;
  DWORD high = 0;
};
WaterMarks WaterMarksFor(LONG inputBuf, DWORD portQueue);

// One pass of input flow control. `queued` is the receive queue; the state
// is updated and the line change to make is returned (an
// EscapeCommFunction code, 0 for none).
struct InputFlowState {
  LONG inputFull = 0;
  LONG rtsRaised = 0;
};
DWORD InputFlowStep(LONG handShake, DWORD queued, DWORD lowWater, DWORD highWater, bool enabled,
                    bool cts, InputFlowState* state);

// The power lines watched in a mode, in report order.
enum class Line { kCts, kDsr };
struct WatchedLines {
  int count = 0;
  Line lines[2] = {Line::kCts, Line::kCts};
};
WatchedLines WatchedLinesFor(LONG handShake, LONG hydra);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PORTDRV_LINE_MODE_H_
