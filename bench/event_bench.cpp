// Event latency and the cost of an idle event thread.
//
// Latency: from QueueEvent on a producer thread to the control object's
// SOData call on the window thread, against its anchor, two threads handing
// a record over a condition variable. Both sides get one record at a time
// with a pause between records, so the receiving thread is asleep when each
// arrives, as it is when a device reports something. Measured at IdleSleep
// 0, 1 and 10; the ratio line without a suffix is the worst of the three in
// each run, the p99 figure the worst of the three medians over the runs.
//
// Idle cost: the CPU that the whole process uses over one second while an
// open object has nothing to deliver.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <opossvc/svcbase.h>
#include <opossvc/testing/flags.h>
#include <opossvc/testing/message_pump.h>
#include <opossvc/testing/recording_control_object.h>
#include <opossvc/testing/temp_registry.h>

#include "bench/report.h"

namespace {

using Clock = std::chrono::steady_clock;
using opossvc::testing::SetFlag;

constexpr int kRuns = 7;  // paired repetitions per IdleSleep
constexpr int kWarmUp = 50;
constexpr int kRecords = 400;  // per side and run
constexpr auto kGap = std::chrono::microseconds(300);
const DWORD kIdleSleeps[] = {0, 1, 10};

const char kDeviceKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\Bench";

// The receiving side notes when a record reached it; the producer waits for
// that note before it sends the next record.
class Arrival {
 public:
  void Mark() {
    const Clock::time_point now = Clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      at_ = now;
      arrived_ = true;
    }
    cv_.notify_one();
  }
  Clock::time_point Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return arrived_; });
    arrived_ = false;
    return at_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool arrived_ = false;
  Clock::time_point at_;
};

// Microseconds from each send to its arrival, after a warm-up.
template <class Send>
std::vector<double> Latencies(Send&& send, Arrival& arrival) {
  std::vector<double> samples;
  samples.reserve(kRecords);
  for (int i = 0; i < kWarmUp + kRecords; ++i) {
    std::this_thread::sleep_for(kGap);
    const Clock::time_point sent = Clock::now();
    send(i);
    const Clock::time_point arrived = arrival.Wait();
    if (i >= kWarmUp) {
      samples.push_back(std::chrono::duration<double, std::micro>(arrived - sent).count());
    }
  }
  return samples;
}

// A thread that takes records from a locked queue and runs on_record for
// each. One of them is the anchor.
class Handover {
 public:
  explicit Handover(std::function<void()> on_record)
      : on_record_(std::move(on_record)), thread_([this] { Consume(); }) {}
  ~Handover() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }
  void Send(long value) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      records_.push_back(value);
    }
    cv_.notify_one();
  }

 private:
  void Consume() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return stop_ || !records_.empty(); });
      if (stop_) return;
      records_.pop_front();
      lock.unlock();
      on_record_();
      lock.lock();
    }
  }

  const std::function<void()> on_record_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<long> records_;
  bool stop_ = false;
  std::thread thread_;
};

// The smallest service object: data events become SOData calls.
class BenchServiceObject : public CSvcBase {
 public:
  using CSvcBase::OpenInit;
  LRESULT OnOposEvent(WPARAM type, LPARAM) {
    return type == OPOS_EVENT_DATA ? SOData(static_cast<long>(m_dwEventData1)) : 0;
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BenchServiceObject, CSvcBase)
  ON_MESSAGE(WM_OPOS_EVENT, &BenchServiceObject::OnOposEvent)
END_MESSAGE_MAP()

std::string Suffixed(const char* name, DWORD idle_sleep) {
  return std::string(name) + "_idle" + std::to_string(idle_sleep);
}

}  // namespace

int main() {
  using opossvc::bench::Median;
  using opossvc::bench::Percentile;
  using opossvc::bench::RunPaired;

  opossvc::testing::TempRegistry registry;
  registry.SetString(HKEY_LOCAL_MACHINE, kDeviceKey, "DeviceName", "Bench");
  registry.SetString(HKEY_LOCAL_MACHINE, kDeviceKey, "Port", "COM1");

  Arrival arrival;
  opossvc::testing::RecordingControlObject co;
  co.OnCall("SOData", [&](const opossvc::testing::RecordedCall&, DISPPARAMS*, VARIANT*) {
    arrival.Mark();
    return S_OK;
  });

  opossvc::testing::MessagePump pump;
  auto so = pump.Create<BenchServiceObject>();
  const long opened = pump.Run([&] {
    const long result = so->OpenInit("Scanner", "Bench", &co, 0x01, FALSE);
    so->m_bOpened = 1;
    so->m_bDeliverEvents = 1;
    so->m_bDeviceEnabled = 1;
    return result;
  });
  if (opened != OPOS_SUCCESS) {
    std::fprintf(stderr, "OpenInit: %ld (%ld)\n", opened,
                 static_cast<long>(so->m_lResultCodeExtended));
    return 1;
  }
  std::thread event_thread([&] { so->ProcessEvents(); });

  std::vector<double> worst(kRuns, std::numeric_limits<double>::infinity());
  double worst_p99 = 0;
  {
    Handover handover([&] { arrival.Mark(); });
    auto anchor = [&] { return Latencies([&](int i) { handover.Send(i); }, arrival); };
    auto project = [&] {
      return Latencies([&](int i) { so->QueueEvent(OPOS_EVENT_DATA, i, 0, 0); }, arrival);
    };
    for (DWORD idle_sleep : kIdleSleeps) {
      SetFlag(so->m_dwIdleSleep, idle_sleep);
      std::vector<double> ratios, p50s, anchor_p50s, p99s;
      for (int run = 0; run < kRuns; ++run) {
        const auto [ours, theirs] = RunPaired(run, project, anchor);
        co.ClearCalls();
        ratios.push_back(Median(theirs) / Median(ours));
        p50s.push_back(Median(ours));
        anchor_p50s.push_back(Median(theirs));
        p99s.push_back(Percentile(ours, 0.99));
        worst[run] = std::min(worst[run], ratios.back());
      }
      std::printf(
          "IdleSleep %lu: SOData %.1f us after QueueEvent (p99 %.1f us), "
          "condition variable %.1f us (p50)\n",
          static_cast<unsigned long>(idle_sleep), Median(p50s), Median(p99s), Median(anchor_p50s));
      opossvc::bench::PrintRatio(Suffixed("event_latency_p50", idle_sleep), ratios);
      worst_p99 = std::max(worst_p99, Median(p99s));
    }
  }
  opossvc::bench::PrintRatio("event_latency_p50", worst);
  opossvc::bench::PrintFigure("event_latency_p99_us", worst_p99, "us");

  // The part of the road after the event thread: the platform's send to the
  // window thread and the SOData call, from this thread directly.
  std::vector<double> window_p50s;
  for (int run = 0; run < kRuns; ++run) {
    window_p50s.push_back(Median(Latencies(
        [&](int) { ::SendMessageA(so->m_hWnd, WM_OPOS_EVENT, OPOS_EVENT_DATA, 0); }, arrival)));
    co.ClearCalls();
  }
  std::printf("of which SendMessageA to the window thread and SOData: %.1f us (p50)\n",
              Median(window_p50s));

  // The least that the road's shape costs: a hand-over to a second thread
  // that hands over to a third and waits for its answer, as the event thread
  // waits for the window's.
  std::vector<double> chain_p50s;
  {
    Arrival answer;
    Handover window([&] {
      arrival.Mark();
      answer.Mark();
    });
    Handover event([&] {
      window.Send(0);
      answer.Wait();
    });
    for (int run = 0; run < kRuns; ++run) {
      chain_p50s.push_back(Median(Latencies([&](int i) { event.Send(i); }, arrival)));
    }
  }
  std::printf("two condition-variable hand-overs, the second answered: %.1f us (p50)\n",
              Median(chain_p50s));

  // Nothing queued: only the event thread could use the CPU.
  for (DWORD idle_sleep : kIdleSleeps) {
    SetFlag(so->m_dwIdleSleep, idle_sleep);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double before = opossvc::bench::ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double pct = 100 * (opossvc::bench::ProcessCpuSeconds() - before) / wall;
    opossvc::bench::PrintFigure(idle_sleep == 0 ? std::string("event_idle_cpu_pct")
                                                : Suffixed("event_idle_cpu_pct", idle_sleep),
                                pct, "%");
  }

  SetFlag(so->m_bOpened, 0);
  event_thread.join();  // the pump keeps serving the window meanwhile
  return 0;
}
