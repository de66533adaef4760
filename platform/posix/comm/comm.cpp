// The Win32 serial-communications calls: argument checks, what the Get calls report, and the
// hand-over of each operation to the port's backend (comm_port.h).
#include <cctype>
#include <memory>
#include <string_view>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/comm.h>
#include <opossvc/win32/errors.h>

#include "platform/internal/comm_wait.h"
#include "platform/posix/comm/comm_mutex.h"
#include "platform/posix/comm/comm_port.h"
#include "platform/posix/files/file_object.h"
#include "platform/posix/kernel/handle_table.h"

namespace opossvc::detail {
namespace {

constexpr DWORD kAllEvents = 0x1FFF;
constexpr DWORD kAllPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// The level a control field puts its line at when it is set.
DWORD DtrEscapeFor(DWORD control) { return control == DTR_CONTROL_DISABLE ? CLRDTR : SETDTR; }
DWORD RtsEscapeFor(DWORD control) {
  return control == RTS_CONTROL_DISABLE || control == RTS_CONTROL_TOGGLE ? CLRRTS : SETRTS;
}

// One open serial port behind a HANDLE.
class CommHandle final : public FileObject {
 public:
  CommHandle(std::unique_ptr<CommPort> port, DWORD access, const DCB& initial)
      : port_(std::move(port)), access_(access), dcb_(initial) {}

  DWORD Read(void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    if (!(access_ & GENERIC_READ)) return ERROR_ACCESS_DENIED;
    return port_->Read(buffer, size, read);
  }
  DWORD Write(const void* data, DWORD size, DWORD* written) override {
    *written = 0;
    if (!(access_ & GENERIC_WRITE)) return ERROR_ACCESS_DENIED;
    return port_->Write(data, size, written);
  }
  DWORD Flush() override { return port_->Drain(); }
  void OnClose() override { port_->Close(); }

  CommPort& port() { return *port_; }

  DCB GetState() {
    CommLock lock(mutex_);
    return dcb_;
  }

  // Applies the settings, then moves DTR and RTS where a changed control field puts them (the
  // first SetCommState of a handle sets both). Lines that the caller moved with
  // EscapeCommFunction stay where they are while their control field is unchanged, so that
  // switching output flow control on and off does not undo input flow control.
  DWORD SetState(const DCB& requested) {
    CommLock lock(mutex_);
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

  COMMTIMEOUTS GetTimeouts() {
    CommLock lock(mutex_);
    return timeouts_;
  }
  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) {
    CommLock lock(mutex_);
    if (DWORD error = port_->SetTimeouts(timeouts)) return error;
    timeouts_ = timeouts;
    return 0;
  }

  // A line under the port's own handshake is not the caller's to move.
  DWORD Escape(DWORD function) {
    CommLock lock(mutex_);
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

  DWORD GetMask() {
    CommLock lock(mutex_);
    return mask_;
  }
  void SetMask(DWORD mask) {
    CommLock lock(mutex_);
    mask_ = mask;
    port_->SetEventMask(mask);
  }

 private:
  // Set at construction; the backend is thread-safe by itself.
  const std::unique_ptr<CommPort> port_;
  const DWORD access_;

  // Serialises the calls that change settings or lines, and guards what they report.
  CommMutex mutex_;
  DCB dcb_ OPOSSVC_GUARDED_BY(mutex_);
  bool state_set_ OPOSSVC_GUARDED_BY(mutex_) = false;
  COMMTIMEOUTS timeouts_ OPOSSVC_GUARDED_BY(mutex_) = {};
  DWORD mask_ OPOSSVC_GUARDED_BY(mutex_) = 0;
};

// The open port behind `handle`, or null with ERROR_INVALID_HANDLE set.
std::shared_ptr<CommHandle> FindPort(HANDLE handle) {
  std::shared_ptr<CommHandle> port = LookupHandleAs<CommHandle>(handle);
  if (!port) SetLastError(ERROR_INVALID_HANDLE);
  return port;
}

BOOL Result(DWORD error) {
  if (error != 0) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int ParseComName(std::string_view name) {
  if (name.size() >= 4 && (name.substr(0, 4) == "\\\\.\\" || name.substr(0, 4) == "//./")) {
    name.remove_prefix(4);
  }
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  int number = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  if (name[3] == '0' || number < 1 || number > 255) return 0;
  return number;
}

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

BOOL WaitCommInput(HANDLE port, DWORD* events, DWORD timeout_ms) {
  auto comm = FindPort(port);
  if (!comm) return FALSE;
  if (!events) return Result(ERROR_INVALID_PARAMETER);
  *events = 0;
  return Result(comm->port().WaitInput(timeout_ms, events));
}

HANDLE OpenCommHandle(int number, DWORD desired_access, DWORD flags_and_attributes) {
  std::unique_ptr<CommPort> port;
  DWORD error = 0;
  if (!OpenVirtualCommPort(number, &port, &error)) error = OpenTermiosCommPort(number, &port);
  DCB dcb = {};
  if (error == 0) error = port->QueryState(&dcb);
  if (error != 0) {
    if (port) port->Close();
    SetLastError(error);
    return nullptr;
  }
  dcb.DCBlength = sizeof(DCB);
  auto handle_object = std::make_shared<CommHandle>(std::move(port), desired_access, dcb);
  HANDLE handle = InsertHandle(handle_object);
  if (!handle) handle_object->OnClose();
  return handle;
}

}  // namespace opossvc::detail

using opossvc::detail::FindPort;
using opossvc::detail::Result;

BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpDCB) return Result(ERROR_INVALID_PARAMETER);
  *lpDCB = port->GetState();
  return TRUE;
}

BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpDCB) return Result(ERROR_INVALID_PARAMETER);
  if (DWORD error = opossvc::detail::CheckDcb(*lpDCB)) return Result(error);
  return Result(port->SetState(*lpDCB));
}

BOOL WINAPI SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  return Result(port->port().Setup(dwInQueue, dwOutQueue));
}

BOOL WINAPI GetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpCommProp) return Result(ERROR_INVALID_PARAMETER);
  // What every port here takes: the DCBs that CheckDcb accepts, any rate, the time-outs.
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
  if (!Result(port->port().QueueSizes(&properties))) return FALSE;
  *lpCommProp = properties;
  return TRUE;
}

BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpCommTimeouts) return Result(ERROR_INVALID_PARAMETER);
  *lpCommTimeouts = port->GetTimeouts();
  return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpCommTimeouts) return Result(ERROR_INVALID_PARAMETER);
  // Win32 refuses the one combination that would mean "wait forever for one byte, and also
  // return at once".
  if (lpCommTimeouts->ReadIntervalTimeout == MAXDWORD &&
      lpCommTimeouts->ReadTotalTimeoutConstant == MAXDWORD &&
      lpCommTimeouts->ReadTotalTimeoutMultiplier == MAXDWORD) {
    return Result(ERROR_INVALID_PARAMETER);
  }
  return Result(port->SetTimeouts(*lpCommTimeouts));
}

BOOL WINAPI EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  return Result(port->Escape(dwFunc));
}

BOOL WINAPI SetCommBreak(HANDLE hFile) { return EscapeCommFunction(hFile, SETBREAK); }
BOOL WINAPI ClearCommBreak(HANDLE hFile) { return EscapeCommFunction(hFile, CLRBREAK); }

BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (dwFlags & ~opossvc::detail::kAllPurgeFlags) return Result(ERROR_INVALID_PARAMETER);
  if (dwFlags == 0) return TRUE;
  return Result(port->port().Purge(dwFlags));
}

BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  DWORD errors = 0;
  COMSTAT stat = {};
  if (!Result(port->port().ClearError(&errors, &stat))) return FALSE;
  if (lpErrors) *lpErrors = errors;
  if (lpStat) *lpStat = stat;
  return TRUE;
}

BOOL WINAPI GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpModemStat) return Result(ERROR_INVALID_PARAMETER);
  DWORD status = 0;
  if (!Result(port->port().ModemStatus(&status))) return FALSE;
  *lpModemStat = status;
  return TRUE;
}

BOOL WINAPI SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (dwEvtMask & ~opossvc::detail::kAllEvents) return Result(ERROR_INVALID_PARAMETER);
  port->SetMask(dwEvtMask);
  return TRUE;
}

BOOL WINAPI GetCommMask(HANDLE hFile, LPDWORD lpEvtMask) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpEvtMask) return Result(ERROR_INVALID_PARAMETER);
  *lpEvtMask = port->GetMask();
  return TRUE;
}
