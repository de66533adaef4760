// The seam between the serial-port driver and a port: one open port as the driver uses it, and
// how a COM name reaches one.
//
// A SerialPort does what the Win32 comm calls do on a handle opened with CreateFileA("COMn"),
// with the same rules and Win32 error codes, returned as values (0 for success) instead of
// through the last error. Every call is safe from several threads at once: a read or a wait for
// input may go on on one thread while another writes, changes the lines or purges. Close() ends
// the calls that wait and makes every later call fail; the destructor closes.
//
// OpenSerialPort answers from a virtual port registered in this process for that COM name (the
// test kit's VirtualPort), else from the Win32 calls (CreateFileA and the comm calls on its
// handle), the same on every platform. The Win32 calls themselves know nothing of virtual ports.
#ifndef OPOSSVC_PLATFORM_INTERNAL_SERIAL_PORT_H_
#define OPOSSVC_PLATFORM_INTERNAL_SERIAL_PORT_H_

#include <memory>
#include <string_view>

#include <opossvc/win32/comm.h>

namespace opossvc::detail {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // GetCommState, SetCommState.
  virtual DWORD GetState(DCB* dcb) = 0;
  virtual DWORD SetState(const DCB& dcb) = 0;
  // SetupComm, GetCommProperties.
  virtual DWORD Setup(DWORD input_queue, DWORD output_queue) = 0;
  virtual DWORD GetProperties(COMMPROP* properties) = 0;
  // GetCommTimeouts, SetCommTimeouts.
  virtual DWORD GetTimeouts(COMMTIMEOUTS* timeouts) = 0;
  virtual DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) = 0;
  // ReadFile and WriteFile (no overlapped I/O) under the time-outs last set; the count is set
  // also when the call fails.
  virtual DWORD Read(void* buffer, DWORD size, DWORD* read) = 0;
  virtual DWORD Write(const void* data, DWORD size, DWORD* written) = 0;
  // GetCommModemStatus; ClearCommError (either pointer may be null).
  virtual DWORD ModemStatus(DWORD* status) = 0;
  virtual DWORD ClearError(DWORD* errors, COMSTAT* stat) = 0;
  // EscapeCommFunction, PurgeComm, SetCommMask.
  virtual DWORD Escape(DWORD function) = 0;
  virtual DWORD Purge(DWORD flags) = 0;
  virtual DWORD SetMask(DWORD mask) = 0;
  // WaitCommInput (platform/internal/comm_wait.h).
  virtual DWORD WaitInput(DWORD timeout_ms, DWORD* events) = 0;
  // CloseHandle.
  virtual void Close() = 0;
};

// The port number of "COMn" or "\\.\COMn" (any letter case, n from 1 to 255), else 0.
int ParseComName(std::string_view name);

// Opens `com_name` for reading and writing, held exclusively: a virtual port registered for its
// number, else the Win32 calls. The port, or the Win32 error of the open (ERROR_FILE_NOT_FOUND
// for no such device, ERROR_ACCESS_DENIED while another handle holds it).
DWORD OpenSerialPort(std::string_view com_name, std::unique_ptr<SerialPort>* port);

// Opens `com_name` through the Win32 calls only.
DWORD OpenWin32SerialPort(std::string_view com_name, std::unique_ptr<SerialPort>* port);

// What answers OpenSerialPort for a COM name in place of the Win32 calls.
class VirtualSerialDevice {
 public:
  virtual ~VirtualSerialDevice() = default;
  virtual DWORD Open(std::unique_ptr<SerialPort>* port) = 0;
};

// Enters `device` for port `number`; false when another device holds the number.
bool AttachVirtualSerialDevice(int number, std::shared_ptr<VirtualSerialDevice> device);
// Takes `device` out for port `number`, if it is the one entered there.
void DetachVirtualSerialDevice(int number, const VirtualSerialDevice* device);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_SERIAL_PORT_H_
