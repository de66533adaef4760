// A serial device played by the test, inside the process.
//
// While a VirtualPort lives, the serial-port driver (CPortdrv) that opens its COM name reaches the
// virtual device instead of a real one, so a test or a service-object author can play the device
// on the other end of the cable. The Win32 calls (CreateFileA and the comm calls) know nothing of
// virtual ports: they reach the real device, as they would on Windows.
//
//   opossvc::testing::VirtualPort port("COM1");
//   port.SetCts(true);
//   port.Send("\x02" "12345\x03");                 // the device sends; the library reads it
//   ASSERT_TRUE(port.WaitForWritten(3, std::chrono::seconds(5)));
//   EXPECT_EQ(port.TakeWritten(), "ACK");          // what the library wrote
//
// The device behaves as a serial port does through the comm calls (win32/comm.h):
//   - one handle at a time: a second open fails with ERROR_ACCESS_DENIED, as it does while
//     SetHeldElsewhere(true); while unplugged an open fails with ERROR_FILE_NOT_FOUND;
//   - the DCB persists across opens (initially 9600 baud, 8 data bits, no parity, one stop bit,
//     DTR and RTS control enabled); each handle starts with all-zero COMMTIMEOUTS. An open raises
//     DTR and RTS as the DCB's control fields say, and the close of the handle drops both;
//   - bytes sent by the device while a handle is open wait in the receive queue, which has no
//     limit unless SetReceiveCapacity gives one (bytes beyond it are lost and reported as
//     CE_RXOVER); bytes sent while no handle is open are lost, as on a real port. ReadFile waits by
//     COMMTIMEOUTS on a condition variable and wakes at once on Send, PurgeComm(PURGE_RXABORT),
//     unplug or CloseHandle. GetCommProperties reports the capacity as the current receive queue,
//     or without one the size asked for by SetupComm;
//   - WriteFile hands bytes straight to the device while it accepts them, and returns once the
//     device has taken them all (a Win32 serial write completes when its bytes have gone out), so
//     no transmit buffer holds bytes of a completed write. Output stops while the write capacity
//     is used up, while the DCB's CTS (DSR) output flow is on and the device holds CTS (DSR) off,
//     and while output is held by XOFF (EscapeCommFunction(SETXOFF), or the device's XoffChar
//     with DCB.fOutX set, which SETXON or XonChar ends). A stopped write waits by the write
//     time-outs and returns TRUE with the count written; COMSTAT.cbOutQue counts the bytes of
//     writes still in progress;
//   - injected line errors surface in the next ClearCommError, and with DCB.fAbortOnError make
//     ReadFile and WriteFile fail with ERROR_OPERATION_ABORTED until then; CE_RXPARITY is
//     reported only with DCB.fParity set, as a real port checks parity only then;
//   - Unplug() makes every call on an open handle fail with ERROR_DEVICE_NOT_CONNECTED (waiting
//     calls return at once) and later opens fail; Replug() lets opens succeed again, while
//     handles opened before the unplug stay dead until closed.
//
// All members are thread-safe. Destroying the VirtualPort gives the COM name back to the real
// device; handles still open on the virtual device then behave as unplugged until closed.
#ifndef OPOSSVC_TESTING_VIRTUAL_PORT_H_
#define OPOSSVC_TESTING_VIRTUAL_PORT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <opossvc/export.h>
#include <opossvc/win32/comm.h>

namespace opossvc::detail {
class VirtualDevice;
}  // namespace opossvc::detail

namespace opossvc::testing {

class OPOSSVC_API VirtualPort {
 public:
  static constexpr size_t kUnlimited = SIZE_MAX;

  // The device as one consistent snapshot.
  struct State {
    // Lines driven by the library.
    bool rts = false;
    bool dtr = false;
    bool break_on = false;
    // Output held by XOFF (SETXOFF, or the device's XoffChar under DCB.fOutX).
    bool output_held = false;
    // Lines driven by the device.
    bool cts = false;
    bool dsr = false;
    bool ring = false;
    bool rlsd = false;
    // Bytes written by the library and not yet taken.
    size_t written = 0;
    // Bytes sent by the device and not yet read by the library.
    size_t receive_queue = 0;
    bool plugged = true;
    int open_handles = 0;
    int open_count = 0;
    // Library calls waiting for bytes (in ReadFile, or the driver's input thread waiting for
    // input), and in WriteFile for the device to take them.
    int readers_waiting = 0;
    int writers_waiting = 0;
  };

  // Takes over `com_name` ("COMn" or "\\.\COMn", n from 1 to 255, any letter case). Throws
  // std::invalid_argument for any other name and std::logic_error when the name is already taken
  // over by another VirtualPort.
  explicit VirtualPort(std::string_view com_name);
  ~VirtualPort();
  VirtualPort(const VirtualPort&) = delete;
  VirtualPort& operator=(const VirtualPort&) = delete;

  // The name in its plain upper-case form, "COM3".
  const std::string& name() const { return name_; }

  // Lines the device drives; all start off.
  void SetCts(bool on);
  void SetDsr(bool on);
  void SetRing(bool on);
  void SetRlsd(bool on);
  // All four at once from MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON bits.
  void SetModemStatus(DWORD ms_bits);

  // Lines the library drives.
  bool rts() const;
  bool dtr() const;
  bool break_on() const;
  bool output_held() const;
  State state() const;

  // Bytes from the device to the library.
  void Send(std::string_view bytes);
  void Send(const void* data, size_t size);

  // Line errors (CE_FRAME, CE_RXPARITY, CE_OVERRUN, CE_BREAK, CE_RXOVER, ...) seen by the port;
  // they add up until the library's next ClearCommError.
  void InjectError(DWORD ce_errors);

  // How many more bytes the device takes before output stalls: each byte written uses one;
  // kUnlimited (the default) takes everything, 0 stalls output. Raising it wakes waiting writes.
  void SetWriteCapacity(size_t bytes);
  size_t write_capacity() const;
  // How many bytes the port's receive queue holds: kUnlimited (the default), or a real port's
  // size.
  void SetReceiveCapacity(size_t bytes);

  // What the library wrote, in order; taking removes it.
  std::string TakeWritten();
  std::string TakeWritten(size_t max_bytes);
  // True as soon as at least `count` bytes written by the library wait to be taken; false when
  // `timeout` passes first.
  bool WaitForWritten(size_t count, std::chrono::milliseconds timeout) const;
  // True as soon as `predicate` holds for the device's state (tested at once and after every
  // change); false when `timeout` passes first. The predicate runs under the device's lock and
  // must not call back into this VirtualPort.
  bool WaitUntil(const std::function<bool(const State&)>& predicate,
                 std::chrono::milliseconds timeout) const;

  // What the library set: the DCB, the time-outs of the open handle (all zero when none is
  // open), and the queue sizes of SetupComm (0 before any call).
  DCB dcb() const;
  COMMTIMEOUTS timeouts() const;
  DWORD input_queue_size() const;
  DWORD output_queue_size() const;
  // SetCommState calls that succeeded on this device so far.
  int set_state_count() const;

  // Cable pulled / plugged back in (see above).
  void Unplug();
  void Replug();
  // Opens fail with ERROR_ACCESS_DENIED while another program is said to hold the port.
  void SetHeldElsewhere(bool held);

  // Successful opens so far, and handles open now.
  int open_count() const;
  int open_handles() const;

 private:
  std::string name_;
  std::shared_ptr<detail::VirtualDevice> device_;
};

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTING_VIRTUAL_PORT_H_
