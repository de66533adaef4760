#include <opossvc/testing/virtual_port.h>

#include <stdexcept>

#include "platform/internal/serial_port.h"
#include "testing/virtual_device.h"

namespace opossvc::testing {

VirtualPort::VirtualPort(std::string_view com_name) {
  int number = detail::ParseComName(com_name);
  if (number == 0) {
    throw std::invalid_argument("VirtualPort: not a COM port name: " + std::string(com_name));
  }
  name_ = "COM" + std::to_string(number);
  device_ = std::make_shared<detail::VirtualDevice>();
  if (!detail::VirtualDevice::Attach(number, device_)) {
    throw std::logic_error("VirtualPort: " + name_ + " is already taken over");
  }
}

VirtualPort::~VirtualPort() { device_->Retire(detail::ParseComName(name_)); }

void VirtualPort::SetCts(bool on) { device_->SetModemLine(MS_CTS_ON, on); }
void VirtualPort::SetDsr(bool on) { device_->SetModemLine(MS_DSR_ON, on); }
void VirtualPort::SetRing(bool on) { device_->SetModemLine(MS_RING_ON, on); }
void VirtualPort::SetRlsd(bool on) { device_->SetModemLine(MS_RLSD_ON, on); }
void VirtualPort::SetModemStatus(DWORD ms_bits) { device_->SetModemStatus(ms_bits); }

bool VirtualPort::rts() const { return device_->Snapshot().rts; }
bool VirtualPort::dtr() const { return device_->Snapshot().dtr; }
bool VirtualPort::break_on() const { return device_->Snapshot().break_on; }
bool VirtualPort::output_held() const { return device_->Snapshot().output_held; }
VirtualPort::State VirtualPort::state() const { return device_->Snapshot(); }

void VirtualPort::Send(std::string_view bytes) { device_->Send(bytes.data(), bytes.size()); }
void VirtualPort::Send(const void* data, size_t size) { device_->Send(data, size); }
void VirtualPort::InjectError(DWORD ce_errors) { device_->InjectError(ce_errors); }

void VirtualPort::SetWriteCapacity(size_t bytes) { device_->SetWriteCapacity(bytes); }
size_t VirtualPort::write_capacity() const { return device_->write_capacity(); }
void VirtualPort::SetReceiveCapacity(size_t bytes) { device_->SetReceiveCapacity(bytes); }

std::string VirtualPort::TakeWritten() { return device_->TakeWritten(kUnlimited); }
std::string VirtualPort::TakeWritten(size_t max_bytes) { return device_->TakeWritten(max_bytes); }

bool VirtualPort::WaitForWritten(size_t count, std::chrono::milliseconds timeout) const {
  return device_->WaitUntil([count](const State& state) { return state.written >= count; },
                            timeout);
}

bool VirtualPort::WaitUntil(const std::function<bool(const State&)>& predicate,
                            std::chrono::milliseconds timeout) const {
  return device_->WaitUntil(predicate, timeout);
}

DCB VirtualPort::dcb() const { return device_->dcb(); }
COMMTIMEOUTS VirtualPort::timeouts() const { return device_->timeouts(); }
DWORD VirtualPort::input_queue_size() const { return device_->input_queue_size(); }
DWORD VirtualPort::output_queue_size() const { return device_->output_queue_size(); }
int VirtualPort::set_state_count() const { return device_->set_state_count(); }

void VirtualPort::Unplug() { device_->Unplug(); }
void VirtualPort::Replug() { device_->Replug(); }
void VirtualPort::SetHeldElsewhere(bool held) { device_->SetHeldElsewhere(held); }

int VirtualPort::open_count() const { return device_->Snapshot().open_count; }
int VirtualPort::open_handles() const { return device_->Snapshot().open_handles; }

}  // namespace opossvc::testing
