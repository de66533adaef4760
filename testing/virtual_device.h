// The devices that opossvc::testing::VirtualPort plays: the device side that the test drives
// and the port side that the serial driver opens (virtual_device.cpp). The behaviour they show is
// the one described in include/opossvc/testing/virtual_port.h.
//
// A device is entered by port number in the comm seam's table (platform/internal/serial_port.h):
// while it is there, OpenSerialPort("COMn") opens it instead of the real device.
#ifndef OPOSSVC_TESTING_VIRTUAL_DEVICE_H_
#define OPOSSVC_TESTING_VIRTUAL_DEVICE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <opossvc/testing/virtual_port.h>
#include <opossvc/thread_annotations.h>
#include <opossvc/win32/comm.h>

#include "platform/internal/comm_port.h"
#include "platform/internal/mutex.h"
#include "platform/internal/serial_port.h"

namespace opossvc::detail {

class VirtualDevice final : public VirtualSerialDevice,
                            public std::enable_shared_from_this<VirtualDevice> {
 public:
  using State = testing::VirtualPort::State;
  // One open handle; guarded by the device's mutex.
  struct Session {
    bool closed = false;
    DWORD event_mask = 0;       // SetCommMask
    uint64_t mask_changes = 0;  // ends an input wait begun before the change
    bool input_waiting = false;
  };

  VirtualDevice();

  // Enters the device as port `number`; false when another device holds the number.
  static bool Attach(int number, const std::shared_ptr<VirtualDevice>& device);
  // Takes the device out of the table and makes its open handles dead.
  void Retire(int number);

  // ---- The device side (VirtualPort) ----
  void SetModemLine(DWORD ms_bit, bool on);
  void SetModemStatus(DWORD ms_bits);
  State Snapshot();
  void Send(const void* data, size_t size);
  void InjectError(DWORD ce_errors);
  void SetWriteCapacity(size_t bytes);
  size_t write_capacity();
  void SetReceiveCapacity(size_t bytes);
  std::string TakeWritten(size_t max_bytes);
  bool WaitUntil(const std::function<bool(const State&)>& predicate,
                 std::chrono::milliseconds timeout);
  DCB dcb();
  COMMTIMEOUTS timeouts();
  DWORD input_queue_size();
  DWORD output_queue_size();
  int set_state_count();
  void Unplug();
  void Replug();
  void SetHeldElsewhere(bool held);

  // ---- The port side (CommPort calls of one handle) ----
  DWORD Open(std::unique_ptr<SerialPort>* port) override;
  DWORD QueryState(const Session& session, DCB* dcb);
  DWORD ApplyState(const Session& session, const DCB& dcb);
  DWORD Setup(const Session& session, DWORD input_queue, DWORD output_queue);
  DWORD QueueSizes(const Session& session, COMMPROP* properties);
  DWORD SetTimeouts(const Session& session, const COMMTIMEOUTS& timeouts);
  DWORD Read(const Session& session, void* buffer, DWORD size, DWORD* read);
  DWORD Write(const Session& session, const void* data, DWORD size, DWORD* written);
  DWORD Drain(const Session& session);
  DWORD Purge(const Session& session, DWORD flags);
  DWORD ClearError(const Session& session, DWORD* errors, COMSTAT* stat);
  DWORD ModemStatus(const Session& session, DWORD* status);
  DWORD Escape(const Session& session, DWORD function);
  void SetEventMask(Session& session, DWORD mask);
  DWORD WaitInput(Session& session, DWORD timeout_ms, DWORD* events);
  void Close(Session& session);

 private:
  // The backend of one handle.
  DWORD OpenBackend(std::unique_ptr<CommPort>* port);
  // 0 while `session` may use the device, else the error its calls get.
  DWORD SessionErrorLocked(const Session& session) OPOSSVC_REQUIRES(mutex_);
  DWORD PendingAbortLocked() OPOSSVC_REQUIRES(mutex_);
  bool CanTransmitLocked() OPOSSVC_REQUIRES(mutex_);
  State SnapshotLocked() OPOSSVC_REQUIRES(mutex_);
  void DropLinesLocked() OPOSSVC_REQUIRES(mutex_);
  // Waits for a change, counted in *waiting meanwhile so that the test can see the wait.
  void WaitLocked(MutexLock& lock, int* waiting,
                  const std::optional<std::chrono::steady_clock::time_point>& deadline)
      OPOSSVC_REQUIRES(mutex_);

  Mutex mutex_;
  // Signalled on every change of anything below: port calls and test waits both wait on it.
  std::condition_variable changed_;

  const Session* live_ OPOSSVC_GUARDED_BY(mutex_) = nullptr;  // the handle that may use the device
  bool plugged_ OPOSSVC_GUARDED_BY(mutex_) = true;
  bool retired_ OPOSSVC_GUARDED_BY(mutex_) = false;
  bool held_elsewhere_ OPOSSVC_GUARDED_BY(mutex_) = false;
  int open_count_ OPOSSVC_GUARDED_BY(mutex_) = 0;
  int open_handles_ OPOSSVC_GUARDED_BY(mutex_) = 0;

  DCB dcb_ OPOSSVC_GUARDED_BY(mutex_);  // persists across opens
  int set_state_count_ OPOSSVC_GUARDED_BY(mutex_) = 0;
  COMMTIMEOUTS timeouts_ OPOSSVC_GUARDED_BY(mutex_) = {};  // of the live handle
  DWORD input_queue_size_ OPOSSVC_GUARDED_BY(mutex_) = 0;
  DWORD output_queue_size_ OPOSSVC_GUARDED_BY(mutex_) = 0;

  // Lines driven by the library, and by the device.
  bool rts_ OPOSSVC_GUARDED_BY(mutex_) = false;
  bool dtr_ OPOSSVC_GUARDED_BY(mutex_) = false;
  bool break_on_ OPOSSVC_GUARDED_BY(mutex_) = false;
  bool xoff_hold_ OPOSSVC_GUARDED_BY(mutex_) = false;
  DWORD modem_status_ OPOSSVC_GUARDED_BY(mutex_) = 0;  // MS_* bits

  std::deque<unsigned char> received_ OPOSSVC_GUARDED_BY(mutex_);  // device -> library
  size_t receive_capacity_ OPOSSVC_GUARDED_BY(mutex_) = testing::VirtualPort::kUnlimited;
  std::string written_ OPOSSVC_GUARDED_BY(mutex_);                 // library -> device
  size_t write_capacity_ OPOSSVC_GUARDED_BY(mutex_) = testing::VirtualPort::kUnlimited;
  size_t writing_ OPOSSVC_GUARDED_BY(mutex_) = 0;     // bytes of writes in progress, not yet taken
  DWORD line_errors_ OPOSSVC_GUARDED_BY(mutex_) = 0;  // CE_* since the last ClearCommError
  int readers_waiting_ OPOSSVC_GUARDED_BY(mutex_) = 0;
  int writers_waiting_ OPOSSVC_GUARDED_BY(mutex_) = 0;
  uint64_t read_aborts_ OPOSSVC_GUARDED_BY(mutex_) = 0;   // PURGE_RXABORT count
  uint64_t write_aborts_ OPOSSVC_GUARDED_BY(mutex_) = 0;  // PURGE_TXABORT count
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_TESTING_VIRTUAL_DEVICE_H_
