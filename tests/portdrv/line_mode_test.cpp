// The line-mode rules as pure functions: DCB set-up, ready test and input
// flow control at the water marks.
#include "portdrv/line_mode.h"

#include <tuple>

#include <gtest/gtest.h>

namespace opossvc::detail {
namespace {

PortSettings Settings(LONG handShake, LONG hydra) {
  PortSettings s;
  s.Baudrate = 6;
  s.BitLength = 1;
  s.Parity = 0;
  s.Stop = 0;
  s.HandShake = handShake;
  s.XonXoff = 0;
  s.InputBuf = 1024;
  s.OutputBuf = 512;
  s.Hydra = hydra;
  return s;
}

// A DCB as a port might report it before the driver touches it: DTR and RTS
// off, so that "left as the port had it" is visible; or both under the port's
// handshake, with the output flow of an earlier user.
DCB PortDcb(bool handshakes = false) {
  DCB dcb = {};
  dcb.fDtrControl = handshakes ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = handshakes ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
  dcb.fOutxCtsFlow = handshakes ? 1 : 0;
  dcb.fOutxDsrFlow = handshakes ? 1 : 0;
  dcb.fNull = 1;
  dcb.ErrorChar = 'E';
  dcb.EofChar = 26;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
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
      {0, 1, false, 1, 1, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, true},
      {2, 1, false, 1, 1, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, true},
      // A line the mode leaves is not left under a handshake: on a termios
      // port RTS handshake is CTS output flow too, and a handshake refuses the
      // driver's own EscapeCommFunction on its line.
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
    EXPECT_EQ(dcb.fOutxCtsFlow, c.cts);
    EXPECT_EQ(dcb.fOutxDsrFlow, c.dsr);
    EXPECT_EQ(dcb.fDtrControl, c.dtr);
    EXPECT_EQ(dcb.fRtsControl, c.rts);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fAbortOnError, 1u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.ErrorChar, 0);
    EXPECT_EQ(dcb.EofChar, 0);
  }
}

TEST(LineMode, LineParametersFromTheTables) {
  struct Case {
    LONG baud, bits, parity, stop;
    DWORD rate;
    BYTE byteSize, dcbParity, stopBits;
    unsigned fParity;
  } cases[] = {
      {0, 0, 0, 0, 150, 7, NOPARITY, ONESTOPBIT, 0},
      {6, 1, 1, 1, 9600, 8, EVENPARITY, ONESTOPBIT, 1},  // 1 is even, stop 1 is one bit
      {11, 1, 2, 2, 115200, 8, ODDPARITY, TWOSTOPBITS, 1},
      {13, 1, 3, 0, 256000, 8, MARKPARITY, ONESTOPBIT, 1},
      {9, 0, 4, 0, 56000, 7, SPACEPARITY, ONESTOPBIT, 1},
  };
  for (const Case& c : cases) {
    PortSettings s = Settings(0, 0);
    s.Baudrate = c.baud;
    s.BitLength = c.bits;
    s.Parity = c.parity;
    s.Stop = c.stop;
    DCB dcb = PortDcb();
    ApplyLineSettings(s, &dcb);
    EXPECT_EQ(dcb.BaudRate, c.rate);
    EXPECT_EQ(dcb.ByteSize, c.byteSize);
    EXPECT_EQ(dcb.Parity, c.dcbParity);
    EXPECT_EQ(dcb.StopBits, c.stopBits);
    EXPECT_EQ(dcb.fParity, c.fParity);
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
    EXPECT_EQ(dcb.fOutX, 1u);
    EXPECT_EQ(dcb.fInX, 1u);
    EXPECT_EQ(dcb.XonLim, xon);
    EXPECT_EQ(dcb.XoffLim, xoff);
  }
}

TEST(LineMode, ReadyTest) {
  const DWORD none = 0, cts = MS_CTS_ON, dsr = MS_DSR_ON, both = MS_CTS_ON | MS_DSR_ON;
  struct Case {
    LONG handShake, hydra;
    bool none, cts, dsr, both;
  } cases[] = {
      {0, 0, true, true, true, true},   {1, 0, false, true, false, true},
      {2, 0, false, false, true, true}, {3, 0, true, true, true, true},
      {4, 0, true, true, true, true},   {0, 1, true, true, true, true},
      {1, 1, false, false, false, true}, {4, 1, false, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "HandShake " << c.handShake << " Hydra " << c.hydra);
    EXPECT_EQ(DeviceReady(c.handShake, c.hydra, none), c.none);
    EXPECT_EQ(DeviceReady(c.handShake, c.hydra, cts), c.cts);
    EXPECT_EQ(DeviceReady(c.handShake, c.hydra, dsr), c.dsr);
    EXPECT_EQ(DeviceReady(c.handShake, c.hydra, both), c.both);
  }
}

// InputBuf 1024: LowWater 256, HighWater 768; the comparisons are strict.
TEST(LineMode, InputFlowAtTheWaterMarks) {
  struct Step {
    DWORD queued;
    bool enabled;
    DWORD change;
    LONG inputFull;
  };
  const struct {
    LONG handShake;
    DWORD drop, raise;
  } modes[] = {{1, CLRRTS, SETRTS}, {2, CLRDTR, SETDTR}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.handShake);
    const Step steps[] = {
        {768, true, 0, 0},          {769, true, mode.drop, 1}, {769, true, 0, 1},
        {768, true, 0, 1},          {256, true, 0, 1},         {255, false, 0, 1},
        {0, false, 0, 1},           {255, true, mode.raise, 0}, {0, true, 0, 0},
    };
    InputFlowState state;
    for (const Step& step : steps) {
      EXPECT_EQ(InputFlowStep(mode.handShake, step.queued, 256, 768, step.enabled, true, &state),
                step.change)
          << step.queued;
      EXPECT_EQ(state.inputFull, step.inputFull) << step.queued;
    }
  }
}

TEST(LineMode, RtsFollowsCtsInMode3) {
  struct Step {
    DWORD queued;
    bool enabled, cts;
    DWORD change;
  } steps[] = {
      {0, true, true, 0},         // raised at open
      {0, true, false, CLRRTS},   // CTS dropped
      {0, true, false, 0},
      {0, true, true, SETRTS},    // CTS back
      {0, false, true, CLRRTS},   // disabled
      {0, true, true, SETRTS},
      {800, true, true, CLRRTS},  // input held back
      {300, true, true, 0},
      {100, true, true, SETRTS},
  };
  InputFlowState state{0, 1};
  for (const Step& step : steps) {
    EXPECT_EQ(InputFlowStep(3, step.queued, 256, 768, step.enabled, step.cts, &state), step.change)
        << step.queued << step.enabled << step.cts;
  }
}

}  // namespace
}  // namespace opossvc::detail
