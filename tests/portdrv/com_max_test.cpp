// GetComMax over the two registry lists it reads.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/portdrv.h>
#include <opossvc/testing/temp_registry.h>

namespace opossvc::testing {
namespace {

const char kSerialComm[] = "Hardware\\DeviceMap\\SerialComm";

// The highest COM number in the port map, each value read no further than its data; those listed
// Enum\Root, of any kind of device, take precedence.
TEST(GetComMax, SerialCommValuesOrEnumRoot) {
  // The port map: device path -> data.
  std::tuple<const char*, std::vector<std::pair<std::string, std::string>>, int> cases[] = {
      {"nothing listed", {}, 2},
      {"lower case", {{"/dev/ttyUSB0", "com12"}}, 12},
      {"digits then letters", {{"/dev/x", "COM7a"}, {"/dev/y", "COM3"}}, 7},
      {"not a COM port", {{"/dev/x", "LPT9"}}, 2},
      {"absurd number", {{"/dev/x", "COM99999999999999999999"}, {"/dev/y", "COM4"}}, 4},
      {"device paths of any length",
       {{"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "COM7"},
        {"/dev/ttyS0", "COM1"}},
       7},
  };
  for (const auto& [what, values, expected] : cases) {
    SCOPED_TRACE(what);
    TempRegistry registry;
    registry.CreateKey(HKEY_LOCAL_MACHINE, kSerialComm);
    for (const auto& [path, data] : values) {
      registry.SetString(HKEY_LOCAL_MACHINE, kSerialComm, path, data);
    }
    EXPECT_EQ(GetComMax(), expected);
  }
  {
    TempRegistry registry;
    // Stored without its NUL: the digits after it must not be read.
    registry.SetValue(HKEY_LOCAL_MACHINE, kSerialComm, "/dev/x", REG_SZ, "COM5");
    registry.SetValue(HKEY_LOCAL_MACHINE, kSerialComm, "/dev/y", REG_DWORD, "COM9");
    EXPECT_EQ(GetComMax(), 5);
  }
  TempRegistry registry;
  registry.SetString(HKEY_LOCAL_MACHINE, kSerialComm, "/dev/x", "COM20");
  registry.SetString(HKEY_LOCAL_MACHINE, "Enum\\Root\\Ports\\0000", "PortName", "COM6");
  registry.SetString(HKEY_LOCAL_MACHINE, "Enum\\Root\\Ports\\0001", "PortName", "LPT1");
  registry.SetString(HKEY_LOCAL_MACHINE, "Enum\\Root\\Modem\\0000", "PortName", "com8");
  registry.SetDword(HKEY_LOCAL_MACHINE, "Enum\\Root\\Modem\\0001", "PortName", 30);
  registry.SetString(HKEY_LOCAL_MACHINE, "Enum\\Root\\USB_Serial_Converter_Of_The_Scanner\\0000",
                     "PortName", "COM9");
  EXPECT_EQ(GetComMax(), 9);
}

}  // namespace
}  // namespace opossvc::testing
