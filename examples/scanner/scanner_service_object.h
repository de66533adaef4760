// A serial barcode scanner's service object.
//
// The scanner sends each scan as text ended by a carriage return. Claiming
// the device opens its serial port through CPortdrv; enabling it sends the
// scanner the command "E\r" (disabling: "D\r"). Each complete scan becomes a
// data event; when the event is delivered its text becomes ScanData and
// DataEventEnabled is cleared, so that the application sees one scan per
// DataEventEnabled = true, while further scans wait queued in order. Line
// errors become error events (input locus), changes of the scanner's power
// line status-update events, and a scan longer than the buffer an error
// event too; nothing is lost silently.
//
// Threads: the application (window) thread calls the public methods; the
// driver's input thread calls DataUpdate, PortError and PowerReport; the
// event thread runs ProcessEvents.
#ifndef OPOSSVC_EXAMPLES_SCANNER_SCANNER_SERVICE_OBJECT_H_
#define OPOSSVC_EXAMPLES_SCANNER_SCANNER_SERVICE_OBJECT_H_

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include <opossvc/opossvc.h>

class CScannerServiceObject : public CSvcBase {
 public:
  CScannerServiceObject();
  ~CScannerServiceObject();

  // OpenInit, the API trace, and the event thread. The OPOS result code.
  long Open(const char* deviceClass, const char* deviceName, IDispatch* controlObject);
  // Releases and ends the event thread; queued events are dropped.
  long Close();
  // Opens the device's serial port. OPOS_E_CLAIMED when another program
  // holds it, OPOS_E_NOHARDWARE (extended: the driver's code) when it cannot
  // be opened.
  long ClaimDevice();
  long ReleaseDevice();
  // DeviceEnabled, DataEventEnabled and FreezeEvents.
  long SetDeviceEnabled(bool on);
  void SetDataEventEnabled(bool on);
  void SetFreezeEvents(bool on);
  // The text of the scan delivered last.
  std::string ScanData();

  // Driver notifications (overrides of CSvcBase).
  void DataUpdate(unsigned char* pData, long lLength);
  void PortError(long lCode);
  void PowerReport(long lKind, int nNewState, int nOldState);
  void OutputDataComplete(long lOutputID);

 protected:
  LRESULT OnOposEvent(WPARAM eventType, LPARAM);
  DECLARE_MESSAGE_MAP()

 private:
  static constexpr size_t kMaxScan = 4096;

  long Result(long code, long extended);
  // Queues a command for the scanner and waits (up to a second) until it
  // was written, so that a release never leaves output behind.
  long SendCommand(const char* command, size_t length);

  CPortdrv m_Port;
  bool m_bClaimed = false;
  opossvc::EventThread m_EventThread;
  CStdioFile* m_pTrace = nullptr;
  std::string m_strScanData;  // window thread's

  // The identifier of the last command the port has written.
  std::mutex m_OutputLock;
  std::condition_variable m_OutputDone;
  long m_lLastWritten = 0;    // guarded by m_OutputLock
  long m_lNextCommandId = 0;  // window thread's

  // Scans read from the port and not yet delivered, oldest first, one per
  // queued data event; the partial line behind them.
  std::mutex m_ScanLock;
  std::deque<std::string> m_Scans;  // guarded by m_ScanLock
  std::string m_strLine;            // guarded by m_ScanLock
};

#endif  // OPOSSVC_EXAMPLES_SCANNER_SCANNER_SERVICE_OBJECT_H_
