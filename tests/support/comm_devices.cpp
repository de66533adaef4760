#include "tests/support/comm_devices.h"

#include <unistd.h>

#include <gtest/gtest.h>

namespace opossvc::testing {

PtyDevice::PtyDevice(std::string com) : com_(std::move(com)) {
  Replug();
  Map(link_, com_);
}

PtyDevice::~PtyDevice() { unlink(link_.c_str()); }

void PtyDevice::Map(const std::string& device, const std::string& com) {
  ASSERT_EQ(registry_.SetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", device, com),
            ERROR_SUCCESS);
}

void PtyDevice::Unplug() {
  unlink(link_.c_str());
  pty_->CloseMaster();
}

void PtyDevice::Replug() {
  if (pty_->master() < 0) pty_ = std::make_unique<Pty>();
  ASSERT_EQ(symlink(pty_->slave_path().c_str(), link_.c_str()), 0) << errno;
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
