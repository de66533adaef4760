#include "tools/oposreg/serial_ports.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace opossvc::oposreg {
namespace {

std::string Describe(const std::vector<ComAssignment>& ports) {
  std::string out;
  for (const ComAssignment& p : ports) {
    out += "COM" + std::to_string(p.number) + "=" + p.path + (p.is_new ? " new" : "") +
           (p.present ? "" : " absent") + ";";
  }
  return out;
}

TEST(SerialPorts, AssignComNames) {
  const SerialDevice uart0{"/dev/ttyS0", "/dev/ttyS0", 1, {}};
  const SerialDevice uart1{"/dev/ttyS1", "/dev/ttyS1", 2, {}};
  const SerialDevice usb_a{"/dev/serial/by-id/usb-A", "/dev/ttyUSB0", 0, {}};
  const SerialDevice usb_b{"/dev/serial/by-id/usb-B", "/dev/ttyUSB1", 0, {}};
  const SerialDevice acm{"/dev/ttyACM0", "/dev/ttyACM0", 0, {}};
  const std::tuple<const char*, std::vector<MapEntry>, std::vector<SerialDevice>, const char*>
      cases[] = {
          {"UARTs keep their unmapped numbers, others take the lowest free",
           {},
           {usb_a, uart1, acm},
           "COM1=/dev/serial/by-id/usb-A new;COM2=/dev/ttyS1 new;COM3=/dev/ttyACM0 new;"},
          {"a recorded adapter keeps its number wherever it is plugged in",
           {{"/dev/serial/by-id/usb-B", 4}},
           {usb_a, usb_b},
           "COM1=/dev/serial/by-id/usb-A new;COM4=/dev/serial/by-id/usb-B;"},
          {"an unplugged adapter's name is kept and not reused",
           {{"/dev/serial/by-id/usb-A", 1}},
           {usb_b},
           "COM1=/dev/serial/by-id/usb-A absent;COM2=/dev/serial/by-id/usb-B new;"},
          {"an entry by node or by relative name matches the device",
           {{"ttyS0", 7}, {"/dev/ttyUSB0", 5}},
           {uart0, usb_a},
           "COM5=/dev/ttyUSB0;COM7=ttyS0;"},
          {"an entry by a link that no longer names the device still matches it",
           {{"/dev/serial/by-id/usb-A", 3}},
           {{"/dev/serial/by-path/pci-usb-0:1", "/dev/ttyUSB0", 0, {"/dev/serial/by-id/usb-A"}}},
           "COM3=/dev/serial/by-id/usb-A;"},
          {"a UART whose number is taken gets the lowest free one",
           {{"/dev/pts/3", 1}},
           {uart0},
           "COM1=/dev/pts/3 absent;COM2=/dev/ttyS0 new;"},
      };
  for (const auto& [what, map, devices, expected] : cases) {
    EXPECT_EQ(Describe(AssignComNames(map, devices)), expected) << what;
  }
}

TEST(SerialPorts, FindsAdaptersByTheirLinks) {
  char pattern[] = "/tmp/oposreg-dev-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::filesystem::path dev = pattern;
  for (const char* node : {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3", "ttyACM0", "ttyAMA0",
                           "ttyXRUSB0", "rfcomm0", "ttyS0", "tty0", "null"}) {
    std::ofstream(dev / node).put('x');
  }
  const std::pair<const char*, const char*> links[] = {
      {"by-id/usb-Maker_Scanner", "ttyUSB1"},
      {"by-id/usb-Gone", "missing"},
      // Two identical adapters without serial numbers: one by-id name, which
      // udev gave to the one plugged in last.
      {"by-id/usb-1a86_Serial-if00-port0", "ttyUSB3"},
      {"by-path/pci-usb-0:1:1.0-port0", "ttyUSB2"},
      {"by-path/pci-usb-0:2:1.0-port0", "ttyUSB3"},
  };
  for (const auto& [link, node] : links) {
    std::filesystem::create_directories((dev / "serial" / link).parent_path());
    std::filesystem::create_symlink(std::string("../../") + node, dev / "serial" / link);
  }

  std::string found;
  for (const SerialDevice& device : FindSerialDevices(dev.string())) {
    found += device.path.substr(dev.string().size() + 1) + ";";
  }
  std::filesystem::remove_all(dev);

  // ttyS0 is a plain file here: no UART answers, so it is no port.
  EXPECT_EQ(found,
            "rfcomm0;serial/by-id/usb-Maker_Scanner;serial/by-path/pci-usb-0:1:1.0-port0;"
            "serial/by-path/pci-usb-0:2:1.0-port0;ttyACM0;ttyAMA0;ttyUSB0;ttyXRUSB0;");
}

}  // namespace
}  // namespace opossvc::oposreg
