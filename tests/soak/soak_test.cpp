// Several service objects share one port for a while (OPOSSVC_SOAK_SECONDS, default 10): output
// with random immediate records, clears and flow-control toggles, input at full rate,
// notifications frozen and released at random. Nothing received is lost, duplicated or reordered;
// every record either completes or was cleared; completed records arrive whole; memory stays
// bounded.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/opos.h>
#include <opossvc/portdrv.h>
#include <opossvc/testing/virtual_port.h>

#include "tests/support/device_entry.h"
#include "tests/support/process_usage.h"
#include "tests/support/recording_svc.h"

namespace opossvc::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kDeadline{30000};

int SoakSeconds() {
  const char* text = std::getenv("OPOSSVC_SOAK_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 10;
  return seconds > 0 ? seconds : 10;
}

// Byte n of the device's input stream: never repeats within 251 bytes and is free of the
// XON/XOFF characters.
char InputByte(uint64_t n) {
  char c = static_cast<char>(n % 251);
  if (c == 0x11 || c == 0x13) c = static_cast<char>(0x80 + c);
  return c;
}

// A client whose data notifications can be frozen: the driver's input thread then waits inside
// DataUpdate, as behind a busy application. With what the test knows of its records.
struct Client {
  // Input is checked as it arrives, on the driver's input thread, and not kept.
  Client() {
    svc.keep_data = false;
    svc.on_data = [this](RecordingSvc*, unsigned char* data, long length) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        thawed.wait(lock, [this] { return !frozen; });
      }
      const uint64_t start = verified;
      for (long i = 0; i < length; ++i) {
        if (static_cast<char>(data[i]) != InputByte(start + static_cast<uint64_t>(i))) wrong = true;
      }
      verified = start + static_cast<uint64_t>(length);
    };
  }
  void Freeze(bool on) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      frozen = on;
    }
    thawed.notify_all();
  }
  // The outstanding records not completed yet.
  std::set<long> Waiting() {
    std::set<long> waiting = outstanding;
    for (long id : svc.Values(Notice::kComplete)) waiting.erase(id);
    return waiting;
  }
  bool WaitForCompleted(const std::set<long>& ids) {
    return svc.log().WaitUntil(
        [&](const std::vector<Notice>& all) {
          std::set<long> done;
          for (const Notice& n : all) {
            if (n.kind == Notice::kComplete) done.insert(n.a);
          }
          return std::includes(done.begin(), done.end(), ids.begin(), ids.end());
        },
        kDeadline);
  }

  RecordingSvc svc;
  std::mutex mutex;
  std::condition_variable thawed;
  bool frozen = false;         // guarded by mutex
  std::set<long> outstanding;  // queued, neither completed nor cleared
  std::set<long> cleared;
  std::vector<long> plain;     // non-immediate ids in queue order
  std::atomic<uint64_t> verified{0};  // input bytes checked, on the input thread
  std::atomic<bool> wrong{false};     // a byte lost, duplicated or reordered
};

// A record: STX, "<client>:<id>:", a body whose letters follow from the id, ETX.
std::string Record(int client, long id) {
  std::string body(static_cast<size_t>(id * 37 % 300 + 1), '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + (id + i) % 26);
  return "\x02" + std::to_string(client) + ":" + std::to_string(id) + ":" + body + "\x03";
}

// Every whole record in the stream, as (client, id); bytes of records cut by a clear are skipped.
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
  TempRegistry registry;
  WriteFastConfig(registry);
  DeviceEntry entry;
  entry.port = "COM5";
  entry.values["Baudrate"] = 11;
  entry.values["HandShake"] = 1;
  entry.values["InputBuf"] = 4096;
  entry.values["OutputBuf"] = 256;
  entry.values["Timeout"] = 20;
  VirtualPort device("COM5");
  device.SetCts(true);
  device.SetDsr(true);
  std::vector<std::unique_ptr<Client>> clients;
  for (int c = 0; c < kClients; ++c) clients.push_back(std::make_unique<Client>());
  CPortdrv port;
  // However the test ends, frozen clients are let go before the driver joins its threads.
  struct Thaw {
    std::vector<std::unique_ptr<Client>>& clients;
    ~Thaw() {
      for (auto& client : clients) client->Freeze(false);
    }
  } thaw{clients};
  for (int c = 0; c < kClients; ++c) {
    entry.name = "Soak" + std::to_string(c);
    WriteDevice(registry, entry);
    ASSERT_EQ(port.PortOpen(entry.id().c_str(), &clients[c]->svc, 128, 0, 0), 0) << c;
  }

  // The device sends as fast as the driver takes it: the receive queue never runs dry but does
  // not grow without bound either. Joined however the test ends.
  std::atomic<uint64_t> sent{0};
  std::jthread sender([&](std::stop_token stop) {
    std::string chunk;
    while (!stop.stop_requested()) {
      chunk.clear();
      const uint64_t first = sent.load();
      for (uint64_t n = first; n < first + 509; ++n) chunk += InputByte(n);
      device.Send(chunk);
      sent += chunk.size();
      device.WaitUntil([](const VirtualPort::State& s) { return s.receive_queue < 2048; },
                       std::chrono::milliseconds(100));
    }
  });

  std::mt19937 random(42);
  bool cts = true;
  std::vector<std::pair<int, int>> records(1, {-1, 0});  // per id: its client, whole arrivals
  std::string output;  // what the device took and was not yet counted, in order
  // Lets every client go; all output waiting completes, every byte so far is checked and the
  // whole records of the output are counted.
  auto drain = [&] {
    device.SetCts(cts = true);
    for (auto& client : clients) client->Freeze(false);
    for (size_t c = 0; c < clients.size(); ++c) {
      ASSERT_TRUE(clients[c]->WaitForCompleted(clients[c]->Waiting())) << "client " << c;
      clients[c]->outstanding.clear();
      EXPECT_FALSE(clients[c]->wrong) << "client " << c << " input lost or reordered";
    }
    ASSERT_TRUE(device.WaitUntil([](const auto& s) { return s.writers_waiting == 0; }, kDeadline));
    // The stream is at a record boundary now: count the whole records taken so far.
    output += device.TakeWritten();
    for (const auto& [client, id] : WholeRecords(output)) {
      if (id <= 0 || static_cast<size_t>(id) >= records.size() || records[id].first != client) {
        ADD_FAILURE() << "record " << id << " of client " << client << " never queued";
        continue;
      }
      ++records[id].second;
    }
    output.clear();
  };

  size_t baseline_rss = 0;
  long next_id = 1;
  const auto end = Clock::now() + std::chrono::seconds(SoakSeconds());
  for (int step = 1; Clock::now() < end; ++step) {
    const int c = static_cast<int>(random() % kClients);
    Client& client = *clients[c];
    const int action = static_cast<int>(random() % 100);
    if (action < 70) {
      const long id = next_id++;
      const bool immediate = random() % 5 == 0;
      const std::string record = Record(c, id);
      const long result = port.PortOutputData(record.data(), record.size(), 0, &client.svc,
                                              immediate ? 1 : 0, 1, id);
      // A flow-controlled record is refused while the device holds CTS off.
      if (result == OPOSSVC_E_NOT_READY && !cts) continue;
      ASSERT_EQ(result, 0) << "CTS " << (cts ? "on" : "off");
      client.outstanding.insert(id);
      records.resize(static_cast<size_t>(id) + 1, {-1, 0});
      records[id].first = c;
      if (!immediate) client.plain.push_back(id);
    } else if (action < 75) {
      // Whatever this client had queued and not completed now counts as cleared.
      ASSERT_EQ(port.ClearOutputBuffer(&client.svc), 0);
      const std::set<long> waiting = client.Waiting();
      client.cleared.insert(waiting.begin(), waiting.end());
      client.outstanding.clear();
    } else if (action < 85) {
      cts = random() % 3 != 0;  // flow control holds output while CTS is off
      device.SetCts(cts);
    } else {
      client.Freeze(random() % 2 == 0);
    }
    output += device.TakeWritten();
    if (step % 200 == 0) {  // keep the queues short, so that the run measures steady state
      drain();
      if (HasFatalFailure()) return;
      if (baseline_rss == 0 && step >= 1000) baseline_rss = ResidentBytes();
    }
  }
  sender.request_stop();
  sender.join();
  drain();
  if (HasFatalFailure()) return;
  const uint64_t total = sent.load();
  for (auto& client : clients) {
    ASSERT_TRUE(client->svc.WaitForReceived(static_cast<size_t>(total), kDeadline))
        << client->svc.ReceivedCount() << " of " << total << " input bytes";
    EXPECT_FALSE(client->wrong) << "input lost or reordered";
    EXPECT_EQ(client->verified.load(), total);
  }

  // Output: each record completed at most once; every completed one arrived whole exactly once;
  // every queued one completed unless cleared; a client's plain records completed in queue order.
  for (size_t c = 0; c < clients.size(); ++c) {
    SCOPED_TRACE(c);
    Client& client = *clients[c];
    const std::vector<long> done = client.svc.Values(Notice::kComplete);
    const std::set<long> plain(client.plain.begin(), client.plain.end());
    std::set<long> seen;
    std::vector<long> plain_done;
    for (long id : done) {
      EXPECT_TRUE(seen.insert(id).second) << "record " << id << " completed twice";
      ASSERT_TRUE(id > 0 && static_cast<size_t>(id) < records.size() &&
                  records[id].first == static_cast<int>(c))
          << "completion " << id;
      EXPECT_EQ(records[id].second, 1) << "completed record " << id;
      if (plain.count(id) != 0) plain_done.push_back(id);
    }
    for (long id : client.plain) {
      EXPECT_TRUE(seen.count(id) != 0 || client.cleared.count(id) != 0)
          << "record " << id << " neither completed nor cleared";
    }
    EXPECT_TRUE(std::is_sorted(plain_done.begin(), plain_done.end())) << "plain records reordered";
    EXPECT_TRUE(client.svc.Values(Notice::kError).empty());
  }

  for (auto& client : clients) EXPECT_EQ(port.PortClose(&client->svc), 0);
  const size_t final_rss = ResidentBytes();
  if (!kSanitized && baseline_rss != 0) {
    EXPECT_LT(final_rss, baseline_rss + 64u * 1024 * 1024)
        << "resident memory grew from " << baseline_rss << " to " << final_rss;
  }
}

}  // namespace
}  // namespace opossvc::testing
