#include "examples/scanner/scanner_service_object.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/message_pump.h>
#include <opossvc/testing/recording_control_object.h>
#include <opossvc/testing/temp_registry.h>
#include <opossvc/testing/virtual_port.h>

namespace {

using namespace std::chrono_literals;
using opossvc::testing::MessagePump;
using opossvc::testing::RecordedCall;
using opossvc::testing::RecordingControlObject;
using opossvc::testing::TempRegistry;
using opossvc::testing::VirtualPort;

constexpr DWORD kDeadlineMs = 20000;

class ScannerTest : public ::testing::Test {
 protected:
  ScannerTest() : port_("COM5") {
    const std::string device = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\Scanner1";
    registry_.SetString(HKEY_LOCAL_MACHINE, device, "Port", "COM5");
    const std::pair<const char*, DWORD> settings[] = {
        {"Baudrate", 6}, {"BitLength", 1}, {"Parity", 0},     {"Stop", 0},
        {"HandShake", 0}, {"XonXoff", 0},  {"InputBuf", 1024}, {"OutputBuf", 64},
    };
    for (const auto& [name, value] : settings) {
      registry_.SetDword(HKEY_LOCAL_MACHINE, device, name, value);
    }
    registry_.SetDword(HKEY_LOCAL_MACHINE,
                       "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\VANTA1.6",
                       "IdleSleep", 1);
    // An application reads each scan and asks for the next one.
    co_.OnCall("SOData", [this](const RecordedCall&, DISPPARAMS*, VARIANT*) {
      scans_.push_back(so_.ScanData());
      if (reenable_) so_.SetDataEventEnabled(true);
      return S_OK;
    });
  }

  ~ScannerTest() override { so_.Close(); }

  // Opens, claims and enables the scanner; the port must have seen "E\r".
  void OpenAndEnable() {
    ASSERT_EQ(so_.Open("Scanner", "Scanner1", &co_), OPOS_SUCCESS);
    ASSERT_EQ(so_.ClaimDevice(), OPOS_SUCCESS) << so_.m_lResultCodeExtended;
    so_.SetDataEventEnabled(true);
    ASSERT_EQ(so_.SetDeviceEnabled(true), OPOS_SUCCESS);
    EXPECT_EQ(port_.TakeWritten(), "E\r");
  }

  bool PumpUntilScans(size_t count) {
    return MessagePump::PumpUntil([&] { return scans_.size() >= count; }, kDeadlineMs);
  }

  TempRegistry registry_;
  VirtualPort port_;
  RecordingControlObject co_;
  CScannerServiceObject so_;
  std::vector<std::string> scans_;  // window thread's
  bool reenable_ = true;
};

TEST_F(ScannerTest, EachCarriageReturnEndsOneScanWhateverTheReadsCarry) {
  OpenAndEnable();
  port_.Send("1234");
  port_.Send("5\r\nABC\rX");
  port_.Send("Y\r\r");  // an empty scan is a scan too
  ASSERT_TRUE(PumpUntilScans(4));
  EXPECT_EQ(scans_, (std::vector<std::string>{"12345", "ABC", "XY", ""}));
  std::vector<RecordedCall> data = co_.CallsTo("SOData");
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data[0].I4(0), 5);  // the status is the scan's length
}

TEST_F(ScannerTest, ScansWaitForDataEventEnabledAndFreezeEventsAndNoneIsLost) {
  reenable_ = false;
  OpenAndEnable();
  so_.SetFreezeEvents(true);
  port_.Send("A\rB\rC\r");
  // The event thread may already hold the first record, waiting for the thaw.
  ASSERT_TRUE(MessagePump::PumpUntil([&] { return so_.m_Event.GetSize() >= 2; }, kDeadlineMs));
  EXPECT_TRUE(scans_.empty());
  so_.SetFreezeEvents(false);
  ASSERT_TRUE(PumpUntilScans(1));
  // Delivering a data event cleared DataEventEnabled: B and C wait.
  EXPECT_EQ(so_.m_bDataEventEnabled, 0);
  for (size_t next = 2; next <= 3; ++next) {
    so_.SetDataEventEnabled(true);
    ASSERT_TRUE(PumpUntilScans(next));
  }
  EXPECT_EQ(scans_, (std::vector<std::string>{"A", "B", "C"}));
}

TEST_F(ScannerTest, LineErrorsBecomeInputErrorEvents) {
  OpenAndEnable();
  port_.InjectError(CE_FRAME);
  port_.Send("Z\r");
  ASSERT_TRUE(MessagePump::PumpUntil([&] { return !co_.CallsTo("SOError").empty(); },
                                     kDeadlineMs));
  RecordedCall error = co_.CallsTo("SOError")[0];
  EXPECT_EQ(error.I4(0), OPOS_E_FAILURE);
  EXPECT_EQ(error.I4(2), OPOS_EL_INPUT);
  ASSERT_TRUE(PumpUntilScans(1));
  EXPECT_EQ(scans_[0], "Z");
}

TEST_F(ScannerTest, ClaimReportsABusyOrMissingPort) {
  ASSERT_EQ(so_.Open("Scanner", "Scanner1", &co_), OPOS_SUCCESS);
  port_.SetHeldElsewhere(true);
  EXPECT_EQ(so_.ClaimDevice(), OPOS_E_CLAIMED);
  EXPECT_EQ(so_.m_lResultCodeExtended, OPOSSVC_E_PORT_IN_USE);
  port_.SetHeldElsewhere(false);
  port_.Unplug();
  EXPECT_EQ(so_.ClaimDevice(), OPOS_E_NOHARDWARE);
  port_.Replug();
  EXPECT_EQ(so_.ClaimDevice(), OPOS_SUCCESS);
  EXPECT_EQ(so_.SetDeviceEnabled(true), OPOS_SUCCESS);
  EXPECT_EQ(so_.ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_EQ(port_.TakeWritten(), "E\rD\r");
  EXPECT_EQ(port_.open_handles(), 0);
}

}  // namespace
