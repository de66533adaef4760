#include "tests/platform/comm/backend_helpers.h"

namespace opossvc::testing {

DWORD SetTimeouts(detail::SerialPort& port, DWORD interval, DWORD read_multiplier,
                  DWORD read_constant, DWORD write_multiplier, DWORD write_constant) {
  return port.SetTimeouts(
      {interval, read_multiplier, read_constant, write_multiplier, write_constant});
}

ReadResult ReadPort(detail::SerialPort& port, DWORD size) {
  ReadResult result;
  std::string buffer(size, '\0');
  DWORD read = 0;
  result.error = port.Read(buffer.data(), size, &read);
  result.ok = result.error == 0;
  buffer.resize(read);
  result.bytes = buffer;
  return result;
}

WriteResult WritePort(detail::SerialPort& port, const std::string& bytes) {
  WriteResult result;
  result.error = port.Write(bytes.data(), static_cast<DWORD>(bytes.size()), &result.written);
  result.ok = result.error == 0;
  return result;
}

}  // namespace opossvc::testing
