// What only a VirtualPort does: its name, the lines both ways, what the device sees, injected line
// errors, write capacity and output flow control.
#include <opossvc/testing/virtual_port.h>

#include <future>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/win32/comm.h>
#include <opossvc/win32/files.h>

#include "tests/platform/comm/backend_helpers.h"

namespace opossvc::testing {
namespace {

class VirtualPortTest : public PortTest {
 protected:
  void SetUp() override {
    device_ = std::make_unique<VirtualPortDevice>();
    Open();
  }
  VirtualPort& port() { return static_cast<VirtualPortDevice&>(*device_).port(); }
  DWORD Errors() {
    DWORD errors = 0;
    EXPECT_TRUE(ClearCommError(handle_, &errors, nullptr));
    return errors;
  }
};

TEST(VirtualPortName, ComNamesOnlyOneOwnerAndGivenBackOnDestruction) {
  EXPECT_THROW(VirtualPort("LPT1"), std::invalid_argument);
  EXPECT_THROW(VirtualPort("COM0"), std::invalid_argument);
  HANDLE handle;
  {
    VirtualPort port("\\\\.\\com13");
    EXPECT_EQ(port.name(), "COM13");
    EXPECT_THROW(VirtualPort("COM13"), std::logic_error);
    handle = OpenPort("\\\\.\\COM13");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  }
  // The device is gone under the open handle; it still closes.
  DWORD status = 0;
  EXPECT_TRUE(Fails(GetCommModemStatus(handle, &status), ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_TRUE(CloseHandle(handle));
  VirtualPort again("COM13");  // the name can be taken over again
}

TEST_F(VirtualPortTest, ModemLinesBothWays) {
  DWORD status = 0;
  for (DWORD lines : {DWORD{0}, DWORD{MS_CTS_ON}, DWORD{MS_DSR_ON}, DWORD{MS_RING_ON},
                      DWORD{MS_RLSD_ON | MS_CTS_ON}}) {
    port().SetModemStatus(lines);
    ASSERT_TRUE(GetCommModemStatus(handle_, &status));
    EXPECT_EQ(status, lines);
  }

  // The open raised DTR and RTS as the DCB's control fields say.
  EXPECT_TRUE(port().dtr());
  EXPECT_TRUE(port().rts());
  struct Escape {
    DWORD function;
    bool rts, dtr, brk, held;
  } escapes[] = {
      {CLRRTS, false, true, false, false},   {CLRDTR, false, false, false, false},
      {SETBREAK, false, false, true, false}, {SETRTS, true, false, true, false},
      {CLRBREAK, true, false, false, false}, {SETXOFF, true, false, false, true},
      {SETDTR, true, true, false, true},     {SETXON, true, true, false, false},
  };
  for (const Escape& e : escapes) {
    ASSERT_TRUE(EscapeCommFunction(handle_, e.function)) << e.function;
    VirtualPort::State state = port().state();
    EXPECT_EQ(std::tuple(state.rts, state.dtr, state.break_on, state.output_held),
              std::tuple(e.rts, e.dtr, e.brk, e.held))
        << e.function;
  }
  EXPECT_TRUE(Fails(EscapeCommFunction(handle_, 42), ERROR_INVALID_PARAMETER));

  CloseHandle(Release());
  EXPECT_FALSE(port().dtr());
  EXPECT_FALSE(port().rts());
}

TEST_F(VirtualPortTest, SetCommStateMovesLinesOnlyWhenTheirControlChanges) {
  DCB dcb = State();
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  ASSERT_TRUE(EscapeCommFunction(handle_, CLRRTS));  // input held back by the caller
  dcb.fOutxCtsFlow = 1;                              // output flow switched on and off again
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  dcb.fOutxCtsFlow = 0;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  EXPECT_FALSE(port().rts()) << "an unchanged control field must leave RTS where it was put";
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  EXPECT_FALSE(port().dtr());
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  EXPECT_TRUE(port().rts());
  // A line under the port's own handshake is not the caller's to move.
  EXPECT_TRUE(Fails(EscapeCommFunction(handle_, CLRRTS), ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(EscapeCommFunction(handle_, SETDTR));
}

TEST_F(VirtualPortTest, DeviceSeesWhatTheLibrarySet) {
  DCB dcb = State();
  dcb.BaudRate = 19200;
  dcb.fOutX = dcb.fInX = 1;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  EXPECT_EQ(port().dcb().BaudRate, 19200u);
  EXPECT_TRUE(port().dcb().fOutX && port().dcb().fInX);
  EXPECT_EQ(port().set_state_count(), 1);
  ASSERT_TRUE(SetupComm(handle_, 1024, 512));
  EXPECT_EQ(port().input_queue_size(), 1024u);
  EXPECT_EQ(port().output_queue_size(), 512u);
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 4, 0));
  EXPECT_EQ(port().timeouts().WriteTotalTimeoutMultiplier, 4u);
}

TEST_F(VirtualPortTest, InjectedErrorsSurfaceOnceAndAbortIoUntilCollected) {
  DCB dcb = State();
  dcb.fParity = 1;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  port().InjectError(CE_FRAME);
  port().InjectError(CE_RXPARITY | CE_BREAK);
  EXPECT_EQ(Errors(), static_cast<DWORD>(CE_FRAME | CE_RXPARITY | CE_BREAK));
  EXPECT_EQ(Errors(), 0u);
  dcb.fParity = 0;  // parity errors are not reported while parity checking is off
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  port().InjectError(CE_RXPARITY);
  EXPECT_EQ(Errors(), 0u);

  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0));
  dcb.fAbortOnError = 1;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  port().Send("abc");
  port().InjectError(CE_OVERRUN);
  ReadResult read = ReadPort(handle_, 10);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_FALSE(WritePort(handle_, "x").ok);
  EXPECT_EQ(Errors(), static_cast<DWORD>(CE_OVERRUN));
  EXPECT_EQ(ReadPort(handle_, 10).bytes, "abc") << "no byte is lost by the abort";
  EXPECT_TRUE(WritePort(handle_, "x").ok);
}

TEST_F(VirtualPortTest, CapacityGivenWhileAWriteWaitsLetsItGoOn) {
  port().SetWriteCapacity(2);
  auto writer = std::async(std::launch::async, [&] { return WritePort(handle_, "tail"); });
  ASSERT_TRUE(port().WaitUntil([](const VirtualPort::State& s) { return s.writers_waiting == 1; },
                               kPatience));
  COMSTAT stat = {};
  ASSERT_TRUE(ClearCommError(handle_, nullptr, &stat));
  EXPECT_EQ(stat.cbOutQue, 2u) << "the waiting write's bytes are in the transmit queue";
  EXPECT_EQ(port().write_capacity(), 0u);
  port().SetWriteCapacity(VirtualPort::kUnlimited);
  ASSERT_EQ(writer.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(writer.get().written, 4u);
  EXPECT_EQ(port().TakeWritten(), "tail");
  ASSERT_TRUE(ClearCommError(handle_, nullptr, &stat));
  EXPECT_EQ(stat.cbOutQue, 0u);
}

TEST_F(VirtualPortTest, OutputFlowControlHoldsWrites) {
  ASSERT_TRUE(SetTimeouts(handle_, MAXDWORD, 0, 0, 0, 30));
  struct Case {
    const char* what;
    void (*set)(DCB*);
    void (*device)(VirtualPort&);
    bool passes;
  } cases[] = {
      {"CTS flow, CTS off", [](DCB* d) { d->fOutxCtsFlow = 1; },
       [](VirtualPort& p) { p.SetCts(false); }, false},
      {"CTS flow, CTS on", [](DCB* d) { d->fOutxCtsFlow = 1; },
       [](VirtualPort& p) { p.SetCts(true); }, true},
      {"DSR flow, DSR off", [](DCB* d) { d->fOutxDsrFlow = 1; },
       [](VirtualPort& p) { p.SetDsr(false); }, false},
      {"no flow, lines off", [](DCB*) {}, [](VirtualPort& p) { p.SetModemStatus(0); }, true},
      {"XOFF from the device", [](DCB* d) { d->fOutX = 1; }, [](VirtualPort& p) { p.Send("\x13"); },
       false},
      {"XON from the device", [](DCB* d) { d->fOutX = 1; },
       [](VirtualPort& p) { p.Send("\x13\x11"); }, true},
      {"XOFF without XON/XOFF flow is data", [](DCB*) {}, [](VirtualPort& p) { p.Send("\x13"); },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DCB dcb = State();
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = 0;
    c.set(&dcb);
    ASSERT_TRUE(SetCommState(handle_, &dcb));
    ASSERT_TRUE(EscapeCommFunction(handle_, SETXON));
    c.device(port());
    WriteResult written = WritePort(handle_, "data");
    EXPECT_TRUE(written.ok);
    EXPECT_EQ(written.written, c.passes ? 4u : 0u);
    port().TakeWritten();
    PurgeComm(handle_, PURGE_RXCLEAR);
  }
}

}  // namespace
}  // namespace opossvc::testing
