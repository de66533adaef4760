// The rules of the Win32 comm calls over a device backend.
#include "platform/internal/comm_port.h"

#include <opossvc/win32/errors.h>
#include <opossvc/win32/files.h>

namespace opossvc::detail {
namespace {

constexpr DWORD kAllEvents = 0x1FFF;
constexpr DWORD kAllPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// The level a control field puts its line at when it is set.
DWORD DtrEscapeFor(DWORD control) { return control == DTR_CONTROL_DISABLE ? CLRDTR : SETDTR; }
DWORD RtsEscapeFor(DWORD control) {
  return control == RTS_CONTROL_DISABLE || control == RTS_CONTROL_TOGGLE ? CLRRTS : SETRTS;
}

}  // namespace

DWORD CheckDcb(const DCB& dcb) {
  if (dcb.BaudRate == 0) return ERROR_INVALID_PARAMETER;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return ERROR_INVALID_PARAMETER;
  if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) return ERROR_INVALID_PARAMETER;
  // A UART sends one and a half stop bits only with 5 data bits, and two only with more.
  if (dcb.ByteSize == 5 && dcb.StopBits == TWOSTOPBITS) return ERROR_INVALID_PARAMETER;
  if (dcb.ByteSize != 5 && dcb.StopBits == ONE5STOPBITS) return ERROR_INVALID_PARAMETER;
  // The port could not tell the two flow-control characters apart.
  if (dcb.XonChar == dcb.XoffChar) return ERROR_INVALID_PARAMETER;
  return 0;
}

DWORD ReportedLineErrors(DWORD raw, const DCB& dcb) {
  return dcb.fParity ? raw : raw & ~static_cast<DWORD>(CE_RXPARITY);
}

DWORD BackedSerialPort::Open(std::unique_ptr<CommPort> backend, DWORD access,
                             std::unique_ptr<BackedSerialPort>* port) {
  DCB dcb = {};
  if (DWORD error = backend->QueryState(&dcb)) {
    backend->Close();
    return error;
  }
  dcb.DCBlength = sizeof(DCB);
  port->reset(new BackedSerialPort(std::move(backend), access, dcb));
  return 0;
}

BackedSerialPort::BackedSerialPort(std::unique_ptr<CommPort> backend, DWORD access,
                                   const DCB& initial)
    : port_(std::move(backend)), access_(access), dcb_(initial) {}

BackedSerialPort::~BackedSerialPort() { Close(); }

void BackedSerialPort::Close() { port_->Close(); }

DWORD BackedSerialPort::Read(void* buffer, DWORD size, DWORD* read) {
  *read = 0;
  if (!(access_ & GENERIC_READ)) return ERROR_ACCESS_DENIED;
  return port_->Read(buffer, size, read);
}

DWORD BackedSerialPort::Write(const void* data, DWORD size, DWORD* written) {
  *written = 0;
  if (!(access_ & GENERIC_WRITE)) return ERROR_ACCESS_DENIED;
  return port_->Write(data, size, written);
}

DWORD BackedSerialPort::Flush() { return port_->Drain(); }

DWORD BackedSerialPort::GetState(DCB* dcb) {
  MutexLock lock(mutex_);
  *dcb = dcb_;
  return 0;
}

// Lines that the caller moved with Escape stay where they are while their control field is
// unchanged, so that switching output flow control on and off does not undo input flow control.
DWORD BackedSerialPort::SetState(const DCB& requested) {
  if (DWORD error = CheckDcb(requested)) return error;
  MutexLock lock(mutex_);
  DCB dcb = requested;
  dcb.DCBlength = sizeof(DCB);
  dcb.fBinary = 1;  // Win32 serial ports work in binary mode only.
  if (DWORD error = port_->ApplyState(dcb)) return error;
  bool first = !state_set_;
  state_set_ = true;
  DCB previous = dcb_;
  dcb_ = dcb;
  DWORD error = 0;
  if (first || previous.fDtrControl != dcb.fDtrControl) {
    error = port_->Escape(DtrEscapeFor(dcb.fDtrControl));
  }
  if (error == 0 && (first || previous.fRtsControl != dcb.fRtsControl)) {
    error = port_->Escape(RtsEscapeFor(dcb.fRtsControl));
  }
  return error;
}

DWORD BackedSerialPort::Setup(DWORD input_queue, DWORD output_queue) {
  return port_->Setup(input_queue, output_queue);
}

// What every port here takes: the DCBs that CheckDcb accepts, any rate, the time-outs; less what
// the device lacks.
DWORD BackedSerialPort::GetProperties(COMMPROP* result) {
  COMMPROP properties = {};
  properties.wPacketLength = sizeof(COMMPROP);
  properties.wPacketVersion = 2;
  properties.dwServiceMask = SP_SERIALCOMM;
  properties.dwMaxBaud = BAUD_USER;
  properties.dwProvSubType = PST_RS232;
  properties.dwProvCapabilities = PCF_DTRDSR | PCF_RTSCTS | PCF_RLSD | PCF_PARITY_CHECK |
                                  PCF_XONXOFF | PCF_SETXCHAR | PCF_TOTALTIMEOUTS | PCF_INTTIMEOUTS;
  properties.dwSettableParams =
      SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS | SP_HANDSHAKING | SP_PARITY_CHECK | SP_RLSD;
  properties.dwSettableBaud = BAUD_USER;
  properties.wSettableData = DATABITS_5 | DATABITS_6 | DATABITS_7 | DATABITS_8;
  properties.wSettableStopParity = STOPBITS_10 | STOPBITS_15 | STOPBITS_20 | PARITY_NONE |
                                   PARITY_ODD | PARITY_EVEN | PARITY_MARK | PARITY_SPACE;
  if (DWORD error = port_->Properties(&properties)) return error;
  *result = properties;
  return 0;
}

DWORD BackedSerialPort::GetTimeouts(COMMTIMEOUTS* timeouts) {
  MutexLock lock(mutex_);
  *timeouts = timeouts_;
  return 0;
}

DWORD BackedSerialPort::SetTimeouts(const COMMTIMEOUTS& timeouts) {
  // Win32 refuses the one combination that would mean "wait forever for one byte, and also
  // return at once".
  if (timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutConstant == MAXDWORD &&
      timeouts.ReadTotalTimeoutMultiplier == MAXDWORD) {
    return ERROR_INVALID_PARAMETER;
  }
  MutexLock lock(mutex_);
  if (DWORD error = port_->SetTimeouts(timeouts)) return error;
  timeouts_ = timeouts;
  return 0;
}

DWORD BackedSerialPort::ModemStatus(DWORD* status) {
  DWORD read = 0;
  if (DWORD error = port_->ModemStatus(&read)) return error;
  *status = read;
  return 0;
}

DWORD BackedSerialPort::ClearError(DWORD* errors, COMSTAT* stat) {
  DWORD read_errors = 0;
  COMSTAT read_stat = {};
  if (DWORD error = port_->ClearError(&read_errors, &read_stat)) return error;
  if (errors) *errors = read_errors;
  if (stat) *stat = read_stat;
  return 0;
}

// A line under the port's own handshake is not the caller's to move.
DWORD BackedSerialPort::Escape(DWORD function) {
  MutexLock lock(mutex_);
  switch (function) {
    case SETRTS:
    case CLRRTS:
      if (dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb_.fRtsControl == RTS_CONTROL_TOGGLE) {
        return ERROR_INVALID_PARAMETER;
      }
      break;
    case SETDTR:
    case CLRDTR:
      if (dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE) return ERROR_INVALID_PARAMETER;
      break;
    case SETXOFF:
    case SETXON:
    case SETBREAK:
    case CLRBREAK:
      break;
    case RESETDEV:
      return 0;  // Nothing to reset on these devices, as on most Win32 ports.
    default:
      return ERROR_INVALID_PARAMETER;
  }
  return port_->Escape(function);
}

DWORD BackedSerialPort::Purge(DWORD flags) {
  if (flags & ~kAllPurgeFlags) return ERROR_INVALID_PARAMETER;
  if (flags == 0) return 0;
  return port_->Purge(flags);
}

DWORD BackedSerialPort::GetMask() {
  MutexLock lock(mutex_);
  return mask_;
}

DWORD BackedSerialPort::SetMask(DWORD mask) {
  if (mask & ~kAllEvents) return ERROR_INVALID_PARAMETER;
  MutexLock lock(mutex_);
  mask_ = mask;
  port_->SetEventMask(mask);
  return 0;
}

DWORD BackedSerialPort::WaitInput(DWORD timeout_ms, DWORD* events) {
  *events = 0;
  return port_->WaitInput(timeout_ms, events);
}

}  // namespace opossvc::detail
