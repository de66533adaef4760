// What only a VirtualPort does: its name, lines moved by SetCommState, injected line errors and
// output flow control. The driver reaches it through the comm seam; the Win32 calls do not.
#include <opossvc/testing/virtual_port.h>

#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/win32/comm.h>
#include <opossvc/win32/errors.h>

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
    EXPECT_EQ(port_->ClearError(&errors, nullptr), 0u);
    return errors;
  }
};

TEST(VirtualPortName, ComNamesOnlyOneOwnerAndGivenBackOnDestruction) {
  EXPECT_THROW(VirtualPort("LPT1"), std::invalid_argument);
  EXPECT_THROW(VirtualPort("COM0"), std::invalid_argument);
  std::unique_ptr<detail::SerialPort> opened;
  {
    VirtualPort port("\\\\.\\com13");
    EXPECT_EQ(port.name(), "COM13");
    EXPECT_THROW(VirtualPort("COM13"), std::logic_error);
    HANDLE real = OpenPort("COM13");
    if (real != INVALID_HANDLE_VALUE) CloseHandle(real);
    EXPECT_EQ(port.open_count(), 0) << "CreateFileA reaches the real device only";
    ASSERT_EQ(detail::OpenSerialPort("\\\\.\\COM13", &opened), 0u);
  }
  // The device is gone under the open port; it still closes.
  DWORD status = 0;
  EXPECT_EQ(opened->ModemStatus(&status), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  opened.reset();
  VirtualPort again("COM13");  // the name can be taken over again
}

TEST_F(VirtualPortTest, SetCommStateMovesLinesOnlyWhenTheirControlChanges) {
  DCB dcb = State();
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  ASSERT_EQ(port_->SetState(dcb), 0u);
  ASSERT_EQ(port_->Escape(CLRRTS), 0u);  // input held back by the caller
  dcb.fOutxCtsFlow = 1;                  // output flow switched on and off again
  ASSERT_EQ(port_->SetState(dcb), 0u);
  dcb.fOutxCtsFlow = 0;
  ASSERT_EQ(port_->SetState(dcb), 0u);
  EXPECT_FALSE(port().rts()) << "an unchanged control field must leave RTS where it was put";
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  ASSERT_EQ(port_->SetState(dcb), 0u);
  EXPECT_FALSE(port().dtr());
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_EQ(port_->SetState(dcb), 0u);
  EXPECT_TRUE(port().rts());
  // A line under the port's own handshake is not the caller's to move.
  EXPECT_EQ(port_->Escape(CLRRTS), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(port_->Escape(SETDTR), 0u);
}

// Parity errors only while parity is checked; with fAbortOnError an error stops reads and writes
// until ClearCommError collects it, and no byte is lost.
TEST_F(VirtualPortTest, InjectedErrorsSurfaceInClearCommError) {
  ASSERT_EQ(SetTimeouts(*port_, MAXDWORD, 0, 0), 0u);
  DCB dcb = State();
  dcb.fParity = 0;
  dcb.fAbortOnError = 1;
  ASSERT_EQ(port_->SetState(dcb), 0u);
  port().Send("abc");
  port().InjectError(CE_RXPARITY | CE_FRAME);
  ReadResult read = ReadPort(*port_, 10);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_FALSE(WritePort(*port_, "x").ok);
  EXPECT_EQ(Errors(), static_cast<DWORD>(CE_FRAME));
  EXPECT_EQ(Errors(), 0u);
  EXPECT_EQ(ReadPort(*port_, 10).bytes, "abc");
  EXPECT_TRUE(WritePort(*port_, "x").ok);
}

TEST_F(VirtualPortTest, OutputFlowControlHoldsWrites) {
  ASSERT_EQ(SetTimeouts(*port_, MAXDWORD, 0, 0, 0, 30), 0u);
  std::tuple<const char*, void (*)(DCB*), void (*)(VirtualPort&), bool> cases[] = {
      {"CTS flow, CTS off", [](DCB* d) { d->fOutxCtsFlow = 1; },
       [](VirtualPort& p) { p.SetCts(false); }, false},
      {"DSR flow, DSR off", [](DCB* d) { d->fOutxDsrFlow = 1; },
       [](VirtualPort& p) { p.SetDsr(false); }, false},
      {"XOFF from the device", [](DCB* d) { d->fOutX = 1; }, [](VirtualPort& p) { p.Send("\x13"); },
       false},
      {"XON from the device", [](DCB* d) { d->fOutX = 1; },
       [](VirtualPort& p) { p.Send("\x13\x11"); }, true},
      {"XOFF without XON/XOFF flow is data", [](DCB*) {}, [](VirtualPort& p) { p.Send("\x13"); },
       true},
  };
  for (const auto& [what, set, device, passes] : cases) {
    SCOPED_TRACE(what);
    DCB dcb = State();
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = 0;
    set(&dcb);
    ASSERT_EQ(port_->SetState(dcb), 0u);
    ASSERT_EQ(port_->Escape(SETXON), 0u);
    device(port());
    WriteResult written = WritePort(*port_, "data");
    EXPECT_TRUE(written.ok);
    EXPECT_EQ(written.written, passes ? 4u : 0u);
    port().TakeWritten();
    port_->Purge(PURGE_RXCLEAR);
  }
}

}  // namespace
}  // namespace opossvc::testing
