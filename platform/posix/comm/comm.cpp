// The Win32 serial-communications calls: the port behind a handle, null arguments, and the
// hand-over of each call to the port (platform/internal/comm_port.h), which keeps the rules.
#include <memory>

#include <opossvc/win32/comm.h>
#include <opossvc/win32/errors.h>

#include "platform/internal/comm_port.h"
#include "platform/internal/comm_wait.h"
#include "platform/posix/comm/comm_handle.h"
#include "platform/posix/files/file_object.h"
#include "platform/posix/kernel/handle_table.h"

namespace opossvc::detail {
namespace {

// One open serial port behind a HANDLE.
class CommHandle final : public FileObject {
 public:
  explicit CommHandle(std::unique_ptr<BackedSerialPort> port) : port_(std::move(port)) {}

  DWORD Read(void* buffer, DWORD size, DWORD* read) override {
    return port_->Read(buffer, size, read);
  }
  DWORD Write(const void* data, DWORD size, DWORD* written) override {
    return port_->Write(data, size, written);
  }
  DWORD Flush() override { return port_->Flush(); }
  void OnClose() override { port_->Close(); }

  BackedSerialPort& port() { return *port_; }

 private:
  // Set at construction; the port is thread-safe by itself.
  const std::unique_ptr<BackedSerialPort> port_;
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

BOOL WaitCommInput(HANDLE port, DWORD* events, DWORD timeout_ms) {
  auto comm = FindPort(port);
  if (!comm) return FALSE;
  if (!events) return Result(ERROR_INVALID_PARAMETER);
  return Result(comm->port().WaitInput(timeout_ms, events));
}

HANDLE OpenCommHandle(int number, DWORD desired_access, DWORD /*flags_and_attributes*/) {
  std::unique_ptr<CommPort> backend;
  std::unique_ptr<BackedSerialPort> port;
  DWORD error = OpenTermiosCommPort(number, &backend);
  if (error == 0) error = BackedSerialPort::Open(std::move(backend), desired_access, &port);
  if (error != 0) {
    SetLastError(error);
    return nullptr;
  }
  auto handle_object = std::make_shared<CommHandle>(std::move(port));
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
  return Result(port->port().GetState(lpDCB));
}

BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpDCB) return Result(ERROR_INVALID_PARAMETER);
  return Result(port->port().SetState(*lpDCB));
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
  return Result(port->port().GetProperties(lpCommProp));
}

BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpCommTimeouts) return Result(ERROR_INVALID_PARAMETER);
  return Result(port->port().GetTimeouts(lpCommTimeouts));
}

BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpCommTimeouts) return Result(ERROR_INVALID_PARAMETER);
  return Result(port->port().SetTimeouts(*lpCommTimeouts));
}

BOOL WINAPI EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  return Result(port->port().Escape(dwFunc));
}

BOOL WINAPI SetCommBreak(HANDLE hFile) { return EscapeCommFunction(hFile, SETBREAK); }
BOOL WINAPI ClearCommBreak(HANDLE hFile) { return EscapeCommFunction(hFile, CLRBREAK); }

BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  return Result(port->port().Purge(dwFlags));
}

BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  return Result(port->port().ClearError(lpErrors, lpStat));
}

BOOL WINAPI GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpModemStat) return Result(ERROR_INVALID_PARAMETER);
  return Result(port->port().ModemStatus(lpModemStat));
}

BOOL WINAPI SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  return Result(port->port().SetMask(dwEvtMask));
}

BOOL WINAPI GetCommMask(HANDLE hFile, LPDWORD lpEvtMask) {
  auto port = FindPort(hFile);
  if (!port) return FALSE;
  if (!lpEvtMask) return Result(ERROR_INVALID_PARAMETER);
  *lpEvtMask = port->port().GetMask();
  return TRUE;
}
