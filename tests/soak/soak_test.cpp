// Several service objects share one port for a while (OPOSSVC_SOAK_SECONDS,
// default 10): output with random immediate records, clears and flow-control
// toggles, input at full rate, notifications frozen and released at random.
// Nothing received is lost, duplicated or reordered; every record either
// completes or was cleared; completed records arrive whole; memory stays
// bounded.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <opossvc/opos.h>
#include <opossvc/portdrv.h>
#include <opossvc/svcbase.h>
#include <opossvc/testing/temp_registry.h>
#include <opossvc/testing/virtual_port.h>

namespace {

using Clock = std::chrono::steady_clock;

// AddressSanitizer holds freed memory in quarantine (256 MiB by default),
// so resident size says nothing about leaks there; its leak check does.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
constexpr std::chrono::milliseconds kDeadline{30000};

int SoakSeconds() {
  const char* text = std::getenv("OPOSSVC_SOAK_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 10;
  return seconds > 0 ? seconds : 10;
}

size_t ResidentBytes() {
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long size = 0, resident = 0;
  const int read = std::fscanf(statm, "%lu %lu", &size, &resident);
  std::fclose(statm);
  return read == 2 ? resident * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

// Byte n of the device's input stream: never repeats within 251 bytes and
// is free of the XON/XOFF characters.
char InputByte(uint64_t n) {
  char c = static_cast<char>(n % 251);
  if (c == 0x11 || c == 0x13) c = static_cast<char>(0x80 + c);
  return c;
}

// A service object whose data notifications can be frozen: the driver's
// input thread then waits inside DataUpdate, as behind a busy application.
// It checks its input against the stream as it comes, so that memory stays
// flat however fast the input runs.
class SoakSvc : public CSvcBase {
 public:
  void DataUpdate(unsigned char* data, long length) override {
    std::unique_lock<std::mutex> lock(mutex_);
    thawed_.wait(lock, [this] { return !frozen_; });
    for (long i = 0; i < length && first_wrong_ == kNone; ++i) {
      if (static_cast<char>(data[i]) != InputByte(received_ + i)) first_wrong_ = received_ + i;
    }
    received_ += static_cast<uint64_t>(length);
    changed_.notify_all();
  }
  void OutputDataComplete(long outputId) override {
    std::lock_guard<std::mutex> lock(mutex_);
    completed_.push_back(outputId);
    changed_.notify_all();
  }
  void PortError(long code) override {
    std::lock_guard<std::mutex> lock(mutex_);
    errors_.push_back(code);
  }
  using CSvcBase::PowerReport;
  void PowerReport(long, int, int) override {}

  void Freeze(bool frozen) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      frozen_ = frozen;
    }
    thawed_.notify_all();
  }
  bool WaitForReceived(uint64_t size) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] { return received_ >= size; });
  }
  bool WaitForCompleted(const std::set<long>& ids) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] {
      std::set<long> done(completed_.begin(), completed_.end());
      for (long id : ids) {
        if (done.count(id) == 0) return false;
      }
      return true;
    });
  }
  uint64_t received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  // The index of the first input byte that was lost, duplicated or
  // reordered; kNone while all came right.
  static constexpr uint64_t kNone = ~uint64_t{0};
  uint64_t first_wrong() {
    std::lock_guard<std::mutex> lock(mutex_);
    return first_wrong_;
  }
  std::vector<long> completed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return completed_;
  }
  std::vector<long> errors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable thawed_;
  std::condition_variable changed_;
  bool frozen_ = false;              // guarded by mutex_
  uint64_t received_ = 0;            // guarded by mutex_
  uint64_t first_wrong_ = kNone;     // guarded by mutex_
  std::vector<long> completed_;      // guarded by mutex_
  std::vector<long> errors_;         // guarded by mutex_
};

// A record: STX, "<client>:<id>:", a body whose letters follow from the
// id, ETX. Parsed back from the device's output stream.
std::string Record(int client, long id) {
  std::string body(static_cast<size_t>(id * 37 % 300 + 1), '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + (id + i) % 26);
  return "\x02" + std::to_string(client) + ":" + std::to_string(id) + ":" + body + "\x03";
}

// Every whole record in the stream, as (client, id); bytes of records cut
// by a clear are skipped.
std::vector<std::pair<int, long>> WholeRecords(const std::string& stream) {
  std::vector<std::pair<int, long>> found;
  size_t at = 0;
  while ((at = stream.find('\x02', at)) != std::string::npos) {
    const size_t end = stream.find('\x03', at);
    if (end == std::string::npos) break;
    const size_t next_start = stream.find('\x02', at + 1);
    if (next_start < end) {  // a cut record
      at = next_start;
      continue;
    }
    const std::string text = stream.substr(at, end - at + 1);
    int client = -1;
    long id = -1;
    if (std::sscanf(text.c_str() + 1, "%d:%ld:", &client, &id) == 2 && Record(client, id) == text) {
      found.emplace_back(client, id);
    }
    at = end + 1;
  }
  return found;
}

TEST(Soak, SharedPortUnderLoad) {
  constexpr int kClients = 3;
  const auto duration = std::chrono::seconds(SoakSeconds());
  opossvc::testing::TempRegistry registry;
  const std::string config = "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\VANTA1.6";
  registry.SetDword(HKEY_LOCAL_MACHINE, config, "IdleSleep", 1);
  registry.SetDword(HKEY_LOCAL_MACHINE, config, "InputSleep", 1);
  for (int c = 0; c < kClients; ++c) {
    const std::string key =
        "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Soak" + std::to_string(c);
    registry.SetString(HKEY_LOCAL_MACHINE, key, "Port", "COM5");
    const std::pair<const char*, DWORD> settings[] = {
        {"Baudrate", 11}, {"BitLength", 1}, {"Parity", 0},      {"Stop", 0},
        {"HandShake", 1}, {"XonXoff", 0},   {"InputBuf", 4096}, {"OutputBuf", 256},
        {"Timeout", 20}};
    for (const auto& [name, value] : settings) registry.SetDword(HKEY_LOCAL_MACHINE, key, name, value);
  }

  opossvc::testing::VirtualPort device("COM5");
  device.SetCts(true);
  device.SetDsr(true);
  CPortdrv port;
  std::vector<std::unique_ptr<SoakSvc>> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.push_back(std::make_unique<SoakSvc>());
    const std::string name = "POSPrinter\\Soak" + std::to_string(c);
    ASSERT_EQ(port.PortOpen(name.c_str(), clients.back().get(), 128, 0, 0), 0) << c;
  }

  // The device sends without pause.
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> sent{0};
  bool cts = true;
  // Joins the sender however the test ends.
  struct Joiner {
    std::atomic<bool>* stop;
    std::thread* thread;
    ~Joiner() {
      *stop = true;
      if (thread->joinable()) thread->join();
    }
  };
  std::thread sender([&] {
    std::string chunk;
    while (!stop) {
      chunk.clear();
      const uint64_t first = sent.load();
      for (uint64_t n = first; n < first + 509; ++n) chunk += InputByte(n);
      device.Send(chunk);
      sent += chunk.size();
      // As fast as the driver takes it: the receive queue never runs dry
      // but does not grow without bound either.
      device.WaitUntil([](const opossvc::testing::VirtualPort::State& state) {
        return state.receive_queue < 2048;
      }, std::chrono::milliseconds(100));
    }
  });

  Joiner joiner{&stop, &sender};
  std::mt19937 random(42);
  std::vector<std::set<long>> outstanding(kClients);  // queued, neither completed nor cleared
  std::vector<std::set<long>> cleared(kClients);
  std::vector<std::vector<long>> plain_order(kClients);  // non-immediate ids in queue order
  std::string output;  // what the device took and was not yet counted, in order
  // Per record id (ids are unique across clients): its client, and how
  // often it arrived whole.
  std::vector<int> owner(1, -1);
  std::vector<int> arrivals(1, 0);
  // Counts the whole records of the output taken so far; called where the
  // stream is at a record boundary (nothing queued, nothing being written).
  auto count_output = [&] {
    for (const auto& [client, id] : WholeRecords(output)) {
      if (id <= 0 || static_cast<size_t>(id) >= owner.size() || owner[id] != client) {
        ADD_FAILURE() << "record " << id << " of client " << client << " never queued";
        continue;
      }
      ++arrivals[id];
    }
    output.clear();
  };
  size_t baseline_rss = 0;
  long next_id = 1;
  int step = 0;

  // Input check: what each client got so far is exactly the stream's start.
  auto check_input = [&](int c) {
    const uint64_t wrong = clients[c]->first_wrong();
    if (wrong == SoakSvc::kNone) return true;
    ADD_FAILURE() << "client " << c << " input byte " << wrong << " lost, duplicated or reordered";
    return false;
  };

  const auto end = Clock::now() + duration;
  while (Clock::now() < end) {
    const int c = static_cast<int>(random() % kClients);
    const int action = static_cast<int>(random() % 100);
    if (action < 70) {
      const long id = next_id++;
      const bool immediate = random() % 5 == 0;
      const std::string record = Record(c, id);
      const long result = port.PortOutputData(record.data(), record.size(), 0, clients[c].get(),
                                              immediate ? 1 : 0, 1, id);
      // A flow-controlled record is refused while the device holds CTS off.
      if (result == OPOSSVC_E_NOT_READY && !cts) continue;
      ASSERT_EQ(result, 0) << "CTS " << (cts ? "on" : "off");
      outstanding[c].insert(id);
      owner.resize(static_cast<size_t>(id) + 1, -1);
      arrivals.resize(static_cast<size_t>(id) + 1, 0);
      owner[id] = c;
      if (!immediate) plain_order[c].push_back(id);
    } else if (action < 75) {
      // Whatever this client had queued and not completed now counts as cleared.
      ASSERT_EQ(port.ClearOutputBuffer(clients[c].get()), 0);
      const auto done = clients[c]->completed();
      const std::set<long> finished(done.begin(), done.end());
      for (long id : outstanding[c]) {
        if (finished.count(id) == 0) cleared[c].insert(id);
      }
      outstanding[c].clear();
    } else if (action < 85) {
      cts = random() % 3 != 0;  // flow control holds output while CTS is off
      device.SetCts(cts);
    } else if (action < 92) {
      clients[c]->Freeze(random() % 2 == 0);
    } else {
      for (auto& client : clients) client->Freeze(false);
      for (int k = 0; k < kClients; ++k) ASSERT_TRUE(check_input(k));
    }
    output += device.TakeWritten();
    if (++step % 200 == 0) {
      // Keep the queues short so that the run measures steady state.
      cts = true;
      device.SetCts(true);
      for (auto& client : clients) client->Freeze(false);
      for (int k = 0; k < kClients; ++k) {
        const auto done = clients[k]->completed();
        const std::set<long> finished(done.begin(), done.end());
        std::set<long> waiting;
        for (long id : outstanding[k]) {
          if (finished.count(id) == 0) waiting.insert(id);
        }
        ASSERT_TRUE(clients[k]->WaitForCompleted(waiting)) << "client " << k << " output stuck";
        outstanding[k].clear();
      }
      ASSERT_TRUE(device.WaitUntil([](const auto& state) { return state.writers_waiting == 0; },
                                   kDeadline));
      output += device.TakeWritten();
      count_output();
      if (baseline_rss == 0 && step >= 1000) baseline_rss = ResidentBytes();
    }
  }

  // Drain: everything outstanding completes.
  device.SetCts(true);
  for (auto& client : clients) client->Freeze(false);
  for (int c = 0; c < kClients; ++c) {
    ASSERT_TRUE(clients[c]->WaitForCompleted(outstanding[c])) << "client " << c;
  }
  stop = true;
  sender.join();
  const uint64_t total = sent.load();
  for (int c = 0; c < kClients; ++c) {
    ASSERT_TRUE(clients[c]->WaitForReceived(total))
        << "client " << c << " got " << clients[c]->received() << " of " << total << " input bytes";
    ASSERT_TRUE(check_input(c));
    EXPECT_EQ(clients[c]->received(), total) << "client " << c;
  }
  ASSERT_TRUE(device.WaitUntil([](const auto& s) { return s.writers_waiting == 0; }, kDeadline));
  output += device.TakeWritten();
  count_output();

  // Output: each record completed at most once; every completed one arrived
  // whole exactly once; every queued one completed unless cleared; a
  // client's plain records completed in queue order.
  for (int c = 0; c < kClients; ++c) {
    const auto done = clients[c]->completed();
    std::set<long> seen;
    for (long id : done) {
      EXPECT_TRUE(seen.insert(id).second) << "record " << id << " completed twice";
      ASSERT_TRUE(id > 0 && static_cast<size_t>(id) < owner.size() && owner[id] == c)
          << "completion " << id << " for client " << c;
      EXPECT_EQ(arrivals[id], 1) << "completed record " << id << " of client " << c;
    }
    for (long id : plain_order[c]) {
      EXPECT_TRUE(seen.count(id) != 0 || cleared[c].count(id) != 0)
          << "record " << id << " neither completed nor cleared";
    }
    std::vector<long> plain_done;
    const std::set<long> plain(plain_order[c].begin(), plain_order[c].end());
    for (long id : done) {
      if (plain.count(id) != 0) plain_done.push_back(id);
    }
    EXPECT_TRUE(std::is_sorted(plain_done.begin(), plain_done.end()))
        << "client " << c << " plain records out of order";
    EXPECT_TRUE(clients[c]->errors().empty()) << "client " << c;
  }

  for (int c = 0; c < kClients; ++c) EXPECT_EQ(port.PortClose(clients[c].get()), 0);
  const size_t final_rss = ResidentBytes();
  if (kResidentSizeMeaningful && baseline_rss != 0) {
    EXPECT_LT(final_rss, baseline_rss + 64u * 1024 * 1024)
        << "resident memory grew from " << baseline_rss << " to " << final_rss;
  }
  std::printf("soak: %d s, %ld records, %llu input bytes, rss %zu -> %zu KiB\n",
              SoakSeconds(), next_id - 1, static_cast<unsigned long long>(total),
              baseline_rss / 1024, final_rss / 1024);
}

}  // namespace
