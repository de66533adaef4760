// The example scanner's service object on a virtual port, as an application sees it.
#include "examples/scanner/scanner_service_object.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/message_pump.h>
#include <opossvc/testing/recording_control_object.h>
#include <opossvc/testing/virtual_port.h>

#include "tests/support/device_entry.h"

namespace opossvc::testing {
namespace {

TEST(ScannerExample, EachCarriageReturnEndsOneScanWhateverTheReadsCarry) {
  TempRegistry registry;
  WriteFastConfig(registry);
  DeviceEntry entry;
  entry.device_class = "Scanner";
  entry.name = "Scanner1";
  entry.port = "COM5";
  WriteDevice(registry, entry);
  VirtualPort port("COM5");
  RecordingControlObject co;
  CScannerServiceObject so;
  struct Closer {
    CScannerServiceObject& so;
    ~Closer() { so.Close(); }
  } closer{so};
  std::vector<std::string> scans;  // the window thread's
  // An application reads each scan and asks for the next one.
  co.OnCall("SOData", [&](const RecordedCall&, DISPPARAMS*, VARIANT*) {
    scans.push_back(so.ScanData());
    so.SetDataEventEnabled(true);
    return S_OK;
  });

  ASSERT_EQ(so.Open("Scanner", "Scanner1", &co), OPOS_SUCCESS);
  ASSERT_EQ(so.ClaimDevice(), OPOS_SUCCESS) << so.m_lResultCodeExtended;
  so.SetDataEventEnabled(true);
  ASSERT_EQ(so.SetDeviceEnabled(true), OPOS_SUCCESS);
  EXPECT_EQ(port.TakeWritten(), "E\r");
  port.Send("1234");
  port.Send("5\r\nABC\rX");
  port.Send("Y\r\r");  // an empty scan is a scan too
  ASSERT_TRUE(MessagePump::PumpUntil([&] { return scans.size() >= 4; }, 20000));
  EXPECT_EQ(scans, (std::vector<std::string>{"12345", "ABC", "XY", ""}));
  std::vector<RecordedCall> data = co.CallsTo("SOData");
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data[0].I4(0), 5);  // the status is the scan's length
}

}  // namespace
}  // namespace opossvc::testing
