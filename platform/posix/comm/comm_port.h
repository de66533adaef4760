// The one interface a serial-port backend implements, and how a COM name reaches a backend.
//
// A backend is a whole file: comm_termios.cpp drives real devices, comm_virtual.cpp the devices
// that opossvc::testing::VirtualPort plays inside the process. comm.cpp holds the Win32 calls:
// it checks arguments, keeps what the Get calls report (the DCB as set, the time-outs, the event
// mask) and hands each operation to the port's backend. Every backend call returns 0 or a Win32
// error code and is safe to make from several threads at once (a read may wait on one thread
// while another writes or changes the lines); Close() makes waiting calls return and every later
// call fail.
#ifndef OPOSSVC_PLATFORM_POSIX_COMM_COMM_PORT_H_
#define OPOSSVC_PLATFORM_POSIX_COMM_COMM_PORT_H_

#include <memory>
#include <string_view>

#include <opossvc/win32/comm.h>

namespace opossvc::detail {

class CommPort {
 public:
  virtual ~CommPort() = default;

  // The device's settings as found at open, for every field of a DCB.
  virtual DWORD QueryState(DCB* dcb) = 0;
  // Applies a DCB that passed CheckDcb, except its DTR and RTS control lines, which comm.cpp sets
  // through Escape. On failure the port keeps its previous settings.
  virtual DWORD ApplyState(const DCB& dcb) = 0;
  virtual DWORD Setup(DWORD input_queue, DWORD output_queue) = 0;
  // The dwMaxTxQueue, dwMaxRxQueue, dwCurrentTxQueue and dwCurrentRxQueue of GetCommProperties:
  // the queues the port really has (0 where unknown or without a maximum).
  virtual DWORD QueueSizes(COMMPROP* properties) = 0;
  virtual DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) = 0;
  // ReadFile and WriteFile under the time-outs last set (comm_timeouts.h). A write returns once
  // its bytes have left the port; one that ends early (time-out, abort) counts only the bytes that
  // left and sends no more of the others.
  virtual DWORD Read(void* buffer, DWORD size, DWORD* read) = 0;
  virtual DWORD Write(const void* data, DWORD size, DWORD* written) = 0;
  // Waits until the transmit queue is empty.
  virtual DWORD Drain() = 0;
  // PURGE_TXCLEAR discards only bytes that no write in progress owns: a completed write left
  // nothing behind, and one in progress is ended by PURGE_TXABORT.
  virtual DWORD Purge(DWORD flags) = 0;
  // Line errors since the previous call (which it clears) and the queue state.
  virtual DWORD ClearError(DWORD* errors, COMSTAT* stat) = 0;
  virtual DWORD ModemStatus(DWORD* status) = 0;
  // SETXOFF, SETXON, SETRTS, CLRRTS, SETDTR, CLRDTR, SETBREAK, CLRBREAK.
  virtual DWORD Escape(DWORD function) = 0;
  // The event mask of SetCommMask, which WaitInput follows; a change ends a wait in progress.
  virtual void SetEventMask(DWORD mask) = 0;
  // WaitCommInput (platform/internal/comm_wait.h): waits up to `timeout_ms` (INFINITE: no limit)
  // until the mask has EV_RXCHAR and bytes wait in the receive queue (*events = EV_RXCHAR), or
  // the mask changes (*events = 0, as at the time limit). ERROR_INVALID_PARAMETER at once for a
  // mask of 0 or while another wait is in progress.
  virtual DWORD WaitInput(DWORD timeout_ms, DWORD* events) = 0;
  virtual void Close() = 0;
};

// The port number of "COMn" or "\\.\COMn" (any letter case, n from 1 to 255), else 0.
int ParseComName(std::string_view name);

// ERROR_INVALID_PARAMETER for a DCB that no port takes, else 0.
DWORD CheckDcb(const DCB& dcb);

// The line errors a port reports for `raw`: parity errors only while parity checking is on.
DWORD ReportedLineErrors(DWORD raw, const DCB& dcb);

// Opens the virtual device that holds port `number`. False when no virtual device holds it (the
// real device is meant then); otherwise the port or the Win32 error of the open.
bool OpenVirtualCommPort(int number, std::unique_ptr<CommPort>* port, DWORD* error);
// Opens the real device of port `number` (SERIALCOMM map, else /dev/ttyS<n-1>).
DWORD OpenTermiosCommPort(int number, std::unique_ptr<CommPort>* port);

// CreateFileA for a COM name: the handle, or null with the last error set.
HANDLE OpenCommHandle(int number, DWORD desired_access, DWORD flags_and_attributes);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_COMM_COMM_PORT_H_
