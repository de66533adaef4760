#include <algorithm>
#include <atomic>
#include <chrono>

#include <opossvc/svcbase.h>

namespace {

// Holds a critical section for one scope.
class OPOSSVC_SCOPED_CAPABILITY ScopedCriticalSection {
 public:
  explicit ScopedCriticalSection(CRITICAL_SECTION& cs) OPOSSVC_ACQUIRE(cs) : cs_(cs) {
    EnterCriticalSection(&cs_);
  }
  ~ScopedCriticalSection() OPOSSVC_RELEASE() { LeaveCriticalSection(&cs_); }
  ScopedCriticalSection(const ScopedCriticalSection&) = delete;
  ScopedCriticalSection& operator=(const ScopedCriticalSection&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

// Types and loci are 32-bit values; a wider long is taken modulo 2^32.
DWORD Low32(long long value) { return static_cast<DWORD>(value); }

}  // namespace

COposEvent::COposEvent() {
  InitializeCriticalSection(&m_cs);
  RemoveAll(0);
}

COposEvent::~COposEvent() { DeleteCriticalSection(&m_cs); }

void COposEvent::QueueEvent(long lEventType, long lData1, long lData2, LONG_PTR lData3) {
  Record record{Low32(lEventType), static_cast<ULONG_PTR>(lData1), static_cast<ULONG_PTR>(lData2),
                static_cast<ULONG_PTR>(lData3)};
  {
    ScopedCriticalSection lock(m_cs);
    if (record.type == OPOS_EVENT_ERROR && Low32(lData3) == OPOS_EL_INPUT_DATA) {
      m_records.push_front(record);
    } else {
      m_records.push_back(record);
    }
  }
  {
    std::lock_guard<std::mutex> lock(m_wake_lock);
    m_queued = true;
  }
  // After leaving the lock, so that the woken thread does not block on it.
  m_waking.fetch_add(1, std::memory_order_relaxed);
  m_wake.notify_one();
  m_waking.fetch_sub(1, std::memory_order_relaxed);
}

bool COposEvent::WaitForQueueing(DWORD ms) {
  bool queued = false;
  {
    std::unique_lock<std::mutex> lock(m_wake_lock);
    queued = m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_queued; });
    m_queued = false;
  }
  // A queueing thread still inside its wake-up call was most likely put off
  // this processor by the wake-up and is still runnable here. A thread that
  // this one wakes next would then be woken on another processor, at many
  // times the cost of the hand-over (an inter-processor wake-up, or an idle
  // virtual processor brought back). One yield lets the queueing thread run
  // on to its own wait first; where it runs elsewhere, the yield costs a
  // system call.
  if (queued && m_waking.load(std::memory_order_relaxed) != 0) Sleep(0);
  return queued;
}

void COposEvent::WakeWaiter() {
  {
    std::lock_guard<std::mutex> lock(m_wake_lock);
    m_queued = true;  // the waiter then finds no record and tests the open flag
  }
  m_wake.notify_one();
}

void COposEvent::RemoveAll(long lEventType) {
  ScopedCriticalSection lock(m_cs);
  if (lEventType == 0) {
    m_records.clear();
    return;
  }
  DWORD type = Low32(lEventType);
  m_records.erase(std::remove_if(m_records.begin(), m_records.end(),
                                 [type](const Record& r) { return r.type == type; }),
                  m_records.end());
}

void COposEvent::RemoveFirstID(long lEventType) {
  ScopedCriticalSection lock(m_cs);
  DWORD type = Low32(lEventType);
  auto it = std::find_if(m_records.begin(), m_records.end(),
                         [type](const Record& r) { return r.type == type; });
  if (it != m_records.end()) m_records.erase(it);
}

void COposEvent::RemoveAtZero() {
  ScopedCriticalSection lock(m_cs);
  RemoveFirstData();
}

long COposEvent::GetSize() {
  ScopedCriticalSection lock(m_cs);
  return static_cast<long>(m_records.size());
}

long COposEvent::GetDirectIOIndex() {
  ScopedCriticalSection lock(m_cs);
  auto it = std::find_if(m_records.begin(), m_records.end(),
                         [](const Record& r) { return r.type == OPOS_EVENT_DIRECTIO; });
  return it == m_records.end() ? -1 : static_cast<long>(it - m_records.begin());
}

int COposEvent::GetDirectIOData(ULONG_PTR* pEventType, ULONG_PTR* pData1, ULONG_PTR* pData2,
                                ULONG_PTR* pData3) {
  ScopedCriticalSection lock(m_cs);
  auto it = std::find_if(m_records.begin(), m_records.end(),
                         [](const Record& r) { return r.type == OPOS_EVENT_DIRECTIO; });
  if (it == m_records.end()) return 0;
  if (pEventType) *pEventType = OPOS_EVENT_DIRECTIO;
  if (pData1) *pData1 = it->data1;
  if (pData2) *pData2 = it->data2;
  if (pData3) *pData3 = it->data3;
  return 1;
}

int COposEvent::GetFirstData(ULONG_PTR* pEventType, ULONG_PTR* pData1, ULONG_PTR* pData2,
                             ULONG_PTR* pData3, int bRemove) {
  ScopedCriticalSection lock(m_cs);
  if (m_records.empty()) return 0;
  const Record& head = m_records.front();
  if (pEventType) *pEventType = head.type;
  if (pData1) *pData1 = head.data1;
  if (pData2) *pData2 = head.data2;
  if (pData3) *pData3 = head.data3;
  if (bRemove) RemoveFirstData();
  return 1;
}

void COposEvent::RemoveFirstData() {
  if (!m_records.empty()) m_records.pop_front();
}
