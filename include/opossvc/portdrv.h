// CPortdrv: the serial-port driver that service objects own or share.
//
// One CPortdrv serves one serial port for any number of service objects of
// the process, its clients. The first PortOpen reads the port's settings
// from the registry, opens the device, sets its line parameters and starts
// two worker threads: the input thread, which polls the port and hands what
// it receives to every client, and the output thread, which writes the
// records queued with PortOutputData. Each further PortOpen of a device on
// the same port adds a client; each PortClose removes one and the last one
// stops the threads and closes the device.
//
//   CPortdrv port;                                   // usually a member
//   long r = port.PortOpen("POSPrinter\\Printer1", this, 256, 0, 0);
//   if (r == 0) {
//     port.PortOutputData(bytes, n, OPOS_E_TIMEOUT, this, 0, 1, id);
//     ...                                            // OutputDataComplete(id)
//     port.PortClose(this);
//   }
//
// Settings. The device name is the device ID "<class>\<device>" (a logical
// name is followed). The device entry gives the port ("Port", COM1 to COM10)
// and the line settings "Baudrate" (0-13: 150, 300, 600, 1200, 2400, 4800,
// 9600, 19200, 38400, 56000, 57600, 115200, 128000, 256000), "BitLength"
// (0: 7 data bits, 1: 8), "Parity" (0 none, 1 even, 2 odd, 3 mark, 4 space),
// "Stop" (0 and 1: one stop bit, 2: two), "HandShake" (line mode 0-4),
// "XonXoff" (0-1), "InputBuf" (>= 32) and "OutputBuf" (>= 2), all REG_DWORD
// and all required at the first open. A later device on the open port must
// name the same port and may leave settings out, but those it gives must
// equal the open port's. Optional: "Hydra"/"SHydra" and "Timeout" (device),
// "SimultaneousCom1234" (the maker's configuration key), "IdleSleep" and
// "InputSleep" (configuration key, else device). The input thread reads line
// errors and modem lines at least every "InputSleep" ms (default 10; a device
// that has neither, such as a pseudo-terminal, is only waited on for its
// bytes) and delivers bytes as soon as they arrive; the output thread writes a record
// as soon as it is queued, and looks at the lines every "IdleSleep" ms
// (default 10) while a flow-controlled record waits for the device.
//
// Line modes ("HandShake"; `variant` of PortOpen turns 1 into 3, 2 into 4):
//   mode   output flow   lines at open   PortEnabled   input flow     power lines
//   Hydra  CTS and DSR   DTR, RTS on     DTR and RTS   as HandShake   as HandShake;
//                                                                     0/4: DSR, CTS
//   0      none          DTR, RTS on     -             none           none
//   1      CTS           RTS on          RTS           RTS            CTS
//   2      DSR           DTR on          DTR           DTR            DSR
//   3      none          RTS on          -             RTS follows    CTS
//                                                      CTS
//   4      none          DTR on          -             none           none
// Input flow control drops its line when more than 3/4 of the receive queue
// is waiting and raises it again below 1/4 (while the port is enabled); the
// receive queue is "InputBuf", or what the port really holds when that is
// less (GetCommProperties: 4095 bytes on a tty). A further device's "SHydra"
// takes the open port out of the Hydra mode, its output flow included.
//
// Results (opos.h): 0; OPOS_E_NOHARDWARE (107) PortOutputData while the
// device is gone (see below); OPOSSVC_E_BAD_PORT (10002) settings refused or no
// such device; OPOSSVC_E_PORT_IN_USE (10016) the port or its partner port
// (COM1/COM3, COM2/COM4, unless "SimultaneousCom1234") is in use, here or by
// another program; OPOSSVC_E_OUTPUT_PENDING (10017) PortClose while the
// client still has queued output; OPOSSVC_E_NOT_READY (10019) a
// flow-controlled record while the device is not ready; OPOSSVC_E_PORT_CALL
// (200000) a serial-port or registry call failed; OPOSSVC_E_NOT_CLIENT
// (200001) the port is not open or the caller is not its client;
// OPOSSVC_E_NO_SERVICE (200002) no service object given. When PortOpen could
// not open the device, GetLastError() on return tells why: with 10016
// ERROR_ACCESS_DENIED (held by another program), with 200000 for example
// ERROR_PRIVILEGE_NOT_HELD, a device the user may not use at all (on Linux:
// not a member of the device's group, usually dialout).
//
// Notifications. The driver calls the clients' CSvcBase notifications on
// its own threads, never with a driver lock held, so a notification may call
// any operation of the driver, PortClose of its own service object included:
//   input thread:  DataUpdate(bytes, n) and PortError(0) (a line error, before
//                  the bytes read after it) to every client, once each, in the
//                  order of their first open; PowerReport(2, new, old) for
//                  each change of a watched line;
//   output thread: OutputDataComplete(outputId) when a record has left the
//                  port (so the last PortClose cannot lose any of it),
//                  PortError(errorCode) once when a flow-controlled record with
//                  a non-zero error code times out (its completion then
//                  carries the identifier 0).
//   input thread:  when the device goes away (unplugged, hung up): to every
//                  client once, PowerReport(2, 0, 1) for each watched line
//                  that was on, then PortError(OPOS_E_NOHARDWARE).
// While the device is gone, PortOutputData refuses records with
// OPOS_E_NOHARDWARE, the records already queued wait, and GetPowerState reads
// 0. The driver opens the same COM name again by itself (after "InputSleep"
// ms, then at doubling intervals up to a second); once the device is back it
// has the port's settings, the watched lines coming on are reported with
// PowerReport(2, 1, 0), and input and output go on.
// The bytes of DataUpdate are valid only during the call. When PortClose
// returns, no notification of that service object is running or will be made,
// except one that the calling thread is itself inside. A notification must not
// wait for a thread that is closing the port (for example by a SendMessage to
// it), and must not destroy the driver.
//
// Threads. Any thread may call PortOutputData, ClearOutputBuffer,
// ClearCommInputBuffer, GetPowerState and PortEnabled at any time. PortOpen
// and PortClose may be called from any thread, including the driver's own
// (from a notification); they are serialised inside.
#ifndef OPOSSVC_PORTDRV_H_
#define OPOSSVC_PORTDRV_H_

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <opossvc/export.h>
#include <opossvc/opos.h>
#include <opossvc/thread_annotations.h>
#include <opossvc/win32/comm.h>
#include <opossvc/win32/oleauto.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/types.h>

class CSvcBase;
class CWinThread;

namespace opossvc::detail {
struct PortSettings;
class OutputQueue;
class ClientList;
class SerialPort;
}  // namespace opossvc::detail

// The highest COM port number listed in the registry ("Enum\Root" device
// entries, else HKLM\Hardware\DeviceMap\SerialComm), at least 2.
OPOSSVC_API int GetComMax();

class OPOSSVC_CLASS_API CPortdrv {
 public:
  OPOSSVC_MEMBER_API CPortdrv();
  // Closes the port if its owner left it open, and waits for the driver's
  // threads to end. Never destroy the driver from one of its notifications.
  OPOSSVC_MEMBER_API ~CPortdrv();
  CPortdrv(const CPortdrv&) = delete;
  CPortdrv& operator=(const CPortdrv&) = delete;

  // Opens the port of `deviceName` ("<class>\<device>") for `svc`, or adds
  // `svc` as a further client of the open port. `readSize` (> 0) is the most
  // the input thread reads and delivers at once (first open only); `variant`
  // non-zero turns mode 1 into 3 and 2 into 4; `reserved` is not used. A
  // failed open changes nothing.
  OPOSSVC_MEMBER_API long PortOpen(const char* deviceName, CSvcBase* svc, long readSize,
                                   int variant, int reserved);
  // Removes one open of `svc`; the last one drops the queued output of every
  // client, stops the threads, drops DTR and RTS and closes the device.
  OPOSSVC_MEMBER_API long PortClose(CSvcBase* svc);
  // Raises (non-zero) or drops the device's control lines of the mode.
  OPOSSVC_MEMBER_API long PortEnabled(int enable);

  // Queues the bytes of a byte-holding automation string (its byte length)
  // or `length` bytes at `data` (a null `*data` is an empty record). With
  // `immediate` the record goes behind the immediate records already queued,
  // ahead of the others (never ahead of a record being written). With
  // `handshake` the record is written under the mode's output flow control
  // and may time out with PortError(errorCode); without, flow control is off
  // for it and the records queued before it lose theirs. `svc` receives the
  // record's notifications (none when null). Does not wait for the port.
  OPOSSVC_MEMBER_API long PortOutputData(BSTR* data, long errorCode, CSvcBase* svc, int immediate,
                                         int handshake, long outputId);
  OPOSSVC_MEMBER_API long PortOutputData(const char* data, unsigned long length, long errorCode,
                                         CSvcBase* svc, int immediate, int handshake,
                                         long outputId);
  // Drops every queued record of `svc` and, when `svc` owned the record
  // written last, what the port still holds of it. Waits for a record being
  // written to finish or time out.
  OPOSSVC_MEMBER_API long ClearOutputBuffer(CSvcBase* svc);
  // Discards what the port has received and not yet delivered.
  OPOSSVC_MEMBER_API long ClearCommInputBuffer();
  // The state of CTS (line 1) or DSR (line 2), 1 on or 0 off, as read now;
  // the input thread reports only later changes of it. 0 for another line,
  // a closed port or a modem status that cannot be read.
  OPOSSVC_MEMBER_API int GetPowerState(long line);

  // Bodies of the driver's threads, run by their entry routines only.
  OPOSSVC_MEMBER_API void PortInputProc();
  OPOSSVC_MEMBER_API void PortOutputProc();

 private:
  // kDrained: done, and the queue was left empty.
  enum class PassResult { kDone, kDrained, kHeld, kStop };
  // The notification that a pass of the output thread makes, if any.
  struct OutputNotice {
    CSvcBase* svc = nullptr;
    bool complete = false;  // OutputDataComplete, else PortError
    LONG value = 0;
  };
  struct PowerChange {
    LONG newState;
    LONG oldState;
  };
  struct InputBuffers {
    std::vector<unsigned char> block;  // as read
    std::vector<unsigned char> copy;   // handed to each client in turn
  };

  // --- Settings, open and close (port_open.cpp) ---
  long OpenLocked(const char* deviceName, CSvcBase* svc, long readSize, int variant)
      OPOSSVC_REQUIRES(OpenLock);
  OPOSSVC_INTERNAL long GetComInfo(const char* deviceName,
                                   const opossvc::detail::PortSettings* open,
                                   opossvc::detail::PortSettings* settings);
  OPOSSVC_INTERNAL opossvc::detail::PortSettings OpenSettings() const;
  OPOSSVC_INTERNAL void CommitSettings(const opossvc::detail::PortSettings& settings,
                                       bool firstOpen);
  // Sets the output flow of the mode after a further client's "SHydra".
  void FollowHydra() OPOSSVC_EXCLUDES(PortLock);
  OPOSSVC_INTERNAL long PartnerTest(const opossvc::detail::PortSettings& settings);
  long TestCoPort(long portNumber);
  OPOSSVC_INTERNAL long OpenDevice(const opossvc::detail::PortSettings& settings,
                                   std::shared_ptr<opossvc::detail::SerialPort>* port);
  OPOSSVC_INTERNAL long ConfigurePort(const std::shared_ptr<opossvc::detail::SerialPort>& port,
                                      const opossvc::detail::PortSettings& settings)
      OPOSSVC_REQUIRES(OpenLock);
  // Puts a device just opened into the port's settings (`dcb`, the queues, the time-outs, DTR,
  // an empty receive queue, the input wait); closes it when that fails.
  OPOSSVC_INTERNAL long SetUpDevice(opossvc::detail::SerialPort& port, const DCB& dcb)
      OPOSSVC_REQUIRES(PortLock);
  long StartSession(CSvcBase* svc, long readSize) OPOSSVC_REQUIRES(OpenLock);
  bool StartThreads() OPOSSVC_REQUIRES(OpenLock);
  // Tells the session's threads to stop and marks it closing; returns the
  // threads to wait for (the calling one is retired instead).
  std::vector<CWinThread*> BeginShutdown() OPOSSVC_REQUIRES(OpenLock) OPOSSVC_EXCLUDES(PortLock);
  // Empties the queue, drops DTR and RTS, closes the device.
  void FinishShutdown() OPOSSVC_EXCLUDES(QueueLock, PortLock);
  void JoinThreads(std::vector<CWinThread*>* threads);
  void ReapRetiredThreads() OPOSSVC_REQUIRES(OpenLock);
  // False when the calling thread is one that a closing PortClose waits for.
  bool WaitWhileClosing() OPOSSVC_REQUIRES(OpenLock);
  static UINT InputThreadEntry(LPVOID param);
  static UINT OutputThreadEntry(LPVOID param);

  // --- Output (output_thread.cpp) ---
  bool PrepareHandshake() OPOSSVC_EXCLUDES(PortLock);
  long QueueRecord(std::string&& bytes, long errorCode, CSvcBase* svc, int immediate, int handshake,
                   long outputId) OPOSSVC_EXCLUDES(QueueLock);
  long ClearNoImmOutputBuffer(CSvcBase* svc) OPOSSVC_REQUIRES(QueueLock);
  void RemoveArrayAt(int index) OPOSSVC_REQUIRES(QueueLock);
  void EnableHandshake() OPOSSVC_REQUIRES(PortLock);
  void DisableHandshake() OPOSSVC_REQUIRES(PortLock);
  long Minimum(long a, long b);
  PassResult OutputPass(DWORD session) OPOSSVC_EXCLUDES(QueueLock);
  PassResult WriteFront(DWORD session, OutputNotice* notice) OPOSSVC_REQUIRES(QueueLock);
  // The bytes written; *lost when the device has gone away.
  OPOSSVC_INTERNAL DWORD WriteChunk(opossvc::detail::SerialPort* port, const char* data, DWORD size,
                                    bool* lost) OPOSSVC_EXCLUDES(PortLock);
  // The ready test of the mode on the modem lines read now; ready when they
  // cannot be read.
  bool DeviceReadyLocked() OPOSSVC_REQUIRES(PortLock);
  bool OutputStopped(DWORD session) const;
  void YieldToQueueWaiters(DWORD session);
  // Waits up to ms (at least 1) for the event; true when it was set.
  bool Pause(HANDLE event, DWORD ms);

  // --- Input and power (input_thread.cpp, power_state.cpp) ---
  // Each returns false when the thread is to end.
  bool InputPass(DWORD session, InputBuffers* buffers) OPOSSVC_EXCLUDES(PortLock);
  bool ErrorLoop(DWORD session, InputBuffers* buffers) OPOSSVC_EXCLUDES(PortLock);
  bool ReadInput(InputBuffers* buffers, DWORD* count) OPOSSVC_EXCLUDES(PortLock);
  bool Deliver(DWORD session, InputBuffers* buffers, DWORD count, bool lineError);
  bool InputStopped(DWORD session) const;
  // The pause after a pass: up to ms (at least 1) for bytes to arrive on
  // `port`, or for the port to close; `unbounded`: as long as no bytes come
  // while the port can be waited on.
  OPOSSVC_INTERNAL void AwaitInput(opossvc::detail::SerialPort* port, DWORD ms, bool unbounded)
      OPOSSVC_EXCLUDES(PortLock);
  int WatchLines(PowerChange changes[2]) OPOSSVC_REQUIRES(PortLock);
  bool ReportPower(DWORD session, const PowerChange* changes, int count);
  DWORD ModemStatus() OPOSSVC_REQUIRES(PortLock);

  // --- Loss and return of the device (device_loss.cpp), on the input thread ---
  // Marks the device gone when a call on it failed so.
  void NoteDeviceLoss(DWORD error) OPOSSVC_REQUIRES(PortLock);
  // Tells every client once: the watched lines off, then PortError.
  bool ReportLoss(DWORD session) OPOSSVC_EXCLUDES(PortLock);
  // A pass while the device is gone: a pause, then an attempt to open it again.
  bool AwaitDevice(DWORD session) OPOSSVC_EXCLUDES(PortLock);
  bool Reopen() OPOSSVC_EXCLUDES(PortLock);

  // Flags polled by the other threads (relaxed atomics: they order nothing).
  std::atomic<LONG> OutputThreadCount;
  std::atomic<LONG> InputThreadCount;
  std::atomic<LONG> OutputThreadStarted;
  std::atomic<LONG> InputThreadStarted;
  std::atomic<LONG> PortOpened;
  std::string DeviceName OPOSSVC_GUARDED_BY(OpenLock);  // " " while closed
  // Clients in the order of their opens, one entry per open; the list has
  // its own lock and also tracks the notifications in progress.
  std::unique_ptr<opossvc::detail::ClientList> ClientArray;
  // The output queue (the six record arrays of the system, one record each).
  std::unique_ptr<opossvc::detail::OutputQueue> Queue OPOSSVC_PT_GUARDED_BY(QueueLock);
  std::atomic<LONG> InputStop;
  std::atomic<LONG> OutputStop;
  LONG WriteStalled;  // the output thread's own
  // Pauses: re-read by every open of a further client, so atomic.
  std::atomic<DWORD> IdleSleep;
  std::atomic<DWORD> InputSleep;
  std::atomic<DWORD> Timeout;
  // Settings of the open port, written only while no driver thread runs.
  LONG PortIndex;
  char PortName[12];
  LONG Baudrate;
  LONG BitLength;
  LONG Parity;
  LONG Stop;
  LONG XonXoff;
  LONG HandShake;
  LONG InputBuf;
  LONG OutputBuf;
  LONG OpenCount OPOSSVC_GUARDED_BY(OpenLock);
  LONG ReadSize;
  LONG SimultaneousCom1234;
  std::atomic<LONG> Hydra;  // a further client's "SHydra" may switch it off
  LONG RtsRaised OPOSSVC_GUARDED_BY(PortLock);
  LONG Enabled OPOSSVC_GUARDED_BY(PortLock);
  LONG InputFull OPOSSVC_GUARDED_BY(PortLock);
  DWORD LowWater;
  DWORD HighWater;
  // 0 when the device has neither modem lines nor line errors to report.
  LONG LinesWatched OPOSSVC_GUARDED_BY(PortLock);
  LONG DsrState;  // the input thread's own
  LONG CtsState;
  LONG DsrReported OPOSSVC_GUARDED_BY(PortLock);  // -1: nothing reported yet
  LONG CtsReported OPOSSVC_GUARDED_BY(PortLock);
  DCB Dcb OPOSSVC_GUARDED_BY(PortLock);
  // The open device, reached through the comm seam; null while closed.
  std::shared_ptr<opossvc::detail::SerialPort> PortHandle OPOSSVC_GUARDED_BY(PortLock);
  LONG OutputBusy OPOSSVC_GUARDED_BY(QueueLock);
  LONG OutputPending OPOSSVC_GUARDED_BY(QueueLock);
  LONG HandshakeDisabled OPOSSVC_GUARDED_BY(PortLock);
  LONG DemotionDone OPOSSVC_GUARDED_BY(QueueLock);
  CSvcBase* CurrentSvc OPOSSVC_GUARDED_BY(QueueLock);
  // Lock order: OpenLock, QueueLock, PortLock (the client list's own lock
  // last). No lock is held while a notification runs.
  CRITICAL_SECTION QueueLock OPOSSVC_ACQUIRED_BEFORE(PortLock);
  CRITICAL_SECTION PortLock;

  // --- Beyond the system's fields ---
  // Serialises PortOpen and PortClose; never held while waiting for a driver
  // thread or while a notification runs.
  CRITICAL_SECTION OpenLock OPOSSVC_ACQUIRED_BEFORE(QueueLock);
  // Records can be queued only while this is set (cleared with the queue).
  LONG QueueOpen OPOSSVC_GUARDED_BY(QueueLock);
  // The output thread waits for OutputWake (or is about to): the next record
  // queued sets the event, and only that one.
  LONG OutputWaiting OPOSSVC_GUARDED_BY(QueueLock);
  // Callers waiting for QueueLock. The output thread lets them in before it
  // takes the lock for its next pass, so that a record that keeps timing out
  // cannot starve PortOutputData and ClearOutputBuffer.
  std::atomic<LONG> QueueWaiters;
  // 1 while the output thread waits for QueueWaiters to reach 0: the caller
  // that brings it there then sets QueueEntered.
  std::atomic<LONG> QueueYielding;
  // Set from the start to the end of a last PortClose, with the ids of the
  // threads it waits for.
  LONG Closing OPOSSVC_GUARDED_BY(OpenLock);
  std::vector<DWORD> ClosingThreads OPOSSVC_GUARDED_BY(OpenLock);
  // 1 from the loss of the device until it is open again: set and cleared by
  // the input thread under PortLock, read anywhere.
  std::atomic<LONG> DeviceGone;
  // The input thread's own: its pause before the next attempt to reopen.
  DWORD ReopenPause;
  // Number of the open session; a thread of an earlier one ends at once.
  std::atomic<DWORD> Session;
  // Made by PortOpen, taken over by the input thread as it starts.
  std::vector<unsigned char> ReadBuffer;
  std::vector<unsigned char> DeliveryBuffer;
  HANDLE StopEvent;    // manual reset: set when the session ends
  HANDLE OutputWake;   // auto reset: a record for the waiting thread, or the session ends
  HANDLE ClosedEvent;  // manual reset: clear while a last PortClose runs
  HANDLE QueueEntered;  // auto reset: the last caller waiting for QueueLock got it
  CWinThread* InputThread OPOSSVC_GUARDED_BY(OpenLock);
  CWinThread* OutputThread OPOSSVC_GUARDED_BY(OpenLock);
  // Threads that ended their own session from a notification, still
  // winding down.
  std::vector<CWinThread*> RetiredThreads OPOSSVC_GUARDED_BY(OpenLock);

  // One flag per port COM1 to COM10, shared by every driver of the process:
  // 1 while some driver has that port open. Guarded by a process-wide lock
  // (port_open.cpp).
  static LONG ComOpenFlag[10];
};

#endif  // OPOSSVC_PORTDRV_H_
