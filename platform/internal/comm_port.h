// A serial port made of a device backend and the rules of the Win32 comm calls.
//
// A backend (CommPort) is a whole file that drives one kind of device: the termios backend real
// devices (platform/posix/comm), the test kit's virtual devices those that VirtualPort plays.
// BackedSerialPort puts the Win32 rules on top: it checks arguments, keeps what the Get calls
// report (the DCB as set, the time-outs, the event mask), moves DTR and RTS as SetCommState does
// and hands each operation to the backend. Every backend call returns 0 or a Win32 error code and
// is safe to make from several threads at once (a read may wait on one thread while another
// writes or changes the lines); Close() makes waiting calls return and every later call fail.
#ifndef OPOSSVC_PLATFORM_INTERNAL_COMM_PORT_H_
#define OPOSSVC_PLATFORM_INTERNAL_COMM_PORT_H_

#include <memory>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/comm.h>

#include "platform/internal/mutex.h"
#include "platform/internal/serial_port.h"

namespace opossvc::detail {

class CommPort {
 public:
  virtual ~CommPort() = default;

  // The device's settings as found at open, for every field of a DCB.
  virtual DWORD QueryState(DCB* dcb) = 0;
  // Applies a DCB that passed CheckDcb, except its DTR and RTS control lines, which
  // BackedSerialPort sets through Escape. On failure the port keeps its previous settings.
  virtual DWORD ApplyState(const DCB& dcb) = 0;
  virtual DWORD Setup(DWORD input_queue, DWORD output_queue) = 0;
  // The device's part of GetCommProperties: dwMaxTxQueue, dwMaxRxQueue, dwCurrentTxQueue and
  // dwCurrentRxQueue, the queues the port really has (0 where unknown or without a maximum); and
  // dwProvCapabilities less what the device lacks (PCF_DTRDSR, PCF_RTSCTS and PCF_RLSD without
  // modem lines, PCF_PARITY_CHECK when it reports no line errors).
  virtual DWORD Properties(COMMPROP* properties) = 0;
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

// ERROR_INVALID_PARAMETER for a DCB that no port takes, else 0.
DWORD CheckDcb(const DCB& dcb);

// The line errors a port reports for `raw`: parity errors only while parity checking is on.
DWORD ReportedLineErrors(DWORD raw, const DCB& dcb);

class BackedSerialPort final : public SerialPort {
 public:
  // Takes over an open backend; `access` is CreateFileA's GENERIC_READ | GENERIC_WRITE subset.
  // On failure the backend is closed.
  static DWORD Open(std::unique_ptr<CommPort> backend, DWORD access,
                    std::unique_ptr<BackedSerialPort>* port);
  ~BackedSerialPort() override;

  DWORD GetState(DCB* dcb) override;
  // Applies the settings, then moves DTR and RTS where a changed control field puts them (the
  // first SetState of a port sets both).
  DWORD SetState(const DCB& dcb) override;
  DWORD Setup(DWORD input_queue, DWORD output_queue) override;
  DWORD GetProperties(COMMPROP* properties) override;
  DWORD GetTimeouts(COMMTIMEOUTS* timeouts) override;
  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) override;
  DWORD Read(void* buffer, DWORD size, DWORD* read) override;
  DWORD Write(const void* data, DWORD size, DWORD* written) override;
  DWORD ModemStatus(DWORD* status) override;
  DWORD ClearError(DWORD* errors, COMSTAT* stat) override;
  DWORD Escape(DWORD function) override;
  DWORD Purge(DWORD flags) override;
  DWORD SetMask(DWORD mask) override;
  DWORD WaitInput(DWORD timeout_ms, DWORD* events) override;
  void Close() override;
  // GetCommMask and FlushFileBuffers.
  DWORD GetMask();
  DWORD Flush();

 private:
  BackedSerialPort(std::unique_ptr<CommPort> backend, DWORD access, const DCB& initial);

  // Set at construction; the backend is thread-safe by itself.
  const std::unique_ptr<CommPort> port_;
  const DWORD access_;

  // Serialises the calls that change settings or lines, and guards what they report.
  Mutex mutex_;
  DCB dcb_ OPOSSVC_GUARDED_BY(mutex_);
  bool state_set_ OPOSSVC_GUARDED_BY(mutex_) = false;
  COMMTIMEOUTS timeouts_ OPOSSVC_GUARDED_BY(mutex_) = {};
  DWORD mask_ OPOSSVC_GUARDED_BY(mutex_) = 0;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_COMM_PORT_H_
