// Opening, sharing, enabling and closing ports on virtual devices.
#include <memory>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/portdrv.h>
#include <opossvc/testing/virtual_port.h>

#include "tests/support/device_entry.h"
#include "tests/support/recording_svc.h"

namespace opossvc::testing {
namespace {

class PortOpenTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFastConfig(registry_); }

  DeviceEntry Device(const std::string& name, const std::string& port, DWORD handShake = 0) {
    DeviceEntry entry;
    entry.name = name;
    entry.port = port;
    entry.values["HandShake"] = handShake;
    WriteDevice(registry_, entry);
    return entry;
  }

  TempRegistry registry_;
};

TEST_F(PortOpenTest, SharedPortLivesUntilTheLastClose) {
  VirtualPort device("COM1");
  const DeviceEntry printer = Device("Printer1", "COM1");
  DeviceEntry drawer = printer;
  drawer.device_class = "CashDrawer";
  drawer.name = "Drawer1";
  drawer.values.clear();  // a further device may leave the settings out
  WriteDevice(registry_, drawer);

  RecordingSvc a, b, stranger;
  CPortdrv port;
  // Failed opens leave nothing behind.
  EXPECT_EQ(OpenOn(port, printer, nullptr), OPOSSVC_E_NO_SERVICE);
  EXPECT_EQ(port.PortOpen("POSPrinter\\Nobody", &a, 64, 0, 0), OPOSSVC_E_PORT_CALL);
  EXPECT_EQ(port.PortOpen(printer.id().c_str(), &a, 0, 0, 0), OPOSSVC_E_PORT_CALL);
  ASSERT_EQ(OpenOn(port, printer, &a), 0);
  ASSERT_EQ(OpenOn(port, drawer, &b), 0);
  EXPECT_EQ(device.open_count(), 1);  // one handle for both
  EXPECT_TRUE(device.dtr());
  EXPECT_EQ(device.dcb().BaudRate, 9600u);
  EXPECT_EQ(device.timeouts().ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(device.timeouts().WriteTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(device.input_queue_size(), 1024u);
  EXPECT_EQ(device.output_queue_size(), 512u);

  EXPECT_EQ(port.PortClose(&stranger), OPOSSVC_E_NOT_CLIENT);
  EXPECT_EQ(port.PortClose(nullptr), OPOSSVC_E_NO_SERVICE);
  EXPECT_EQ(port.PortClose(&a), 0);
  EXPECT_EQ(device.open_handles(), 1);
  EXPECT_EQ(port.PortClose(&a), OPOSSVC_E_NOT_CLIENT);
  EXPECT_EQ(port.PortClose(&b), 0);
  EXPECT_EQ(device.open_handles(), 0);
  EXPECT_FALSE(device.dtr());
  EXPECT_FALSE(device.rts());
  // Every call on the closed port is refused.
  EXPECT_EQ(port.PortClose(&b), OPOSSVC_E_NOT_CLIENT);
  EXPECT_EQ(port.PortEnabled(TRUE), OPOSSVC_E_NOT_CLIENT);
  EXPECT_EQ(port.PortOutputData("x", 1, 0, &a, 0, 0, 1), OPOSSVC_E_NOT_CLIENT);
  EXPECT_EQ(port.ClearOutputBuffer(&a), OPOSSVC_E_NOT_CLIENT);
  EXPECT_EQ(port.ClearCommInputBuffer(), OPOSSVC_E_NOT_CLIENT);
  EXPECT_EQ(port.GetPowerState(1), 0);

  ASSERT_EQ(OpenOn(port, printer, &a), 0);
  EXPECT_EQ(device.open_count(), 2);
}

TEST(PortOpen, PartnerPorts) {
  std::tuple<const char*, const char*, DWORD, long> cases[] = {
      {"COM1", "COM3", 0, OPOSSVC_E_PORT_IN_USE},
      {"COM3", "COM1", 0, OPOSSVC_E_PORT_IN_USE},
      {"COM2", "COM4", 0, OPOSSVC_E_PORT_IN_USE},
      {"COM1", "COM2", 0, 0},
      {"COM1", "COM3", 1, 0},
      {"COM1", "COM1", 0, OPOSSVC_E_PORT_IN_USE},  // another driver holds it
  };
  for (const auto& [first_com, second_com, simultaneous, expected] : cases) {
    SCOPED_TRACE(::testing::Message()
                 << first_com << " then " << second_com << " sim " << simultaneous);
    TempRegistry registry;
    WriteConfig(registry,
                {{"IdleSleep", 1}, {"InputSleep", 1}, {"SimultaneousCom1234", simultaneous}});
    VirtualPort first(first_com);
    std::unique_ptr<VirtualPort> second;
    if (std::string(first_com) != second_com) second = std::make_unique<VirtualPort>(second_com);
    DeviceEntry a, b;
    a.port = first_com;
    b.name = "Printer2";
    b.port = second_com;
    WriteDevice(registry, a);
    WriteDevice(registry, b);

    RecordingSvc x, y;
    CPortdrv one, two;
    ASSERT_EQ(OpenOn(one, a, &x), 0);
    EXPECT_EQ(OpenOn(two, b, &y), expected);
    if (expected == 0) {
      EXPECT_EQ(two.PortClose(&y), 0);
    }
    EXPECT_EQ(one.PortClose(&x), 0);
    // Once the first is closed the second opens.
    ASSERT_EQ(OpenOn(two, b, &y), 0);
    EXPECT_EQ(two.PortClose(&y), 0);
  }
}

// A further device on the open port must agree with it; a refused one leaves the port as it was.
TEST_F(PortOpenTest, FurtherDeviceMustAgree) {
  VirtualPort device("COM1");
  const DeviceEntry first = Device("Printer1", "COM1", 1);
  const std::tuple<const char*, const char*, DWORD, long> cases[] = {
      {"COM1", "Baudrate", 8, OPOSSVC_E_BAD_PORT},
      {"COM1", "HandShake", 1, OPOSSVC_E_BAD_PORT},  // against the mode 3 open
      {"COM1", "Hydra", 1, OPOSSVC_E_BAD_PORT},
      {"COM2", "HandShake", 3, OPOSSVC_E_BAD_PORT},
      {"com1", "HandShake", 3, 0},
  };
  RecordingSvc a;
  CPortdrv port;
  ASSERT_EQ(OpenOn(port, first, &a, 1), 0);  // mode 1 becomes 3
  const int states = device.set_state_count();
  for (const auto& [com, value, data, expected] : cases) {
    SCOPED_TRACE(::testing::Message() << com << " " << value << " " << data);
    DeviceEntry other = first;
    other.name = "Printer2";
    other.port = com;
    other.values["HandShake"] = 3;
    other.values["Hydra"] = 0;
    other.values[value] = data;
    WriteDevice(registry_, other);
    RecordingSvc b;
    EXPECT_EQ(OpenOn(port, other, &b), expected);
    EXPECT_EQ(device.set_state_count(), states) << "a further open left the port as it was";
    EXPECT_EQ(port.PortClose(&b), expected == 0 ? 0 : OPOSSVC_E_NOT_CLIENT);
  }
  EXPECT_EQ(port.PortClose(&a), 0);
}

// A further device's "SHydra" takes the open port out of the Hydra mode, and
// its output flow with it: a record held by DSR goes out.
TEST_F(PortOpenTest, SHydraOfAFurtherDeviceSwitchesItsOutputFlowOff) {
  VirtualPort device("COM1");
  device.SetCts(true);
  DeviceEntry hydra = Device("Printer1", "COM1");
  hydra.values["Hydra"] = 1;
  WriteDevice(registry_, hydra);
  DeviceEntry plain = hydra;
  plain.device_class = "CashDrawer";
  plain.name = "Drawer1";
  plain.values = {{"SHydra", 1}};
  WriteDevice(registry_, plain);
  RecordingSvc a, b;
  CPortdrv port;
  ASSERT_EQ(OpenOn(port, hydra, &a), 0);
  ASSERT_EQ(port.PortOutputData("rec", 3, 0, &a, 0, 1, 1), 0);  // mode 0: ready
  ASSERT_TRUE(device.WaitUntil([](const VirtualPort::State& s) { return s.writers_waiting > 0; },
                               kPatience));
  ASSERT_EQ(OpenOn(port, plain, &b), 0);
  EXPECT_EQ(device.dcb().fOutxCtsFlow, 0u);
  EXPECT_EQ(device.dcb().fOutxDsrFlow, 0u);
  ASSERT_TRUE(a.WaitForNotice(Notice::kComplete));
  EXPECT_EQ(device.TakeWritten(), "rec");
  EXPECT_EQ(port.PortClose(&b), 0);
  EXPECT_EQ(port.PortClose(&a), 0);
}

// Lines at open, after PortEnabled(FALSE) and after PortEnabled(TRUE). The
// virtual device starts with DTR and RTS control enabled, so a line "left as
// the port had it" is on; in mode 3 the input thread drops RTS once the
// port is disabled. The output flow of each mode is LineMode.DcbOfEachMode's.
TEST_F(PortOpenTest, LineModes) {
  struct Lines {
    bool dtr, rts;
  };
  struct Case {
    DWORD handShake, hydra;
    int variant;
    Lines open, disabled, enabled;
  } cases[] = {
      {0, 0, 0, {true, true}, {true, true}, {true, true}},
      {1, 0, 0, {true, true}, {true, false}, {true, true}},
      {2, 0, 0, {true, true}, {false, true}, {true, true}},
      {1, 0, 1, {true, true}, {true, false}, {true, true}},  // mode 3
      {2, 0, 1, {true, true}, {true, true}, {true, true}},   // mode 4
      {0, 1, 0, {true, true}, {false, false}, {true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "HandShake " << c.handShake << " Hydra " << c.hydra
                                      << " variant " << c.variant);
    VirtualPort device("COM1");
    device.SetModemStatus(MS_CTS_ON | MS_DSR_ON);
    DeviceEntry entry = Device("Printer1", "COM1", c.handShake);
    entry.values["Hydra"] = c.hydra;
    WriteDevice(registry_, entry);
    RecordingSvc svc;
    CPortdrv port;
    const auto lines_are = [&device](Lines want) {
      return device.WaitUntil(
          [want](const VirtualPort::State& s) { return s.dtr == want.dtr && s.rts == want.rts; },
          kPatience);
    };
    ASSERT_EQ(OpenOn(port, entry, &svc, c.variant), 0);
    EXPECT_TRUE(lines_are(c.open));
    ASSERT_EQ(port.PortEnabled(FALSE), 0);
    EXPECT_TRUE(lines_are(c.disabled));
    ASSERT_EQ(port.PortEnabled(TRUE), 0);
    EXPECT_TRUE(lines_are(c.enabled));
  }
}

TEST_F(PortOpenTest, DestructorClosesAPortLeftOpen) {
  VirtualPort device("COM1");
  const DeviceEntry entry = Device("Printer1", "COM1");
  RecordingSvc svc;
  {
    CPortdrv port;
    ASSERT_EQ(OpenOn(port, entry, &svc), 0);
    device.SetWriteCapacity(0);
    ASSERT_EQ(port.PortOutputData("abc", 3, 0, &svc, 0, 0, 1), 0);
  }
  EXPECT_EQ(device.open_handles(), 0);
  // The port's flag went with it: another driver opens the port.
  CPortdrv again;
  EXPECT_EQ(OpenOn(again, entry, &svc), 0);
}

}  // namespace
}  // namespace opossvc::testing
