// The line-mode rules as pure functions: DCB set-up, ready test, watched power lines and input
// flow control at the water marks.
#include "portdrv/line_mode.h"

#include <string>
#include <tuple>

#include <gtest/gtest.h>

namespace opossvc::detail {
namespace {

PortSettings Settings(LONG handShake, LONG hydra) {
  return {.Baudrate = 6, .BitLength = 1, .Parity = 0, .Stop = 0, .HandShake = handShake,
          .XonXoff = 0, .InputBuf = 1024, .OutputBuf = 512, .Hydra = hydra};
}

// A DCB as a port might report it before the driver touches it: DTR and RTS off, so that "left as
// the port had it" is visible; or both under the port's handshake, with the output flow and
// XON/XOFF of an earlier user.
DCB PortDcb(bool handshakes = false) {
  DCB dcb = {};
  dcb.fDtrControl = handshakes ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = handshakes ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
  dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = handshakes ? 1 : 0;
  dcb.fNull = 1;
  dcb.ErrorChar = 'E';
  dcb.EofChar = 26;
  return dcb;
}

TEST(LineMode, DcbOfEachMode) {
  struct Case {
    LONG handShake, hydra;
    bool handshakes;  // the port had them
    unsigned cts, dsr, dtr, rts;
    bool rtsRaised;
  } cases[] = {
      {0, 0, false, 0, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, true},
      {1, 0, false, 1, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, true},
      {2, 0, false, 0, 1, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, false},
      {3, 0, false, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, true},
      {4, 0, false, 0, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, false},
      {2, 1, false, 1, 1, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, true},
      // A line the mode leaves is not left under a handshake: on a termios port RTS handshake is
      // CTS output flow too, and a handshake refuses the driver's own EscapeCommFunction on its
      // line.
      {1, 0, true, 1, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, true},
      {2, 0, true, 0, 1, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, true},
      {3, 0, true, 0, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, true},
      {4, 0, true, 0, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "HandShake " << c.handShake << " Hydra " << c.hydra
                                      << " handshakes " << c.handshakes);
    DCB dcb = PortDcb(c.handshakes);
    EXPECT_EQ(ApplyLineSettings(Settings(c.handShake, c.hydra), &dcb), c.rtsRaised);
    EXPECT_EQ(std::tuple(+dcb.fOutxCtsFlow, +dcb.fOutxDsrFlow, +dcb.fDtrControl, +dcb.fRtsControl),
              std::tuple(c.cts, c.dsr, c.dtr, c.rts));
    // Binary, errors abort I/O, no character replaced or dropped, no XON/XOFF left on.
    EXPECT_EQ(std::tuple(+dcb.fBinary, +dcb.fAbortOnError, +dcb.fNull, +dcb.fOutX, +dcb.fInX),
              std::tuple(1u, 1u, 0u, 0u, 0u));
    EXPECT_EQ(std::tuple(dcb.ErrorChar, dcb.EofChar), std::tuple(0, 0));
  }
}

TEST(LineMode, XonXoffLimitsSaturateTheirSixteenBits) {
  PortSettings s = Settings(0, 0);
  s.XonXoff = 1;
  for (const auto& [inputBuf, xon, xoff] :
       {std::tuple<LONG, WORD, WORD>{1024, 256, 768}, {0x7FFFFFFF, 0xFFFF, 0xFFFF}}) {
    s.InputBuf = inputBuf;
    DCB dcb = PortDcb();
    ApplyLineSettings(s, &dcb);
    EXPECT_EQ(std::tuple(+dcb.fOutX, +dcb.fInX, dcb.XonLim, dcb.XoffLim),
              std::tuple(1u, 1u, xon, xoff));
  }
}

// Whether a flow-controlled record may go, and the power lines watched, in report order.
TEST(LineMode, ReadyTestAndWatchedLines) {
  std::tuple<LONG, LONG, bool, bool, bool, bool, const char*> cases[] = {
      {0, 0, true, true, true, true, ""},     {1, 0, false, true, false, true, "C"},
      {2, 0, false, false, true, true, "D"},  {3, 0, true, true, true, true, "C"},
      {4, 0, true, true, true, true, ""},     {0, 1, true, true, true, true, "DC"},
      {1, 1, false, false, false, true, "C"}, {4, 1, false, false, false, true, "DC"},
  };
  for (const auto& [handShake, hydra, none, cts, dsr, both, expected_watched] : cases) {
    SCOPED_TRACE(::testing::Message() << "HandShake " << handShake << " Hydra " << hydra);
    EXPECT_EQ(std::tuple(DeviceReady(handShake, hydra, 0), DeviceReady(handShake, hydra, MS_CTS_ON),
                         DeviceReady(handShake, hydra, MS_DSR_ON),
                         DeviceReady(handShake, hydra, MS_CTS_ON | MS_DSR_ON)),
              std::tuple(none, cts, dsr, both));
    const WatchedLines lines = WatchedLinesFor(handShake, hydra);
    std::string watched;
    for (int i = 0; i < lines.count; ++i) watched += lines.lines[i] == Line::kCts ? 'C' : 'D';
    EXPECT_EQ(watched, expected_watched);
  }
}

// InputBuf 1024: LowWater 256, HighWater 768; the comparisons are strict. In mode 3 RTS also
// follows CTS.
TEST(LineMode, InputFlowAtTheWaterMarks) {
  const std::tuple<LONG, DWORD, DWORD> modes[] = {{1, CLRRTS, SETRTS}, {2, CLRDTR, SETDTR}};
  for (const auto& [handShake, drop, raise] : modes) {
    const std::tuple<DWORD, bool, DWORD, LONG> steps[] = {
        {768, true, 0, 0}, {769, true, drop, 1}, {769, true, 0, 1},
        {256, true, 0, 1}, {255, false, 0, 1},   {255, true, raise, 0},
    };
    InputFlowState state;
    for (const auto& [queued, enabled, change, inputFull] : steps) {
      EXPECT_EQ(InputFlowStep(handShake, queued, 256, 768, enabled, true, &state), change)
          << handShake << " " << queued;
      EXPECT_EQ(state.inputFull, inputFull) << handShake << " " << queued;
    }
  }
  const std::tuple<DWORD, bool, bool, DWORD> mode3[] = {
      {0, true, true, 0},                                  // raised at open
      {0, true, false, CLRRTS},                            // CTS dropped
      {0, true, false, 0},       {0, true, true, SETRTS},  // CTS back
      {800, true, true, CLRRTS},                           // input held back
      {300, true, true, 0},      {100, true, true, SETRTS},
  };
  InputFlowState state{0, 1};
  for (const auto& [queued, enabled, cts, change] : mode3) {
    EXPECT_EQ(InputFlowStep(3, queued, 256, 768, enabled, cts, &state), change)
        << queued << enabled << cts;
  }
}

}  // namespace
}  // namespace opossvc::detail
