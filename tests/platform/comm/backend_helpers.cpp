#include "tests/platform/comm/backend_helpers.h"

#include <opossvc/win32/registry.h>

namespace opossvc::testing {

constexpr char kSerialComm[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

PtyDevice::PtyDevice() { Map(pty_->slave_path(), name()); }

void PtyDevice::Map(const std::string& device, const std::string& com) {
  ASSERT_EQ(registry_.SetString(HKEY_LOCAL_MACHINE, kSerialComm, device, com), ERROR_SUCCESS);
}

void PtyDevice::Replug() {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, pty_->slave_path().c_str()), ERROR_SUCCESS);
  RegCloseKey(key);
  pty_ = std::make_unique<Pty>();
  Map(pty_->slave_path(), name());
}

std::string VirtualPortDevice::Receive(size_t count) {
  port_.WaitForWritten(count, kPatience);
  return port_.TakeWritten(count);
}

DWORD SetTimeouts(detail::SerialPort& port, DWORD interval, DWORD read_multiplier,
                  DWORD read_constant, DWORD write_multiplier, DWORD write_constant) {
  return port.SetTimeouts(
      {interval, read_multiplier, read_constant, write_multiplier, write_constant});
}

ReadResult ReadPort(detail::SerialPort& port, DWORD size) {
  ReadResult result;
  std::string buffer(size, '\0');
  DWORD read = 0;
  result.error = port.Read(buffer.data(), size, &read);
  result.ok = result.error == 0;
  buffer.resize(read);
  result.bytes = buffer;
  return result;
}

WriteResult WritePort(detail::SerialPort& port, const std::string& bytes) {
  WriteResult result;
  result.error = port.Write(bytes.data(), static_cast<DWORD>(bytes.size()), &result.written);
  result.ok = result.error == 0;
  return result;
}

bool VirtualPortDevice::WaitForWaitingRead() {
  return port_.WaitUntil([](const VirtualPort::State& s) { return s.readers_waiting == 1; },
                         kPatience);
}

}  // namespace opossvc::testing
