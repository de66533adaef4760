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

bool VirtualPortDevice::WaitForWaitingRead() {
  return port_.WaitUntil([](const VirtualPort::State& s) { return s.readers_waiting == 1; },
                         kPatience);
}

}  // namespace opossvc::testing
