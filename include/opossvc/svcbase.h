// CSvcBase: the base class of every service object, and its event queue.
//
// A service object derives from CSvcBase. The constructor creates a hidden
// window on the constructing thread (the window's thread); the control object
// is called on that thread only. Events noticed on any thread are queued with
// QueueEvent; an event thread that the derived class starts runs
// ProcessEvents, which takes them in order, waits until the OPOS delivery
// rules let each one through, stores its data values in m_dwEventData1..3 and
// sends WM_OPOS_EVENT (wParam = event type) to the window. The derived class
// maps that message to a handler that fires the event at the control object:
//
//   class CMySO : public CSvcBase {
//    public:
//     LRESULT OnOposEvent(WPARAM type, LPARAM) {
//       if (type == OPOS_EVENT_DATA) return SOData(static_cast<long>(m_dwEventData1));
//       ...
//     }
//     DECLARE_MESSAGE_MAP()
//   };
//   BEGIN_MESSAGE_MAP(CMySO, CSvcBase)
//     ON_MESSAGE(WM_OPOS_EVENT, &CMySO::OnOposEvent)
//   END_MESSAGE_MAP()
//
// A handler result of 1 makes ProcessEvents send the same event again,
// after a pause of m_dwIdleSleep ms.
//
// opossvc::EventThread (<opossvc/event_thread.h>) runs ProcessEvents from
// open to close: Start after OpenInit, Stop on close.
//
// Waiting. While the queue is empty the event thread blocks until QueueEvent
// adds a record or EventThread::Stop closes the object. While events are
// held or a record waits for the delivery flags, it tests them again every
// m_dwIdleSleep ms; 0 means 10 ms (re-testing without a pause would keep a
// core busy). Clearing m_bOpened by itself, without Stop, ends the event
// thread within 50 ms (INFINITE included), and within m_dwIdleSleep ms (0:
// 10 ms) while a record waits for the flags.
//
// Delivery rules, tested before each send (the record has left the queue):
//   every type   waits while m_bFreezeEvents or m_bHoldEvents is set;
//                is dropped unless m_bDeliverEvents is set, except direct
//                I/O (2) when m_bDirectIOAlways is set;
//   data (1)     also waits for m_bDataEventEnabled and m_bDeviceEnabled
//                (m_bDeviceEnabled not needed when m_bAutoDisable and
//                m_bAutoDisableSpecial are both set), and for m_bDeliverEvents;
//   error (3)    waits as data without the auto-disable exception;
//   status (5)   is not even queued while m_bDeviceEnabled is clear.
// An error record whose locus (third value) is OPOS_EL_INPUT_DATA goes to the
// head of the queue. After a direct-I/O record has been handled, or dropped,
// the automation string held by the variable whose address is its third
// value is freed and the variable is set to null.
//
// Threads. The delivery flags (m_bOpened, m_bDeviceEnabled,
// m_bDataEventEnabled, m_bFreezeEvents, m_bHoldEvents, m_bDeliverEvents,
// m_bAutoDisable, m_bAutoDisableSpecial, m_bDirectIOAlways) and
// m_dwIdleSleep are plain members with 32-bit values: the service object
// writes them, the event thread polls them without a lock, with relaxed
// atomic loads.
// Code that writes them while the event thread runs uses opossvc::SetFlag
// (<opossvc/flags.h>), so that every access is atomic. m_Event has its
// own lock. m_dwEventData1..3 are written by the event thread before the
// send and read by the handler while the event thread waits for it.
// Everything else belongs to the window's thread.
//
// Event data values are pointer-wide (ULONG_PTR): a direct-I/O record's third
// value is the address of a BSTR variable. QueueEvent keeps its long
// arguments but takes the third as LONG_PTR: that is long itself on LP64
// platforms and 32-bit Windows, and wide enough for an address on 64-bit
// Windows, where long is 32-bit.
#ifndef OPOSSVC_SVCBASE_H_
#define OPOSSVC_SVCBASE_H_

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include <opossvc/afx/collections.h>
#include <opossvc/afx/cstring.h>
#include <opossvc/afx/dispatch_driver.h>
#include <opossvc/afx/wnd.h>
#include <opossvc/flags.h>
#include <opossvc/export.h>
#include <opossvc/opos.h>
#include <opossvc/thread_annotations.h>
#include <opossvc/win32/oleauto.h>
#include <opossvc/win32/sync.h>
#include <opossvc/win32/time.h>
#include <opossvc/win32/types.h>

// The queue of events waiting for delivery. Every public operation holds
// the queue's lock for its whole duration and calls nothing outside, so any
// number of threads may queue while the event thread takes. QueueEvent
// wakes an event thread that waits for a record.
class OPOSSVC_API COposEvent {
 public:
  COposEvent();
  ~COposEvent();
  COposEvent(const COposEvent&) = delete;
  COposEvent& operator=(const COposEvent&) = delete;

  // Appends a record at the tail; an error record (type 3) whose third
  // value is OPOS_EL_INPUT_DATA (3) goes to the head instead. The type and
  // the locus are 32-bit; the data values are kept pointer-wide.
  void QueueEvent(long lEventType, long lData1, long lData2, LONG_PTR lData3);
  // 0 empties the queue; another value removes every record of that type,
  // keeping the order of the rest.
  void RemoveAll(long lEventType);
  // Removes the record of that type nearest the head, if any.
  void RemoveFirstID(long lEventType);
  // Removes the head record, if any.
  void RemoveAtZero();
  long GetSize();
  // Index of the direct-I/O record nearest the head, or -1.
  long GetDirectIOIndex();
  // For the direct-I/O record nearest the head: writes 2 and its three
  // values, returns 1, and leaves the record queued. 0 and nothing written
  // when there is none.
  int GetDirectIOData(ULONG_PTR* pEventType, ULONG_PTR* pData1, ULONG_PTR* pData2,
                      ULONG_PTR* pData3);
  // Writes the head record's type and values and returns 1; with bRemove
  // also removes it in the same locked step. 0 and nothing written when the
  // queue is empty.
  int GetFirstData(ULONG_PTR* pEventType, ULONG_PTR* pData1, ULONG_PTR* pData2,
                   ULONG_PTR* pData3, int bRemove);
  // Ends the event thread's wait for a record without adding one, so that
  // it tests m_bOpened at once (EventThread::Stop, after clearing it).
  void WakeWaiter();

 private:
  friend class CSvcBase;  // ProcessEvents waits for QueueEvent

  struct Record {
    DWORD type;
    ULONG_PTR data1;
    ULONG_PTR data2;
    ULONG_PTR data3;
  };

  void RemoveFirstData() OPOSSVC_REQUIRES(m_cs);
  // Blocks until QueueEvent has added a record since the last such wait
  // returned, or ms milliseconds have passed; true for a record. A record
  // queued just before the caller found the queue empty ends it at once.
  // When the queueing thread is still in its wake-up call, lets it run on
  // before returning, so that the caller has the processor to itself.
  bool WaitForQueueing(DWORD ms);

  CRITICAL_SECTION m_cs;
  std::deque<Record> m_records OPOSSVC_GUARDED_BY(m_cs);  // index 0 is the head
  // The event thread's wake-up. m_wake_lock guards m_queued only and is
  // never held together with m_cs.
  std::mutex m_wake_lock;
  std::condition_variable m_wake;
  bool m_queued = false;  // a record was added since the last wait returned
  // QueueEvent calls under way between leaving m_wake_lock and having woken
  // the waiter; a hint read without a lock.
  std::atomic<int> m_waking{0};
};

class OPOSSVC_API CSvcBase : public CWnd {
  DECLARE_DYNCREATE(CSvcBase)

 public:
  // --- The event-delivery loop and queue ---

  // Runs while m_bOpened is set; returns the number of records taken from
  // the queue, delivered or dropped. Run it on a thread of its own.
  virtual UINT ProcessEvents();
  // Queues an event from any thread; a status update (type 5) is dropped
  // while m_bDeviceEnabled is clear. Returns 0.
  virtual UINT QueueEvent(long lEventType, long lData1, long lData2, LONG_PTR lData3);

  // --- Notifications from the serial port driver (default: nothing) ---
  // Called on the driver's threads, not on the window's thread.

  virtual void DataUpdate(unsigned char* pData, long lLength);
  virtual void OutputDataComplete(long lOutputID);
  virtual void PortError(long lCode);
  virtual void PowerReport(long lState);
  virtual void PowerReport(long lKind, int nNewState, int nOldState);

  // --- Event firing at the control object (window's thread) ---
  // Each invokes the control object's method when GetIDsOfEvents found it;
  // for the maker's own control objects (m_bVendorCO) it then makes the
  // completion call and returns the value left in its data argument, else
  // it returns 0. A failing invocation's exception passes through.

  long SOData(long lStatus);
  long SODirectIO(long lEventNumber, long* pData, BSTR* pString);
  long SOError(long lResultCode, long lResultCodeExtended, long lErrorLocus,
               long* pErrorResponse);
  long SOOutputComplete(long lOutputID);
  long SOStatusUpdate(long lStatus);

  // Waits ms milliseconds; while waiting, keeps the thread's message queue
  // serviced as the configuration asks (see ProcessMessage).
  void SleepWPM(unsigned long ms, int bAllMessages, int bDiscardInput);

  // --- State shared by the framework (see the thread notes above) ---

  LONG m_bOpened;
  LONG m_bDeviceEnabled;
  LONG m_lResultCode;
  LONG m_lResultCodeExtended;
  LONG m_bDataEventEnabled;
  LONG m_lUser1;
  LONG m_lUser2;
  LONG m_bFreezeEvents;
  LONG m_bDeliverEvents;
  LONG m_lUser3;
  CString m_strUser1;
  CString m_strDeviceDescription;
  CString m_strDeviceName;
  CString m_strUser2;
  LONG m_bAutoDisable;
  LONG m_lBinaryConversion;  // 0 none, 1 nibble, 2 decimal
  LONG m_lUser4;
  LONG m_bHoldEvents;
  LONG m_lUser5;
  LONG m_lUser6;
  LONG m_lPowerState;
  COposEvent m_Event;
  ULONG_PTR m_dwEventData1;  // values of the event being delivered
  ULONG_PTR m_dwEventData2;
  ULONG_PTR m_dwEventData3;
  LONG m_bVendorCO;
  DWORD m_dwIdleSleep;  // ms: the event thread's flag poll and the waits' slice
  CString m_strDeviceID;
  LONG m_lPortNumber;
  CStringList m_NetPortNames;  // network ports in order of first use
  DWORD m_nPeekFirst;          // message range the waits dispatch
  DWORD m_nPeekLast;
  LONG m_bRemoveKeyMessage;
  LONG m_bAutoDisableSpecial;
  LONG m_bDirectIOAlways;
  COleDispatchDriver m_dispCO;  // attached without automatic release
  // SOData, SODirectIO, SOError, SOOutputComplete, SOStatusUpdate, DirectIO.
  DISPID m_dispidEvents[6];
  DWORD m_dwEventMask;  // bit i: m_dispidEvents[i] was found

 protected:
  CSvcBase();
  virtual ~CSvcBase();

  // --- Open sequence ---

  // The first step of a device open; call it before opening the port and
  // starting the event thread. In order: refuses while m_bOpened is set;
  // marks the maker's control objects (description containing "VANTA") in
  // m_bVendorCO; looks up the event methods and insists on those in
  // dwRequiredEvents (OPOSSVC_EM_SODATA .. OPOSSVC_EM_DIRECTIO); reads the device
  // entry (m_strDeviceName, m_strDeviceDescription, m_strDeviceID,
  // m_lPortNumber); reads IdleSleep, PeekRange, RemoveKeyMessage and
  // AutoDisableSpecial from the maker's current configuration; accepts the
  // port forms KBD, HT, USB1-1000, COM1-10, NET<name> (numbered by first use,
  // at most 255) and LPT1-3. Sets and returns m_lResultCode with
  // m_lResultCodeExtended: 0/0, or OPOS_E_ILLEGAL with
  // OPOSSVC_E_ALREADY_OPEN, _NO_EVENT_METHOD, _BAD_PORT or _PEEK_RANGE (the
  // last one after reading every setting). A failing call on the control
  // object raises its exception, with m_lResultCode OPOS_E_FAILURE. Does not
  // set m_bOpened.
  long OpenInit(const char* pszDeviceClass, const char* pszDeviceName, IDispatch* pDispatch,
                unsigned long dwRequiredEvents, int bDirectIOAlways);
  // 1-based number of a network port name, by order of first use.
  long GetPortNumber(CString strName);
  // The control object's ControlObjectVersion, or -1 without one.
  long GetCOVersion(IDispatch* pDispatch);
  // The control object's ControlObjectDescription, or "" without one.
  CString GetCODescription(IDispatch* pDispatch);

  // Looks up the event methods by name, attaches pDispatch to m_dispCO and
  // returns the mask of those found. A null pDispatch gives 0 and keeps any
  // earlier attachment.
  unsigned long GetIDsOfEvents(IDispatch* pDispatch);
  // The completion call on the control object's DirectIO; returns its result.
  long DIO_FireEventCtrl(long* pData);

  // --- Message-pumping waits ---

  // Waits up to dwTimeout ms (INFINITE: no limit) for hObject while keeping
  // the message queue serviced; returns the last wait result (WAIT_OBJECT_0,
  // WAIT_TIMEOUT or a failure).
  unsigned long WaitForSingleObjectWPM(void* hObject, unsigned long dwTimeout, int bAllMessages,
                                       int bDiscardInput);
  // One pass over the message queue: dispatches the messages of
  // m_nPeekFirst..m_nPeekLast (one, or all waiting with bAllMessages) and,
  // when m_bRemoveKeyMessage or bDiscardInput is set, removes keyboard and
  // mouse input undispatched.
  void ProcessMessage(int bAllMessages, int bDiscardInput);

  // --- Binary conversion in the m_lBinaryConversion mode ---

  // Bytes to the application's string form.
  CString ConvertToASCII(const char* pData, long lLength);
  // The application's string form back to bytes; *pError becomes 0 or
  // OPOSSVC_E_CONVERSION (the result then holds the bytes decoded before the
  // bad group, padded with zero bytes).
  CString ConvertToBinary(const char* pData, long lLength, long* pError);
  // As above on an automation string (read, not freed); in mode 0 the text
  // is converted to the ANSI code page.
  CString ConvertToBinary(BSTR* pString, long* pError);

  DECLARE_MESSAGE_MAP()

 private:
  long RunOpenInit(const char* pszDeviceClass, const char* pszDeviceName, IDispatch* pDispatch,
                   unsigned long dwRequiredEvents, int bDirectIOAlways);
  // 0, or for the maker's control objects the data value that the
  // completion call leaves.
  long CompleteEventFiring();
};

// An automation string of a zero-terminated ANSI string, converted to UTF-16.
// Raises the memory exception when allocation fails.
OPOSSVC_API BSTR AllocSysString(const char* psz);
// An automation string holding the bytes of psz unconverted (byte length =
// strlen). Raises the memory exception when allocation fails.
OPOSSVC_API BSTR AllocSysStringByte(const char* psz);
// Replaces *pbstr with a new automation string of len bytes from psz. psz
// may point into the old string, which then gives the bytes up to its end
// and the rest are zero. Returns 1, or 0 with *pbstr null.
OPOSSVC_API int ReAllocSysStringByteLen(BSTR* pbstr, const char* psz, unsigned int len);

// Milliseconds since a tick count (GetTickCount), across one wrap.
OPOSSVC_API unsigned long GetInterval(unsigned long dwStartTick);
// Milliseconds since a local time (GetLocalTime), across day, month and year
// ends; a start later than now wraps to a large value.
OPOSSVC_API unsigned long GetInterval(const SYSTEMTIME& stStart);

#endif  // OPOSSVC_SVCBASE_H_
