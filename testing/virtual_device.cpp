// Serial ports on devices played inside the process (opossvc::testing::VirtualPort).
//
// One mutex per device guards all of its state and one condition variable carries every change,
// so a waiting ReadFile or WriteFile wakes at once on Send, on a line change, on new write
// capacity, on a purge, an unplug or a close, and re-tests its own condition. Nothing polls.
#include "testing/virtual_device.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/files.h>

#include "platform/internal/comm_timeouts.h"

namespace opossvc::detail {
namespace {

using testing::VirtualPort;

DCB InitialDcb() {
  DCB dcb = {};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = CBR_9600;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fTXContinueOnXoff = 1;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

// The port side of one open handle.
class VirtualCommPort final : public CommPort {
 public:
  explicit VirtualCommPort(std::shared_ptr<VirtualDevice> device) : device_(std::move(device)) {}
  ~VirtualCommPort() override { Close(); }

  VirtualDevice::Session& session() { return session_; }

  DWORD QueryState(DCB* dcb) override { return device_->QueryState(session_, dcb); }
  DWORD ApplyState(const DCB& dcb) override { return device_->ApplyState(session_, dcb); }
  DWORD Setup(DWORD in, DWORD out) override { return device_->Setup(session_, in, out); }
  DWORD Properties(COMMPROP* properties) override {
    return device_->QueueSizes(session_, properties);
  }
  DWORD SetTimeouts(const COMMTIMEOUTS& t) override { return device_->SetTimeouts(session_, t); }
  DWORD Read(void* buffer, DWORD size, DWORD* read) override {
    return device_->Read(session_, buffer, size, read);
  }
  DWORD Write(const void* data, DWORD size, DWORD* written) override {
    return device_->Write(session_, data, size, written);
  }
  DWORD Drain() override { return device_->Drain(session_); }
  DWORD Purge(DWORD flags) override { return device_->Purge(session_, flags); }
  DWORD ClearError(DWORD* errors, COMSTAT* stat) override {
    return device_->ClearError(session_, errors, stat);
  }
  DWORD ModemStatus(DWORD* status) override { return device_->ModemStatus(session_, status); }
  DWORD Escape(DWORD function) override { return device_->Escape(session_, function); }
  void SetEventMask(DWORD mask) override { device_->SetEventMask(session_, mask); }
  DWORD WaitInput(DWORD timeout_ms, DWORD* events) override {
    return device_->WaitInput(session_, timeout_ms, events);
  }
  void Close() override { device_->Close(session_); }

 private:
  const std::shared_ptr<VirtualDevice> device_;
  VirtualDevice::Session session_;
};

}  // namespace

VirtualDevice::VirtualDevice() : dcb_(InitialDcb()) {}

// ---- The table ----------------------------------------------------------------------------------

bool VirtualDevice::Attach(int number, const std::shared_ptr<VirtualDevice>& device) {
  return AttachVirtualSerialDevice(number, device);
}

void VirtualDevice::Retire(int number) {
  DetachVirtualSerialDevice(number, this);
  MutexLock lock(mutex_);
  retired_ = true;
  live_ = nullptr;
  DropLinesLocked();
  received_.clear();
  changed_.notify_all();
}

// ---- The device side ----------------------------------------------------------------------------

void VirtualDevice::SetModemLine(DWORD ms_bit, bool on) {
  MutexLock lock(mutex_);
  modem_status_ = on ? (modem_status_ | ms_bit) : (modem_status_ & ~ms_bit);
  changed_.notify_all();
}

void VirtualDevice::SetModemStatus(DWORD ms_bits) {
  MutexLock lock(mutex_);
  modem_status_ = ms_bits & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
  changed_.notify_all();
}

VirtualDevice::State VirtualDevice::Snapshot() {
  MutexLock lock(mutex_);
  return SnapshotLocked();
}

VirtualDevice::State VirtualDevice::SnapshotLocked() {
  State state;
  state.rts = rts_;
  state.dtr = dtr_;
  state.break_on = break_on_;
  state.output_held = xoff_hold_;
  state.cts = (modem_status_ & MS_CTS_ON) != 0;
  state.dsr = (modem_status_ & MS_DSR_ON) != 0;
  state.ring = (modem_status_ & MS_RING_ON) != 0;
  state.rlsd = (modem_status_ & MS_RLSD_ON) != 0;
  state.written = written_.size();
  state.receive_queue = received_.size();
  state.plugged = plugged_ && !retired_;
  state.open_handles = open_handles_;
  state.open_count = open_count_;
  state.readers_waiting = readers_waiting_;
  state.writers_waiting = writers_waiting_;
  return state;
}

// Bytes reach the receive queue only while a handle has the port open, as on a real port, and
// only while it has room: the others are lost with an overrun of the queue. With XON/XOFF output
// flow on, the flow characters steer output and are not queued.
void VirtualDevice::Send(const void* data, size_t size) {
  MutexLock lock(mutex_);
  if (!live_) return;
  const auto* bytes = static_cast<const unsigned char*>(data);
  const auto xon = static_cast<unsigned char>(dcb_.XonChar);
  const auto xoff = static_cast<unsigned char>(dcb_.XoffChar);
  for (size_t i = 0; i < size; ++i) {
    if (dcb_.fOutX && bytes[i] == xoff) {
      xoff_hold_ = true;
    } else if (dcb_.fOutX && bytes[i] == xon) {
      xoff_hold_ = false;
    } else if (received_.size() < receive_capacity_) {
      received_.push_back(bytes[i]);
    } else {
      line_errors_ |= CE_RXOVER;
    }
  }
  changed_.notify_all();
}

void VirtualDevice::InjectError(DWORD ce_errors) {
  MutexLock lock(mutex_);
  line_errors_ |= ce_errors;
  changed_.notify_all();
}

void VirtualDevice::SetWriteCapacity(size_t bytes) {
  MutexLock lock(mutex_);
  write_capacity_ = bytes;
  changed_.notify_all();
}

size_t VirtualDevice::write_capacity() {
  MutexLock lock(mutex_);
  return write_capacity_;
}

void VirtualDevice::SetReceiveCapacity(size_t bytes) {
  MutexLock lock(mutex_);
  receive_capacity_ = bytes;
}

std::string VirtualDevice::TakeWritten(size_t max_bytes) {
  MutexLock lock(mutex_);
  std::string taken;
  if (max_bytes >= written_.size()) {
    taken.swap(written_);
  } else {
    taken = written_.substr(0, max_bytes);
    written_.erase(0, max_bytes);
  }
  changed_.notify_all();
  return taken;
}

bool VirtualDevice::WaitUntil(const std::function<bool(const State&)>& predicate,
                              std::chrono::milliseconds timeout) {
  const auto deadline = CommClock::now() + timeout;
  MutexLock lock(mutex_);
  for (;;) {
    if (predicate(SnapshotLocked())) return true;
    if (CommClock::now() >= deadline) return false;
    lock.WaitUntil(changed_, deadline);
  }
}

DCB VirtualDevice::dcb() {
  MutexLock lock(mutex_);
  return dcb_;
}

COMMTIMEOUTS VirtualDevice::timeouts() {
  MutexLock lock(mutex_);
  return timeouts_;
}

DWORD VirtualDevice::input_queue_size() {
  MutexLock lock(mutex_);
  return input_queue_size_;
}

DWORD VirtualDevice::output_queue_size() {
  MutexLock lock(mutex_);
  return output_queue_size_;
}

int VirtualDevice::set_state_count() {
  MutexLock lock(mutex_);
  return set_state_count_;
}

void VirtualDevice::Unplug() {
  MutexLock lock(mutex_);
  plugged_ = false;
  live_ = nullptr;
  DropLinesLocked();
  received_.clear();
  line_errors_ = 0;
  changed_.notify_all();
}

void VirtualDevice::Replug() {
  MutexLock lock(mutex_);
  plugged_ = true;
  changed_.notify_all();
}

void VirtualDevice::SetHeldElsewhere(bool held) {
  MutexLock lock(mutex_);
  held_elsewhere_ = held;
  changed_.notify_all();
}

// ---- The port side ------------------------------------------------------------------------------

// The port side is the backend under the rules of the Win32 calls, as CreateFileA would give it.
DWORD VirtualDevice::Open(std::unique_ptr<SerialPort>* port) {
  std::unique_ptr<CommPort> backend;
  if (DWORD error = OpenBackend(&backend)) return error;
  std::unique_ptr<BackedSerialPort> opened;
  if (DWORD error = BackedSerialPort::Open(std::move(backend), GENERIC_READ | GENERIC_WRITE,
                                           &opened)) {
    return error;
  }
  *port = std::move(opened);
  return 0;
}

DWORD VirtualDevice::OpenBackend(std::unique_ptr<CommPort>* port) {
  auto opened = std::make_unique<VirtualCommPort>(shared_from_this());
  MutexLock lock(mutex_);
  if (retired_ || !plugged_) {
    opened->session().closed = true;  // never counted as open
    return ERROR_FILE_NOT_FOUND;
  }
  if (held_elsewhere_ || live_) {
    opened->session().closed = true;
    return ERROR_ACCESS_DENIED;
  }
  live_ = &opened->session();
  ++open_count_;
  ++open_handles_;
  received_.clear();
  line_errors_ = 0;
  timeouts_ = {};
  xoff_hold_ = false;
  break_on_ = false;
  dtr_ = dcb_.fDtrControl != DTR_CONTROL_DISABLE;
  rts_ = dcb_.fRtsControl == RTS_CONTROL_ENABLE || dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE;
  changed_.notify_all();
  *port = std::move(opened);
  return 0;
}

void VirtualDevice::Close(Session& session) {
  MutexLock lock(mutex_);
  if (session.closed) return;
  session.closed = true;
  --open_handles_;
  if (live_ == &session) {
    live_ = nullptr;
    DropLinesLocked();
    received_.clear();
    timeouts_ = {};
  }
  changed_.notify_all();
}

DWORD VirtualDevice::SessionErrorLocked(const Session& session) {
  if (session.closed) return ERROR_OPERATION_ABORTED;
  if (live_ != &session) return ERROR_DEVICE_NOT_CONNECTED;
  return 0;
}

DWORD VirtualDevice::PendingAbortLocked() {
  return dcb_.fAbortOnError && ReportedLineErrors(line_errors_, dcb_) ? ERROR_OPERATION_ABORTED : 0;
}

bool VirtualDevice::CanTransmitLocked() {
  if (write_capacity_ == 0 || xoff_hold_) return false;
  if (dcb_.fOutxCtsFlow && !(modem_status_ & MS_CTS_ON)) return false;
  if (dcb_.fOutxDsrFlow && !(modem_status_ & MS_DSR_ON)) return false;
  return true;
}

void VirtualDevice::WaitLocked(MutexLock& lock, int* waiting,
                               const std::optional<CommClock::time_point>& deadline) {
  ++*waiting;
  changed_.notify_all();
  lock.WaitUntil(changed_, deadline);
  --*waiting;
}

void VirtualDevice::DropLinesLocked() {
  rts_ = false;
  dtr_ = false;
  break_on_ = false;
  xoff_hold_ = false;
}

DWORD VirtualDevice::QueryState(const Session& session, DCB* dcb) {
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  *dcb = dcb_;
  return 0;
}

DWORD VirtualDevice::ApplyState(const Session& session, const DCB& dcb) {
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  dcb_ = dcb;
  ++set_state_count_;
  changed_.notify_all();  // flow control may let a waiting write go on
  return 0;
}

DWORD VirtualDevice::Setup(const Session& session, DWORD input_queue, DWORD output_queue) {
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  input_queue_size_ = input_queue;
  output_queue_size_ = output_queue;
  return 0;
}

// A receive queue without a limit of its own is reported with the size asked for, as a Win32
// driver allocates it.
DWORD VirtualDevice::QueueSizes(const Session& session, COMMPROP* properties) {
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  const bool limited = receive_capacity_ != VirtualPort::kUnlimited;
  const DWORD capacity = static_cast<DWORD>(std::min<size_t>(receive_capacity_, MAXDWORD));
  properties->dwMaxRxQueue = limited ? capacity : 0;
  properties->dwCurrentRxQueue = limited ? capacity : input_queue_size_;
  properties->dwMaxTxQueue = 0;
  properties->dwCurrentTxQueue = output_queue_size_;
  return 0;
}

DWORD VirtualDevice::SetTimeouts(const Session& session, const COMMTIMEOUTS& timeouts) {
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  timeouts_ = timeouts;
  return 0;
}

DWORD VirtualDevice::Read(const Session& session, void* buffer, DWORD size, DWORD* read) {
  *read = 0;
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  if (DWORD error = PendingAbortLocked()) return error;
  auto* bytes = static_cast<unsigned char*>(buffer);
  const CommClock::time_point start = CommClock::now();
  const ReadTimeouts rules(timeouts_, size, start);
  const uint64_t aborts = read_aborts_;
  CommClock::time_point last_arrival = start;
  DWORD got = 0;
  for (;;) {
    DWORD before = got;
    while (got < size && !received_.empty()) {
      unsigned char byte = received_.front();
      received_.pop_front();
      if (byte == 0 && dcb_.fNull) continue;
      bytes[got++] = byte;
    }
    CommClock::time_point now = CommClock::now();
    if (got != before) {
      last_arrival = now;
      changed_.notify_all();  // the receive queue shrank
    }
    if (rules.Done(got, last_arrival, now)) break;
    WaitLocked(lock, &readers_waiting_, rules.Deadline(got, last_arrival));
    if (DWORD error = SessionErrorLocked(session)) {
      *read = got;
      // Bytes taken before the device went away are delivered; a close aborts the call.
      return error == ERROR_DEVICE_NOT_CONNECTED && got > 0 ? 0 : error;
    }
    if (read_aborts_ != aborts) {
      *read = got;
      return ERROR_OPERATION_ABORTED;
    }
  }
  *read = got;
  return 0;
}

void VirtualDevice::SetEventMask(Session& session, DWORD mask) {
  MutexLock lock(mutex_);
  session.event_mask = mask;
  ++session.mask_changes;
  changed_.notify_all();
}

// Counted with the readers waiting: the test sees a driver that waits for input as one that waits
// for bytes.
DWORD VirtualDevice::WaitInput(Session& session, DWORD timeout_ms, DWORD* events) {
  *events = 0;
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  if (session.event_mask == 0 || session.input_waiting) return ERROR_INVALID_PARAMETER;
  std::optional<CommClock::time_point> deadline;
  if (timeout_ms != INFINITE) deadline = CommClock::now() + std::chrono::milliseconds(timeout_ms);
  const uint64_t changes = session.mask_changes;
  session.input_waiting = true;
  DWORD error = 0;
  for (;;) {
    if ((session.event_mask & EV_RXCHAR) != 0 && !received_.empty()) {
      *events = EV_RXCHAR;
      break;
    }
    if (deadline && CommClock::now() >= *deadline) break;
    WaitLocked(lock, &readers_waiting_, deadline);
    if ((error = SessionErrorLocked(session)) != 0 || session.mask_changes != changes) break;
  }
  session.input_waiting = false;
  return error;
}

DWORD VirtualDevice::Write(const Session& session, const void* data, DWORD size, DWORD* written) {
  *written = 0;
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  if (DWORD error = PendingAbortLocked()) return error;
  const auto* bytes = static_cast<const char*>(data);
  const std::optional<CommClock::time_point> deadline = WriteDeadline(timeouts_, size);
  const uint64_t aborts = write_aborts_;
  const bool toggle = dcb_.fRtsControl == RTS_CONTROL_TOGGLE;
  if (toggle) rts_ = true;
  writing_ += size;
  changed_.notify_all();
  DWORD put = 0;
  DWORD error = 0;
  while (put < size) {
    if (CanTransmitLocked()) {
      size_t chunk = std::min<size_t>(size - put, write_capacity_);
      written_.append(bytes + put, chunk);
      if (write_capacity_ != VirtualPort::kUnlimited) write_capacity_ -= chunk;
      put += static_cast<DWORD>(chunk);
      writing_ -= chunk;
      changed_.notify_all();
      continue;
    }
    if (deadline && CommClock::now() >= *deadline) break;
    WaitLocked(lock, &writers_waiting_, deadline);
    if ((error = SessionErrorLocked(session)) != 0) break;
    if (write_aborts_ != aborts) {
      error = ERROR_OPERATION_ABORTED;
      break;
    }
  }
  writing_ -= size - put;
  if (toggle && live_ == &session) rts_ = false;
  changed_.notify_all();
  *written = put;
  return error;
}

DWORD VirtualDevice::Drain(const Session& session) {
  MutexLock lock(mutex_);
  for (;;) {
    if (DWORD error = SessionErrorLocked(session)) return error;
    if (writing_ == 0) return 0;
    lock.WaitUntil(changed_, std::nullopt);
  }
}

DWORD VirtualDevice::Purge(const Session& session, DWORD flags) {
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  if (flags & PURGE_RXCLEAR) received_.clear();
  if (flags & PURGE_RXABORT) ++read_aborts_;
  if (flags & PURGE_TXABORT) ++write_aborts_;
  // PURGE_TXCLEAR: written bytes reach the device at once, so no transmit buffer holds any.
  changed_.notify_all();
  return 0;
}

DWORD VirtualDevice::ClearError(const Session& session, DWORD* errors, COMSTAT* stat) {
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  *errors = ReportedLineErrors(line_errors_, dcb_);
  line_errors_ = 0;
  *stat = {};
  stat->fCtsHold = dcb_.fOutxCtsFlow && !(modem_status_ & MS_CTS_ON);
  stat->fDsrHold = dcb_.fOutxDsrFlow && !(modem_status_ & MS_DSR_ON);
  stat->fXoffHold = xoff_hold_;
  stat->cbInQue = static_cast<DWORD>(std::min<size_t>(received_.size(), MAXDWORD));
  stat->cbOutQue = static_cast<DWORD>(std::min<size_t>(writing_, MAXDWORD));
  changed_.notify_all();
  return 0;
}

DWORD VirtualDevice::ModemStatus(const Session& session, DWORD* status) {
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  *status = modem_status_;
  return 0;
}

DWORD VirtualDevice::Escape(const Session& session, DWORD function) {
  MutexLock lock(mutex_);
  if (DWORD error = SessionErrorLocked(session)) return error;
  switch (function) {
    case SETRTS:
      rts_ = true;
      break;
    case CLRRTS:
      rts_ = false;
      break;
    case SETDTR:
      dtr_ = true;
      break;
    case CLRDTR:
      dtr_ = false;
      break;
    case SETBREAK:
      break_on_ = true;
      break;
    case CLRBREAK:
      break_on_ = false;
      break;
    case SETXOFF:
      xoff_hold_ = true;
      break;
    case SETXON:
      xoff_hold_ = false;
      break;
    default:
      return ERROR_INVALID_PARAMETER;
  }
  changed_.notify_all();
  return 0;
}

}  // namespace opossvc::detail
