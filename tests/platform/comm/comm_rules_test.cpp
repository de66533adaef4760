// The rules of the comm layer that need no device: COM names, time-out arithmetic, DCB checks
// and mode strings.
#include <chrono>
#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/win32/comm.h>

#include "platform/internal/comm_port.h"
#include "platform/internal/comm_timeouts.h"

namespace opossvc::detail {
namespace {

using std::chrono::milliseconds;

TEST(ComName, ParsesPlainAndDeviceForms) {
  std::pair<const char*, int> cases[] = {
      {"COM1", 1},     {"com2", 2},    {"CoM10", 10}, {"\\\\.\\COM3", 3}, {"\\\\.\\com255", 255},
      {"//./COM4", 4}, {"COM0", 0},    {"COM256", 0}, {"COM01", 0},       {"COM", 0},
      {"COM1:", 0},    {"COMX", 0},    {"LPT1", 0},   {"C:\\COM1", 0},    {"COM1 ", 0},
      {"", 0},         {"\\\\.\\", 0}, {"COM-1", 0},
  };
  for (const auto& [name, number] : cases) EXPECT_EQ(ParseComName(name), number) << name;
}

COMMTIMEOUTS Timeouts(DWORD interval, DWORD multiplier, DWORD constant) {
  return {interval, multiplier, constant, 0, 0};
}

TEST(ReadTimeouts, FollowWin32Rules) {
  const CommClock::time_point start{};
  struct Case {
    const char* what;
    COMMTIMEOUTS timeouts;
    DWORD size;
    DWORD got;
    milliseconds last_arrival;  // after start
    milliseconds now;           // after start
    bool done;
  } cases[] = {
      {"interval waits for a first byte", Timeouts(20, 0, 0), 5, 0, {}, milliseconds(5000), false},
      {"total ends before the gap", Timeouts(50, 0, 30), 5, 1, milliseconds(20), milliseconds(30),
       true},
      {"first byte mode, nothing yet", Timeouts(MAXDWORD, MAXDWORD, 200), 5, 0, {},
       milliseconds(199), false},
      {"first byte mode, time up", Timeouts(MAXDWORD, MAXDWORD, 200), 5, 0, {}, milliseconds(200),
       true},
      {"huge multiplier does not overflow", Timeouts(0, MAXDWORD, MAXDWORD), MAXDWORD, 0, {},
       milliseconds(1000000), false},
  };
  for (const Case& c : cases) {
    ReadTimeouts rules(c.timeouts, c.size, start);
    EXPECT_EQ(rules.Done(c.got, start + c.last_arrival, start + c.now), c.done) << c.what;
  }
}

DCB GoodDcb() {
  DCB dcb = {};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 8;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

TEST(CheckDcb, RefusesWhatNoPortTakes) {
  std::tuple<const char*, void (*)(DCB*), bool> cases[] = {
      {"plain 9600 8N1", [](DCB*) {}, true},
      {"non-standard rate", [](DCB* d) { d->BaudRate = 250000; }, true},
      {"rate 0", [](DCB* d) { d->BaudRate = 0; }, false},
      {"4 data bits", [](DCB* d) { d->ByteSize = 4; }, false},
      {"9 data bits", [](DCB* d) { d->ByteSize = 9; }, false},
      {"parity 5", [](DCB* d) { d->Parity = 5; }, false},
      {"stop bits 3", [](DCB* d) { d->StopBits = 3; }, false},
      {"1.5 stop bits with 5 data bits",
       [](DCB* d) { d->ByteSize = 5, d->StopBits = ONE5STOPBITS; }, true},
      {"1.5 stop bits with 8 data bits", [](DCB* d) { d->StopBits = ONE5STOPBITS; }, false},
      {"2 stop bits with 5 data bits", [](DCB* d) { d->ByteSize = 5, d->StopBits = TWOSTOPBITS; },
       false},
      {"XON equal to XOFF", [](DCB* d) { d->XoffChar = d->XonChar; }, false},
  };
  for (const auto& [what, change, accepted] : cases) {
    DCB dcb = GoodDcb();
    change(&dcb);
    EXPECT_EQ(CheckDcb(dcb) == 0, accepted) << what;
  }
}

TEST(BuildCommDcb, ReadsBothModeStringForms) {
  struct Case {
    const char* text;
    bool ok;
    DWORD rate;
    BYTE parity;
    BYTE size;
    BYTE stop;
    bool xon;
    bool cts_flow;
  } cases[] = {
      {"COM1: 96,e,7,2", true, 9600, EVENPARITY, 7, TWOSTOPBITS, false, false},
      {"1200,o,5,1.5,x", true, 1200, ODDPARITY, 5, ONE5STOPBITS, true, false},
      {"baud=115200 parity=s data=6 stop=1 xon=on", true, 115200, SPACEPARITY, 6, ONESTOPBIT, true,
       false},
      {"com3 baud=57600 octs=on", true, 57600, NOPARITY, 8, ONESTOPBIT, false, true},
      // Any 32-bit rate, 0 too; spaces before the colon; stop bits default.
      {"0,M,7,1,P", true, 0, MARKPARITY, 7, ONESTOPBIT, false, true},
      {"4000000000,O,7,1.5,X", true, 4000000000u, ODDPARITY, 7, ONE5STOPBITS, true, false},
      {"COM1  :baud=0 parity=e", true, 0, EVENPARITY, 8, ONESTOPBIT, false, false},
      {"baud=110 data=7", true, 110, NOPARITY, 7, TWOSTOPBITS, false, false},
      {" baud=9600", false, 0, 0, 0, 0, false, false},
      {"COM0:baud=9600", false, 0, 0, 0, 0, false, false},
      {"4294967296,n,8,1", false, 0, 0, 0, 0, false, false},
      {"9600,n,9,1", false, 0, 0, 0, 0, false, false},
      {"baud=9600 colour=blue", false, 0, 0, 0, 0, false, false},
      {"9600,n,8,1,x,extra", false, 0, 0, 0, 0, false, false},
  };
  for (const Case& c : cases) {
    DCB dcb = GoodDcb();
    DCB before = dcb;
    BOOL ok = BuildCommDCBA(c.text, &dcb);
    ASSERT_EQ(ok != FALSE, c.ok) << c.text;
    if (!ok) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.text;
      EXPECT_EQ(dcb.BaudRate, before.BaudRate) << "left unchanged: " << c.text;
      continue;
    }
    EXPECT_EQ(std::tuple(dcb.BaudRate, dcb.Parity, dcb.ByteSize, dcb.StopBits, dcb.fOutX != 0,
                         dcb.fOutxCtsFlow != 0),
              std::tuple(c.rate, c.parity, c.size, c.stop, c.xon, c.cts_flow))
        << c.text;
  }
}

}  // namespace
}  // namespace opossvc::detail
