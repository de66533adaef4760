// Opening, sharing and closing a port: settings, the partner-port test, the
// device's line parameters and time-outs, the driver's threads.
//
// A session runs from the first PortOpen to the last PortClose. Ending it
// takes two steps: under OpenLock the threads are told to stop and the
// session is marked closing; then, with no lock held (a thread may be inside
// a notification that calls back into the driver), the threads are waited
// for; last, under OpenLock again, the queue is emptied and the device
// closed. A PortOpen meanwhile waits for the close to finish, except on a
// thread that is itself being waited for, which is refused.
#include <opossvc/portdrv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <new>

#include <opossvc/afx/winthread.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/threads.h>

#include "platform/internal/serial_port.h"
#include "portdrv/client_list.h"
#include "portdrv/critical_section_lock.h"
#include "portdrv/line_mode.h"
#include "portdrv/output_queue.h"
#include "portdrv/port_settings.h"

using opossvc::detail::ClientList;
using opossvc::detail::CriticalSectionLock;
using opossvc::detail::OutputQueue;
using opossvc::detail::PortSettings;
using opossvc::detail::SerialPort;

LONG CPortdrv::ComOpenFlag[10] = {};

namespace {

// Guards CPortdrv::ComOpenFlag. The partner test, the open of the device and
// the setting of its flag are one step, so that two drivers opening partner
// ports at once cannot both succeed.
std::mutex& ComOpenFlagLock() {
  static std::mutex lock;
  return lock;
}

bool IsCurrentThread(const CWinThread* thread) {
  return thread != nullptr && thread->m_nThreadID == GetCurrentThreadId();
}

}  // namespace

CPortdrv::CPortdrv()
    : OutputThreadCount(0),
      InputThreadCount(0),
      OutputThreadStarted(0),
      InputThreadStarted(0),
      PortOpened(0),
      DeviceName(" "),
      ClientArray(std::make_unique<ClientList>()),
      Queue(std::make_unique<OutputQueue>()),
      InputStop(0),
      OutputStop(0),
      WriteStalled(0),
      IdleSleep(10),
      InputSleep(10),
      Timeout(50),
      PortIndex(-1),
      PortName(),
      Baudrate(-1),
      BitLength(-1),
      Parity(-1),
      Stop(-1),
      XonXoff(-1),
      HandShake(-1),
      InputBuf(0),
      OutputBuf(0),
      OpenCount(0),
      ReadSize(0),
      SimultaneousCom1234(0),
      Hydra(0),
      RtsRaised(0),
      Enabled(0),
      InputFull(0),
      LowWater(0),
      HighWater(0),
      LinesWatched(1),
      DsrState(0),
      CtsState(0),
      DsrReported(-1),
      CtsReported(-1),
      Dcb(),
      PortHandle(),
      OutputBusy(0),
      OutputPending(0),
      HandshakeDisabled(0),
      DemotionDone(1),
      CurrentSvc(nullptr),
      QueueOpen(0),
      OutputWaiting(0),
      QueueWaiters(0),
      QueueYielding(0),
      Closing(0),
      DeviceGone(0),
      ReopenPause(0),
      Session(0),
      StopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      OutputWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      ClosedEvent(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      QueueEntered(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      InputThread(nullptr),
      OutputThread(nullptr) {
  InitializeCriticalSection(&QueueLock);
  InitializeCriticalSection(&PortLock);
  InitializeCriticalSection(&OpenLock);
}

CPortdrv::~CPortdrv() {
  std::vector<CWinThread*> threads;
  std::vector<CWinThread*> retired;
  bool closing = false;
  EnterCriticalSection(&OpenLock);
  WaitWhileClosing();
  if (PortOpened.load() != 0) {
    threads = BeginShutdown();
    closing = true;
  }
  retired.swap(RetiredThreads);
  LeaveCriticalSection(&OpenLock);
  if (closing) {
    JoinThreads(&threads);
    FinishShutdown();
  }
  JoinThreads(&retired);

  for (HANDLE event : {StopEvent, OutputWake, ClosedEvent, QueueEntered}) {
    if (event != nullptr) CloseHandle(event);
  }
  DeleteCriticalSection(&PortLock);
  DeleteCriticalSection(&QueueLock);
  DeleteCriticalSection(&OpenLock);
}

long CPortdrv::PortOpen(const char* deviceName, CSvcBase* svc, long readSize, int variant,
                        int /*reserved*/) {
  if (svc == nullptr) return OPOSSVC_E_NO_SERVICE;
  EnterCriticalSection(&OpenLock);
  long result = OPOSSVC_E_PORT_IN_USE;
  if (WaitWhileClosing()) result = OpenLocked(deviceName, svc, readSize, variant);
  LeaveCriticalSection(&OpenLock);
  return result;
}

long CPortdrv::OpenLocked(const char* deviceName, CSvcBase* svc, long readSize, int variant) {
  ReapRetiredThreads();
  const bool open = PortOpened.load() != 0;
  const PortSettings current = OpenSettings();
  PortSettings settings;
  long result = GetComInfo(deviceName, open ? &current : nullptr, &settings);
  if (result != 0) return result;

  if (open) {
    {
      std::lock_guard<std::mutex> table(ComOpenFlagLock());
      result = PartnerTest(settings);
    }
    if (result != 0) return result;
    const LONG hydra = Hydra.load(std::memory_order_relaxed);
    CommitSettings(settings, false);
    if (settings.Hydra != hydra) FollowHydra();
    DeviceName = deviceName;
    ClientArray->Add(svc);
    ++OpenCount;
    return 0;
  }

  if (readSize <= 0 || StopEvent == nullptr || OutputWake == nullptr || ClosedEvent == nullptr ||
      QueueEntered == nullptr) {
    return OPOSSVC_E_PORT_CALL;
  }
  try {
    ReadBuffer.assign(static_cast<size_t>(readSize), 0);
    DeliveryBuffer.assign(static_cast<size_t>(readSize), 0);
  } catch (const std::bad_alloc&) {
    ReadBuffer = {};
    DeliveryBuffer = {};
    return OPOSSVC_E_PORT_CALL;
  }

  std::shared_ptr<SerialPort> device;
  {
    std::lock_guard<std::mutex> table(ComOpenFlagLock());
    result = PartnerTest(settings);
    if (result == 0 && ComOpenFlag[settings.PortIndex] != 0) result = OPOSSVC_E_PORT_IN_USE;
    if (result == 0) result = OpenDevice(settings, &device);
    if (result == 0) ComOpenFlag[settings.PortIndex] = 1;
  }
  if (result != 0) return result;

  if (variant != 0 && settings.HandShake == 1) settings.HandShake = 3;
  if (variant != 0 && settings.HandShake == 2) settings.HandShake = 4;
  CommitSettings(settings, true);
  result = ConfigurePort(device, settings);
  if (result == 0) result = StartSession(svc, readSize);
  if (result != 0) {
    std::lock_guard<std::mutex> table(ComOpenFlagLock());
    ComOpenFlag[settings.PortIndex] = 0;
    return result;
  }
  DeviceName = deviceName;
  PortOpened.store(1);
  ++OpenCount;
  return 0;
}

long CPortdrv::GetComInfo(const char* deviceName, const PortSettings* open,
                          PortSettings* settings) {
  return opossvc::detail::ReadPortSettings(deviceName, open, settings);
}

PortSettings CPortdrv::OpenSettings() const {
  PortSettings s;
  s.IdleSleep = IdleSleep.load(std::memory_order_relaxed);
  s.InputSleep = InputSleep.load(std::memory_order_relaxed);
  s.Timeout = Timeout.load(std::memory_order_relaxed);
  s.PortIndex = PortIndex;
  std::copy(std::begin(PortName), std::end(PortName), std::begin(s.PortName));
  s.Baudrate = Baudrate;
  s.BitLength = BitLength;
  s.Parity = Parity;
  s.Stop = Stop;
  s.HandShake = HandShake;
  s.XonXoff = XonXoff;
  s.InputBuf = InputBuf;
  s.OutputBuf = OutputBuf;
  s.SimultaneousCom1234 = SimultaneousCom1234;
  s.Hydra = Hydra.load(std::memory_order_relaxed);
  return s;
}

void CPortdrv::CommitSettings(const PortSettings& s, bool firstOpen) {
  // A further client may change only what the threads read atomically.
  IdleSleep.store(s.IdleSleep, std::memory_order_relaxed);
  InputSleep.store(s.InputSleep, std::memory_order_relaxed);
  Timeout.store(s.Timeout, std::memory_order_relaxed);
  Hydra.store(s.Hydra, std::memory_order_relaxed);
  if (!firstOpen) return;
  PortIndex = s.PortIndex;
  std::copy(std::begin(s.PortName), std::end(s.PortName), std::begin(PortName));
  Baudrate = s.Baudrate;
  BitLength = s.BitLength;
  Parity = s.Parity;
  Stop = s.Stop;
  XonXoff = s.XonXoff;
  HandShake = s.HandShake;
  InputBuf = s.InputBuf;
  OutputBuf = s.OutputBuf;
  SimultaneousCom1234 = s.SimultaneousCom1234;
}

void CPortdrv::FollowHydra() {
  CriticalSectionLock port(&PortLock);
  // While output flow is off for a record without handshake, the next record
  // with handshake sets the new mode's.
  if (HandshakeDisabled == 0) EnableHandshake();
}

long CPortdrv::PartnerTest(const PortSettings& s) {
  if (s.PortIndex < 0 || s.PortIndex > 3 || s.SimultaneousCom1234 != 0) return 0;
  const LONG partner = s.PortIndex ^ 2;  // COM1 with COM3, COM2 with COM4
  if (ComOpenFlag[partner] != 0) return OPOSSVC_E_PORT_IN_USE;
  return TestCoPort(partner + 1);
}

long CPortdrv::TestCoPort(long portNumber) {
  char name[24];
  std::snprintf(name, sizeof(name), "COM%ld", portNumber);
  std::unique_ptr<SerialPort> partner;
  const DWORD error = opossvc::detail::OpenSerialPort(name, &partner);
  if (error != ERROR_ACCESS_DENIED) return 0;
  SetLastError(error);
  return OPOSSVC_E_PORT_IN_USE;
}

// The last error tells the caller why the device did not open.
long CPortdrv::OpenDevice(const PortSettings& s, std::shared_ptr<SerialPort>* device) {
  std::unique_ptr<SerialPort> opened;
  const DWORD error = opossvc::detail::OpenSerialPort(s.PortName, &opened);
  if (error != 0) {
    SetLastError(error);
    if (error == ERROR_FILE_NOT_FOUND) return OPOSSVC_E_BAD_PORT;
    if (error == ERROR_ACCESS_DENIED) return OPOSSVC_E_PORT_IN_USE;
    return OPOSSVC_E_PORT_CALL;
  }
  *device = std::move(opened);
  return 0;
}

long CPortdrv::ConfigurePort(const std::shared_ptr<SerialPort>& device, const PortSettings& s) {
  CriticalSectionLock port(&PortLock);
  Dcb = DCB();
  Dcb.DCBlength = sizeof(DCB);
  device->GetState(&Dcb);
  const bool rtsRaised = opossvc::detail::ApplyLineSettings(s, &Dcb);
  if (long result = SetUpDevice(*device, Dcb)) return result;
  PortHandle = device;
  DeviceGone.store(0);
  RtsRaised = rtsRaised ? 1 : 0;
  HandshakeDisabled = 0;
  InputFull = 0;
  Enabled = 1;
  DsrReported = -1;
  CtsReported = -1;
  return 0;
}

// The settings are the open port's (CommitSettings came first).
long CPortdrv::SetUpDevice(SerialPort& device, const DCB& dcb) {
  if (device.SetState(dcb) != 0 ||
      device.Setup(static_cast<DWORD>(InputBuf), static_cast<DWORD>(OutputBuf)) != 0) {
    device.Close();
    return OPOSSVC_E_PORT_CALL;
  }
  COMMPROP properties = {};
  const bool described = device.GetProperties(&properties) == 0;
  const opossvc::detail::WaterMarks marks =
      opossvc::detail::WaterMarksFor(InputBuf, described ? properties.dwCurrentRxQueue : 0);
  LowWater = marks.low;
  HighWater = marks.high;
  constexpr DWORD kLineState = PCF_DTRDSR | PCF_RTSCTS | PCF_RLSD | PCF_PARITY_CHECK;
  LinesWatched = !described || (properties.dwProvCapabilities & kLineState) != 0 ? 1 : 0;
  COMMTIMEOUTS timeouts = {};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutMultiplier = opossvc::detail::BaudRateAt(Baudrate).msPerByte;
  if (device.SetTimeouts(timeouts) != 0 || device.Escape(SETDTR) != 0) {
    device.Escape(CLRDTR);
    device.Escape(CLRRTS);
    device.Close();
    return OPOSSVC_E_PORT_CALL;
  }
  device.Purge(PURGE_RXCLEAR);
  // What ends the input thread's pause early; without it the pause is plain.
  device.SetMask(EV_RXCHAR);
  return 0;
}

long CPortdrv::StartSession(CSvcBase* svc, long readSize) {
  ClientArray->Add(svc);
  ReadSize = opossvc::Long32(readSize);
  {
    CriticalSectionLock queue(&QueueLock);
    QueueOpen = 1;
    OutputWaiting = 0;
    DemotionDone = 1;
    OutputBusy = 0;
    OutputPending = 0;
    CurrentSvc = nullptr;
  }
  InputStop.store(0);
  OutputStop.store(0);
  OutputThreadStarted.store(0);
  InputThreadStarted.store(0);
  ResetEvent(StopEvent);
  ResetEvent(OutputWake);

  if (StartThreads()) return 0;
  ClientArray->RemoveFirst(svc);
  std::vector<CWinThread*> threads = BeginShutdown();
  LeaveCriticalSection(&OpenLock);
  JoinThreads(&threads);
  EnterCriticalSection(&OpenLock);
  FinishShutdown();
  return OPOSSVC_E_PORT_CALL;
}

bool CPortdrv::StartThreads() {
  const auto start = [this](AFX_THREADPROC entry) -> CWinThread* {
    CWinThread* thread =
        AfxBeginThread(entry, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr);
    if (thread != nullptr) thread->m_bAutoDelete = FALSE;
    return thread;
  };
  InputThread = start(&CPortdrv::InputThreadEntry);
  OutputThread = InputThread != nullptr ? start(&CPortdrv::OutputThreadEntry) : nullptr;
  if (InputThread == nullptr || OutputThread == nullptr) {
    // Whatever did start ends at once: its stop flag is set before it runs.
    InputStop.store(1);
    OutputStop.store(1);
    if (InputThread != nullptr) InputThread->ResumeThread();
    return false;
  }
  InputThread->ResumeThread();
  OutputThread->ResumeThread();
  while (InputThreadStarted.load() == 0 || OutputThreadStarted.load() == 0) Sleep(10);
  Sleep(10);
  return true;
}

UINT CPortdrv::InputThreadEntry(LPVOID param) {
  auto* self = static_cast<CPortdrv*>(param);
  self->InputThreadCount.fetch_add(1);
  self->PortInputProc();
  self->InputThreadCount.fetch_sub(1);
  return 0;
}

UINT CPortdrv::OutputThreadEntry(LPVOID param) {
  auto* self = static_cast<CPortdrv*>(param);
  self->OutputThreadCount.fetch_add(1);
  self->PortOutputProc();
  self->OutputThreadCount.fetch_sub(1);
  return 0;
}

long CPortdrv::PortClose(CSvcBase* svc) {
  if (svc == nullptr) return OPOSSVC_E_NO_SERVICE;
  std::vector<CWinThread*> threads;
  bool last = false;
  {
    CriticalSectionLock open(&OpenLock);
    if (PortOpened.load() == 0) return OPOSSVC_E_NOT_CLIENT;
    {
      opossvc::detail::CountedCriticalSectionLock queue(&QueueLock, &QueueWaiters, &QueueYielding,
                                                          QueueEntered);
      if (Queue->HasRecordOf(svc)) return OPOSSVC_E_OUTPUT_PENDING;
      if (!ClientArray->RemoveFirst(svc)) return OPOSSVC_E_NOT_CLIENT;
      if (CurrentSvc == svc && !ClientArray->Contains(svc)) CurrentSvc = nullptr;
    }
    if (OpenCount != 1) {
      --OpenCount;
    } else {
      threads = BeginShutdown();
      last = true;
    }
  }
  if (last) {
    JoinThreads(&threads);
    FinishShutdown();
  }
  ClientArray->WaitUntilIdle(svc);
  return 0;
}

std::vector<CWinThread*> CPortdrv::BeginShutdown() {
  Closing = 1;
  ResetEvent(ClosedEvent);
  PortOpened.store(0);
  InputStop.store(1);
  OutputStop.store(1);
  Session.fetch_add(1);
  SetEvent(StopEvent);
  SetEvent(OutputWake);
  // The port of the moment (the input thread may have opened it again after
  // a loss), used without PortLock: the empty event mask ends the input
  // thread's wait for input, begun or not; the purge ends a write that the
  // output thread may be blocked in.
  std::shared_ptr<SerialPort> device;
  {
    CriticalSectionLock port(&PortLock);
    device = PortHandle;
  }
  if (device != nullptr) {
    device->SetMask(0);
    device->Purge(15);
  }

  std::vector<CWinThread*> threads;
  for (CWinThread* thread : {InputThread, OutputThread}) {
    if (thread == nullptr) continue;
    if (IsCurrentThread(thread)) {
      RetiredThreads.push_back(thread);  // inside a notification: ends on return
    } else {
      threads.push_back(thread);
      ClosingThreads.push_back(thread->m_nThreadID);
    }
  }
  InputThread = nullptr;
  OutputThread = nullptr;
  return threads;
}

void CPortdrv::FinishShutdown() {
  CriticalSectionLock open(&OpenLock);
  {
    CriticalSectionLock queue(&QueueLock);
    Queue->Clear();
    QueueOpen = 0;
    OutputBusy = 0;
    OutputPending = 0;
    CurrentSvc = nullptr;
  }
  {
    CriticalSectionLock port(&PortLock);
    if (PortHandle != nullptr) {
      PortHandle->Escape(CLRDTR);
      PortHandle->Escape(CLRRTS);
      PortHandle->Close();
    }
    PortHandle = nullptr;
  }
  if (PortIndex >= 0 && PortIndex < opossvc::detail::kPortCount) {
    std::lock_guard<std::mutex> table(ComOpenFlagLock());
    ComOpenFlag[PortIndex] = 0;
  }
  DeviceName = " ";
  OpenCount = 0;
  ClosingThreads.clear();
  Closing = 0;
  SetEvent(ClosedEvent);
}

void CPortdrv::JoinThreads(std::vector<CWinThread*>* threads) {
  for (CWinThread* thread : *threads) {
    if (IsCurrentThread(thread)) {
      thread->m_bAutoDelete = TRUE;  // this very thread: it deletes itself when it ends
      continue;
    }
    WaitForSingleObject(thread->m_hThread, INFINITE);
    delete thread;
  }
  threads->clear();
}

void CPortdrv::ReapRetiredThreads() {
  auto ended = [](CWinThread* thread) {
    if (IsCurrentThread(thread) ||
        WaitForSingleObject(thread->m_hThread, 0) != WAIT_OBJECT_0) {
      return false;
    }
    delete thread;
    return true;
  };
  RetiredThreads.erase(std::remove_if(RetiredThreads.begin(), RetiredThreads.end(), ended),
                       RetiredThreads.end());
}

bool CPortdrv::WaitWhileClosing() {
  while (Closing != 0) {
    const DWORD self = GetCurrentThreadId();
    if (std::find(ClosingThreads.begin(), ClosingThreads.end(), self) != ClosingThreads.end()) {
      return false;  // the closer is waiting for this very thread
    }
    LeaveCriticalSection(&OpenLock);
    WaitForSingleObject(ClosedEvent, INFINITE);
    EnterCriticalSection(&OpenLock);
  }
  return true;
}

long CPortdrv::PortEnabled(int enable) {
  if (PortOpened.load() == 0) return OPOSSVC_E_NOT_CLIENT;
  CriticalSectionLock port(&PortLock);
  if (PortHandle == nullptr) return OPOSSVC_E_NOT_CLIENT;
  if (enable != 0 && InputFull == 1) {
    Enabled = 1;  // the input thread raises the line once the queue has drained
    return 0;
  }
  const opossvc::detail::EnableLines lines =
      opossvc::detail::EnableLinesFor(HandShake, Hydra.load(std::memory_order_relaxed), enable != 0);
  if (lines.first != 0) PortHandle->Escape(lines.first);
  if (lines.second != 0) PortHandle->Escape(lines.second);
  if (lines.tracksRts) RtsRaised = enable != 0 ? 1 : 0;
  Enabled = enable != 0 ? 1 : 0;
  return 0;
}
