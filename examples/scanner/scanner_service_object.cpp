#include "scanner_service_object.h"

#include <chrono>

using opossvc::SetFlag;

namespace {

constexpr char kObject[] = "Scanner";
constexpr char kEnableCommand[] = "E\r";
constexpr char kDisableCommand[] = "D\r";
constexpr long kReadSize = 256;

}  // namespace

BEGIN_MESSAGE_MAP(CScannerServiceObject, CSvcBase)
  ON_MESSAGE(WM_OPOS_EVENT, &CScannerServiceObject::OnOposEvent)
END_MESSAGE_MAP()

CScannerServiceObject::CScannerServiceObject() = default;

CScannerServiceObject::~CScannerServiceObject() {
  Close();
  CloseTrace(m_pTrace);
}

long CScannerServiceObject::Result(long code, long extended) {
  m_lResultCode = code;
  m_lResultCodeExtended = extended;
  PutResultCode(m_pTrace, kObject, code, extended);
  return code;
}

long CScannerServiceObject::Open(const char* deviceClass, const char* deviceName,
                                 IDispatch* controlObject) {
  if (!m_pTrace) m_pTrace = OpenTrace("");
  OnMethod(m_pTrace, kObject, "Open", 0, VTS_BSTR VTS_BSTR, deviceClass, deviceName);
  // The events a scanner fires.
  const unsigned long kRequired =
      OPOSSVC_EM_SODATA | OPOSSVC_EM_SOERROR | OPOSSVC_EM_SOSTATUSUPDATE;
  if (OpenInit(deviceClass, deviceName, controlObject, kRequired, FALSE) != OPOS_SUCCESS) {
    return Result(m_lResultCode, m_lResultCodeExtended);
  }
  m_bDeliverEvents = 1;
  if (!m_EventThread.Start(*this)) return Result(OPOS_E_FAILURE, 0);
  return Result(OPOS_SUCCESS, 0);
}

long CScannerServiceObject::Close() {
  if (!m_bOpened) return OPOS_E_CLOSED;
  OnMethod(m_pTrace, kObject, "Close", 0, "");
  // The port first, so that its input thread queues nothing more.
  ReleaseDevice();
  m_EventThread.Stop();
  std::lock_guard<std::mutex> lock(m_ScanLock);
  m_Scans.clear();
  m_strLine.clear();
  return Result(OPOS_SUCCESS, 0);
}

long CScannerServiceObject::ClaimDevice() {
  OnMethod(m_pTrace, kObject, "ClaimDevice", 0, "");
  if (!m_bOpened) return Result(OPOS_E_CLOSED, 0);
  if (m_bClaimed) return Result(OPOS_SUCCESS, 0);
  long driver = m_Port.PortOpen(m_strDeviceID, this, kReadSize, 0, 0);
  if (driver == OPOSSVC_E_PORT_IN_USE) return Result(OPOS_E_CLAIMED, driver);
  if (driver != 0) return Result(OPOS_E_NOHARDWARE, driver);
  m_bClaimed = true;
  return Result(OPOS_SUCCESS, 0);
}

long CScannerServiceObject::ReleaseDevice() {
  OnMethod(m_pTrace, kObject, "ReleaseDevice", 0, "");
  if (!m_bClaimed) return Result(OPOS_E_NOTCLAIMED, 0);
  SetDeviceEnabled(false);
  // A command that could not be written in time is given up.
  m_Port.ClearOutputBuffer(this);
  m_Port.PortClose(this);
  m_bClaimed = false;
  return Result(OPOS_SUCCESS, 0);
}

long CScannerServiceObject::SetDeviceEnabled(bool on) {
  OnSetProp(m_pTrace, kObject, "DeviceEnabled", on ? 1 : 0);
  if (!m_bClaimed) return Result(OPOS_E_NOTCLAIMED, 0);
  if ((m_bDeviceEnabled != 0) == on) return Result(OPOS_SUCCESS, 0);
  if (on) {
    m_Port.PortEnabled(1);
    long driver = SendCommand(kEnableCommand, sizeof kEnableCommand - 1);
    if (driver != 0) {
      m_Port.PortEnabled(0);
      return Result(OPOS_E_FAILURE, driver);
    }
    SetFlag(m_bDeviceEnabled, 1);
    return Result(OPOS_SUCCESS, 0);
  }
  // Disabled whatever the scanner says: no more events are delivered.
  SetFlag(m_bDeviceEnabled, 0);
  long driver = SendCommand(kDisableCommand, sizeof kDisableCommand - 1);
  m_Port.PortEnabled(0);
  return driver != 0 ? Result(OPOS_E_FAILURE, driver) : Result(OPOS_SUCCESS, 0);
}

long CScannerServiceObject::SendCommand(const char* command, size_t length) {
  long id = ++m_lNextCommandId;
  long driver = m_Port.PortOutputData(command, length, 0, this, 0, 0, id);
  if (driver != 0) return driver;
  std::unique_lock<std::mutex> lock(m_OutputLock);
  if (!m_OutputDone.wait_for(lock, std::chrono::seconds(1),
                             [&] { return m_lLastWritten == id; })) {
    return OPOSSVC_E_NOT_READY;
  }
  return 0;
}

// Output thread: a command has been written.
void CScannerServiceObject::OutputDataComplete(long lOutputID) {
  {
    std::lock_guard<std::mutex> lock(m_OutputLock);
    m_lLastWritten = lOutputID;
  }
  m_OutputDone.notify_all();
}

void CScannerServiceObject::SetDataEventEnabled(bool on) {
  OnSetProp(m_pTrace, kObject, "DataEventEnabled", on ? 1 : 0);
  SetFlag(m_bDataEventEnabled, on ? 1 : 0);
}

void CScannerServiceObject::SetFreezeEvents(bool on) {
  OnSetProp(m_pTrace, kObject, "FreezeEvents", on ? 1 : 0);
  SetFlag(m_bFreezeEvents, on ? 1 : 0);
}

std::string CScannerServiceObject::ScanData() {
  OnGetProp(m_pTrace, kObject, "ScanData", m_strScanData.c_str(), 0);
  return m_strScanData;
}

// Input thread: split the bytes into scans at each CR (an LF after it is
// dropped); queue one data event per scan.
void CScannerServiceObject::DataUpdate(unsigned char* pData, long lLength) {
  int complete = 0;
  bool overlong = false;
  {
    std::lock_guard<std::mutex> lock(m_ScanLock);
    for (long i = 0; i < lLength; ++i) {
      char c = static_cast<char>(pData[i]);
      if (c == '\r') {
        m_Scans.push_back(std::move(m_strLine));
        m_strLine.clear();
        ++complete;
      } else if (c != '\n') {
        if (m_strLine.size() < kMaxScan) {
          m_strLine += c;
        } else {
          overlong = true;
        }
      }
    }
  }
  for (int i = 0; i < complete; ++i) QueueEvent(OPOS_EVENT_DATA, 0, 0, 0);
  if (overlong) QueueEvent(OPOS_EVENT_ERROR, OPOS_E_FAILURE, 0, OPOS_EL_INPUT);
}

void CScannerServiceObject::PortError(long lCode) {
  QueueEvent(OPOS_EVENT_ERROR, OPOS_E_FAILURE, lCode, OPOS_EL_INPUT);
}

void CScannerServiceObject::PowerReport(long, int nNewState, int) {
  QueueEvent(OPOS_EVENT_STATUSUPDATE,
             nNewState ? OPOS_SUE_POWER_ONLINE : OPOS_SUE_POWER_OFF_OFFLINE, 0, 0);
}

// Window thread: fire the delivered event at the control object.
LRESULT CScannerServiceObject::OnOposEvent(WPARAM eventType, LPARAM) {
  switch (eventType) {
    case OPOS_EVENT_DATA: {
      {
        std::lock_guard<std::mutex> lock(m_ScanLock);
        if (m_Scans.empty()) return 0;  // dropped by Close
        m_strScanData = std::move(m_Scans.front());
        m_Scans.pop_front();
      }
      // One data event per DataEventEnabled = true.
      SetFlag(m_bDataEventEnabled, 0);
      return SOData(static_cast<long>(m_strScanData.size()));
    }
    case OPOS_EVENT_ERROR: {
      long response = OPOS_ER_CLEAR;
      SOError(static_cast<long>(m_dwEventData1), static_cast<long>(m_dwEventData2),
              static_cast<long>(m_dwEventData3), &response);
      return 0;
    }
    case OPOS_EVENT_STATUSUPDATE:
      return SOStatusUpdate(static_cast<long>(m_dwEventData1));
    default:
      return 0;
  }
}
