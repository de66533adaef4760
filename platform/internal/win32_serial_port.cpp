// A serial port through the Win32 calls alone, as on every platform that has them.
#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include <opossvc/win32/comm.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/files.h>
#include <opossvc/win32/handles.h>

#include "platform/internal/comm_wait.h"
#include "platform/internal/serial_port.h"

namespace opossvc::detail {
namespace {

DWORD Result(BOOL ok) {
  if (ok) return 0;
  const DWORD error = GetLastError();
  return error != 0 ? error : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

class Win32SerialPort final : public SerialPort {
 public:
  explicit Win32SerialPort(HANDLE handle) : handle_(handle) {}
  ~Win32SerialPort() override { Close(); }
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  DWORD GetState(DCB* dcb) override { return Result(GetCommState(handle(), dcb)); }
  DWORD SetState(const DCB& dcb) override {
    DCB copy = dcb;
    return Result(SetCommState(handle(), &copy));
  }
  DWORD Setup(DWORD input_queue, DWORD output_queue) override {
    return Result(SetupComm(handle(), input_queue, output_queue));
  }
  DWORD GetProperties(COMMPROP* properties) override {
    return Result(GetCommProperties(handle(), properties));
  }
  DWORD GetTimeouts(COMMTIMEOUTS* timeouts) override {
    return Result(GetCommTimeouts(handle(), timeouts));
  }
  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) override {
    COMMTIMEOUTS copy = timeouts;
    return Result(SetCommTimeouts(handle(), &copy));
  }
  DWORD Read(void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    return Result(ReadFile(handle(), buffer, size, read, nullptr));
  }
  DWORD Write(const void* data, DWORD size, DWORD* written) override {
    *written = 0;
    return Result(WriteFile(handle(), data, size, written, nullptr));
  }
  DWORD ModemStatus(DWORD* status) override { return Result(GetCommModemStatus(handle(), status)); }
  DWORD ClearError(DWORD* errors, COMSTAT* stat) override {
    return Result(ClearCommError(handle(), errors, stat));
  }
  DWORD Escape(DWORD function) override { return Result(EscapeCommFunction(handle(), function)); }
  DWORD Purge(DWORD flags) override { return Result(PurgeComm(handle(), flags)); }
  DWORD SetMask(DWORD mask) override { return Result(SetCommMask(handle(), mask)); }
  DWORD WaitInput(DWORD timeout_ms, DWORD* events) override {
    return Result(WaitCommInput(handle(), events, timeout_ms));
  }
  void Close() override {
    HANDLE handle = handle_.exchange(INVALID_HANDLE_VALUE);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }

 private:
  HANDLE handle() const { return handle_.load(std::memory_order_relaxed); }

  // INVALID_HANDLE_VALUE once closed: later calls fail with ERROR_INVALID_HANDLE.
  std::atomic<HANDLE> handle_;
};

}  // namespace

// The handle is inheritable, as the serial driver has always opened its port.
DWORD OpenWin32SerialPort(std::string_view com_name, std::unique_ptr<SerialPort>* port) {
  const std::string name(com_name);
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE handle =
      CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                  FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return Result(FALSE);
  *port = std::make_unique<Win32SerialPort>(handle);
  return 0;
}

}  // namespace opossvc::detail
