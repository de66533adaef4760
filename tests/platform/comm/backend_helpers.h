// The far end of the cable for each comm backend, played by the test: a pseudo-terminal under the
// termios backend (its system calls through the faulty table, no fault planned yet), or a
// VirtualPort. And a fixture holding a port of the comm seam open on one, as the driver does.
#ifndef OPOSSVC_TESTS_PLATFORM_COMM_BACKEND_HELPERS_H_
#define OPOSSVC_TESTS_PLATFORM_COMM_BACKEND_HELPERS_H_

#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/testing/virtual_port.h>
#include <opossvc/win32/comm.h>

#include "platform/internal/serial_port.h"
#include "tests/support/comm_faults.h"
#include "tests/support/comm_helpers.h"

namespace opossvc::testing {

class Device {
 public:
  virtual ~Device() = default;
  // The COM name the device answers to.
  virtual const char* name() const = 0;
  virtual void Send(const std::string& bytes) = 0;
  // What the port wrote: waits for `count` bytes.
  virtual std::string Receive(size_t count) = 0;
  // True once a read waits for the device.
  virtual bool WaitForWaitingRead() = 0;
  // From now on the device takes a few kilobytes more at most.
  virtual void Stall() = 0;
  // The cable is pulled: waiting calls end and opens fail, until Replug().
  virtual void Unplug() = 0;
  virtual void Replug() = 0;
  // Calls that went to the device so far (0 where nothing counts them).
  virtual int Calls() const = 0;
};

// A pseudo-terminal mapped to COM201 through the SERIALCOMM key; the test holds the master side.
class PtyDevice : public Device {
 public:
  PtyDevice();
  const char* name() const override { return "COM201"; }
  void Send(const std::string& bytes) override { pty_->Write(bytes); }
  std::string Receive(size_t count) override { return pty_->Read(count); }
  bool WaitForWaitingRead() override { return faults_.WaitForBlockedPoll(); }
  void Stall() override {}  // the test reads nothing unless asked
  // A hang-up; back as a new terminal under the same COM name.
  void Unplug() override { pty_->CloseMaster(); }
  void Replug() override;
  int Calls() const override { return faults_->calls; }

  // Maps `device` to `com` in the SERIALCOMM key.
  void Map(const std::string& device, const std::string& com);
  Pty& pty() { return *pty_; }
  FaultyCommCalls& faults() { return faults_; }
  TempRegistry& registry() { return registry_; }

 private:
  FaultyCommCalls faults_;
  TempRegistry registry_;
  std::unique_ptr<Pty> pty_ = std::make_unique<Pty>();
};

// A VirtualPort on COM7 that holds 4095 received bytes, as a tty does.
class VirtualPortDevice : public Device {
 public:
  VirtualPortDevice() { port_.SetReceiveCapacity(4095); }
  const char* name() const override { return "COM7"; }
  void Send(const std::string& bytes) override { port_.Send(bytes); }
  std::string Receive(size_t count) override;
  bool WaitForWaitingRead() override;
  void Stall() override { port_.SetWriteCapacity(4096); }
  void Unplug() override { port_.Unplug(); }
  void Replug() override { port_.Replug(); }
  int Calls() const override { return 0; }

  VirtualPort& port() { return port_; }

 private:
  VirtualPort port_{"COM7"};
};

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
