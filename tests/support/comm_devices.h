// The far end of the cable for each comm backend, played by the test: a pseudo-terminal under the
// termios backend (its system calls through the faulty table, no fault planned yet), or a
// VirtualPort. Each can be unplugged and plugged back in under the same COM name.
#ifndef OPOSSVC_TESTS_SUPPORT_COMM_DEVICES_H_
#define OPOSSVC_TESTS_SUPPORT_COMM_DEVICES_H_

#include <memory>
#include <string>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/testing/virtual_port.h>

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

// A pseudo-terminal behind a link in a private registry's folder, mapped to the COM name through
// the SERIALCOMM key, as a /dev/serial/by-id link names a USB adapter; the test holds the master
// side. Unplugged, the terminal hangs up and the link goes; plugged back in, the link names a new
// terminal.
class PtyDevice : public Device {
 public:
  explicit PtyDevice(std::string com = "COM201");
  ~PtyDevice() override;
  const char* name() const override { return com_.c_str(); }
  void Send(const std::string& bytes) override { pty_->Write(bytes); }
  std::string Receive(size_t count) override { return pty_->Read(count); }
  bool WaitForWaitingRead() override { return faults_.WaitForBlockedPoll(); }
  void Stall() override {}  // the test reads nothing unless asked
  void Unplug() override;
  void Replug() override;
  int Calls() const override { return faults_->calls; }

  // Maps `device` to `com` in the SERIALCOMM key.
  void Map(const std::string& device, const std::string& com);
  Pty& pty() { return *pty_; }
  FaultyCommCalls& faults() { return faults_; }
  TempRegistry& registry() { return registry_; }

 private:
  std::string com_;
  FaultyCommCalls faults_;
  TempRegistry registry_;
  std::string link_ = registry_.root() + "/serial-link";
  std::unique_ptr<Pty> pty_ = std::make_unique<Pty>();
};

// A VirtualPort that holds 4095 received bytes, as a tty does.
class VirtualPortDevice : public Device {
 public:
  explicit VirtualPortDevice(const char* com = "COM7") : port_(com) {
    port_.SetReceiveCapacity(4095);
  }
  const char* name() const override { return port_.name().c_str(); }
  void Send(const std::string& bytes) override { port_.Send(bytes); }
  std::string Receive(size_t count) override;
  bool WaitForWaitingRead() override;
  void Stall() override { port_.SetWriteCapacity(4096); }
  void Unplug() override { port_.Unplug(); }
  void Replug() override { port_.Replug(); }
  int Calls() const override { return 0; }

  VirtualPort& port() { return port_; }

 private:
  VirtualPort port_;
};

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTS_SUPPORT_COMM_DEVICES_H_
