// A fixture holding a port of the comm seam open on a device (tests/support/comm_devices.h), as
// the serial driver does, and the comm helpers on such a port.
#ifndef OPOSSVC_TESTS_PLATFORM_COMM_BACKEND_HELPERS_H_
#define OPOSSVC_TESTS_PLATFORM_COMM_BACKEND_HELPERS_H_

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <opossvc/win32/comm.h>

#include "platform/internal/serial_port.h"
#include "tests/support/comm_devices.h"
#include "tests/support/comm_helpers.h"

namespace opossvc::testing {

// The calls of tests/support/comm_helpers.h on a port of the comm seam.
DWORD SetTimeouts(detail::SerialPort& port, DWORD interval, DWORD read_multiplier,
                  DWORD read_constant, DWORD write_multiplier = 0, DWORD write_constant = 0);
ReadResult ReadPort(detail::SerialPort& port, DWORD size);
WriteResult WritePort(detail::SerialPort& port, const std::string& bytes);

// A port of the comm seam held open on a device; closed at the end.
class PortTest : public ::testing::Test {
 protected:
  void Open() { ASSERT_EQ(detail::OpenSerialPort(device_->name(), &port_), 0u); }
  DCB State() {
    DCB dcb = {};
    EXPECT_EQ(port_->GetState(&dcb), 0u);
    return dcb;
  }

  std::unique_ptr<Device> device_;
  std::unique_ptr<detail::SerialPort> port_;
};

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTS_PLATFORM_COMM_BACKEND_HELPERS_H_
