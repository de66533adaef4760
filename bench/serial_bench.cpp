// The serial driver against bare system calls on the same pseudo-terminal.
//
//   serial_out             PortOutputData of 4096-byte records, read back on
//                          the master side, against write() of the same
//                          records to the slave, in CPU time of the process;
//   serial_out_wall        the same in wall time (shown, not a goal);
//   serial_in              the master writes 4096-byte blocks: what reaches
//                          DataUpdate (read size 4096) against a read() loop
//                          with a 4096-byte buffer;
//   serial_in_latency_p50  one byte from the master to DataUpdate against a
//                          poll()+read() loop, with a pause between bytes so
//                          that the receiver is asleep when each arrives;
//   serial_idle_cpu_pct    the CPU of the process while a port is open and
//                          idle (both driver threads), at the default pauses.
//
// Each repetition measures both sides, in alternating order; the first is a
// warm-up. The pty's kernel work makes single measurements jump by a factor
// of several on a busy machine, so the sides take turns as closely as they
// can: output in 16 slices each, alternating; input and latency, where the
// driver must have the slave to itself (two readers would take each other's
// bytes), as the best of three measurements in a row per side. Output is
// judged by the median of its 16 pairs, in CPU time of the whole process
// (writer, driver threads and reader): every thread of either side is busy
// or waits for the other side of the pty, so that is the cost of moving the
// bytes, and the other work of a shared machine does not blur it as it
// blurs wall time.
//
//   serial_bench [runs, default 7] [line names: only these]
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <opossvc/portdrv.h>
#include <opossvc/svcbase.h>
#include <opossvc/testing/temp_registry.h>

#include "bench/report.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kBlock = 4096;              // record, write and read size on both sides
constexpr size_t kTotal = 4 << 20;           // bytes per throughput measurement
constexpr int kLatencySamples = 200;         // bytes per latency measurement
constexpr auto kLatencyGap = std::chrono::microseconds(500);
constexpr auto kIdleTime = std::chrono::seconds(3);
constexpr int kSlices = 16;                  // output turns per side and repetition
constexpr int kTries = 3;                    // input measurements per side and repetition
constexpr char kDeviceKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Bench";
constexpr char kDevice[] = "POSPrinter\\Bench";

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// What one side received, counted and time-stamped by the receiving thread,
// which wakes the waiting one only when its count is reached (so that the
// waiter costs the same on both sides).
class Receipts {
 public:
  void Add(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    count_ += bytes;
    last_ = Clock::now();
    if (count_ >= awaited_) reached_.notify_one();
  }
  // Waits until `count` in all have come; the time the last came.
  Clock::time_point WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    awaited_ = count;
    reached_.wait(lock, [&] { return count_ >= count; });
    awaited_ = SIZE_MAX;
    return last_;
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    count_ = 0;
  }

 private:
  std::mutex mutex_;
  std::condition_variable reached_;
  size_t count_ = 0;
  size_t awaited_ = SIZE_MAX;
  Clock::time_point last_;
};

class BenchSvc : public CSvcBase {
 public:
  void DataUpdate(unsigned char*, long length) override {
    received.Add(static_cast<size_t>(length));
  }
  void OutputDataComplete(long) override { completed.Add(1); }

  Receipts received;
  Receipts completed;
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads `total` bytes from fd on a thread of its own, counting them in `to`.
std::thread ReadOnThread(int fd, size_t total, size_t buffer_size, Receipts* to) {
  return std::thread([=] {
    std::vector<char> buffer(buffer_size);
    for (size_t got = 0; got < total;) {
      const ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n <= 0) {
        std::perror("read");
        std::exit(1);
      }
      got += static_cast<size_t>(n);
      to->Add(static_cast<size_t>(n));
    }
  });
}

// One paired measurement: seconds for the driver and for the anchor.
struct Sample {
  double ours = 0;
  double anchor = 0;
  // Wall seconds, when the two above are CPU seconds.
  bool cpu = false;
  double ours_wall = 0;
  double anchor_wall = 0;
  // When set, the repetition's ratio in place of anchor / ours.
  double ratio = 0;
};

class Bench {
 public:
  bool SetUp() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      std::perror("posix_openpt");
      return false;
    }
    slave_ = ptsname(master_);
    MakeRaw(master_);
    registry_.SetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", slave_, "COM9");
    registry_.SetString(HKEY_LOCAL_MACHINE, kDeviceKey, "Port", "COM9");
    const std::pair<const char*, DWORD> values[] = {
        {"Baudrate", 13}, {"BitLength", 1}, {"Parity", 0},       {"Stop", 0},
        {"HandShake", 0}, {"XonXoff", 0},   {"InputBuf", 65536}, {"OutputBuf", 65536},
    };
    for (const auto& [name, value] : values) {
      registry_.SetDword(HKEY_LOCAL_MACHINE, kDeviceKey, name, value);
    }
    return true;
  }
  ~Bench() {
    if (master_ >= 0) close(master_);
  }

  // The process's CPU seconds (all threads: the writer, the driver's own
  // and the reader on the master side) to write kTotal bytes, as records
  // through the driver or with write() on the slave, until the master side
  // has read them all and every record is complete. CPU time, unlike wall
  // time, is the same on a busy machine as on an idle one; both sides hold
  // the slave at once (the anchor's descriptor is opened first, the driver
  // then holds the port exclusively), so that they can take turns closely:
  // kSlices slices each, summed.
  Sample Output(bool ours_first) {
    const int fd = OpenSlave();
    Open();
    Sample sample;
    sample.cpu = true;
    std::vector<double> pair_ratios;  // anchor / ours CPU, per pair of slices
    Spent last;
    for (int slice = 0; slice < 2 * kSlices; ++slice) {
      if ((slice % 2 == 0) == ours_first) {
        const Spent spent = OutputSlice(
            [&](const std::string& record) {
              port_.PortOutputData(record.data(), record.size(), 0, &svc_, 0, 0, 0);
            },
            [&] {
              svc_.completed.WaitFor(kTotal / kBlock / kSlices);
              svc_.completed.Reset();
            });
        sample.ours += spent.cpu;
        sample.ours_wall += spent.wall;
        if (slice % 2 == 1) pair_ratios.push_back(last.cpu / spent.cpu);
        last = spent;
      } else {
        const Spent spent = OutputSlice(
            [&](const std::string& record) {
              if (!WriteAll(fd, record.data(), record.size())) std::exit(1);
            },
            [] {});
        sample.anchor += spent.cpu;
        sample.anchor_wall += spent.wall;
        if (slice % 2 == 1) pair_ratios.push_back(spent.cpu / last.cpu);
        last = spent;
      }
    }
    // The median pair: a slice that another process's burst slowed down
    // (its caches, the host's steal) does not move it.
    sample.ratio = opossvc::bench::Median(pair_ratios);
    Close();
    close(fd);
    return sample;
  }

  // Seconds for kTotal bytes from the master to the receiver. The driver
  // and the anchor cannot both read the slave: each side runs alone, as the
  // best of kTries in a row.
  Sample Input(bool ours_first) {
    return Alone(ours_first, [this] {
      Open();
      const double best = Best([&] {
        svc_.received.Reset();
        const Clock::time_point start = Clock::now();
        WriteBlocks();
        return Seconds(svc_.received.WaitFor(kTotal) - start);
      });
      Close();
      return best;
    }, [this] {
      const int fd = OpenSlave();
      const double best = Best([&] {
        Receipts received;
        std::thread reader = ReadOnThread(fd, kTotal, kBlock, &received);
        const Clock::time_point start = Clock::now();
        WriteBlocks();
        const Clock::time_point end = received.WaitFor(kTotal);
        reader.join();
        return Seconds(end - start);
      });
      close(fd);
      return best;
    });
  }

  // The median time for one byte to arrive, in seconds; as Input.
  Sample Latency(bool ours_first) {
    return Alone(ours_first, [this] {
      Open();
      const double best = Best([&] {
        svc_.received.Reset();
        return MedianLatency(svc_.received);
      });
      Close();
      return best;
    }, [this] {
      const int fd = OpenSlave();
      const double best = Best([&] {
        Receipts received;
        std::thread reader([&] {
          char byte;
          for (int i = 0; i < kLatencySamples; ++i) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, -1) != 1 || read(fd, &byte, 1) != 1) std::exit(1);
            received.Add(1);
          }
        });
        const double median = MedianLatency(received);
        reader.join();
        return median;
      });
      close(fd);
      return best;
    });
  }

  // Percent of one core that the process uses while the port is open and
  // nothing happens.
  double IdleCpuPercent() {
    Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double cpu = opossvc::bench::ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(kIdleTime);
    const double used = opossvc::bench::ProcessCpuSeconds() - cpu;
    const double wall = Seconds(Clock::now() - start);
    Close();
    return 100 * used / wall;
  }

 private:
  struct Spent {
    double cpu = 0;
    double wall = 0;
  };
  // One slice of the output: kTotal / kSlices bytes as records, until the
  // master side has read them all (the wall time) and `finish` has returned
  // (the CPU time).
  Spent OutputSlice(const std::function<void(const std::string&)>& put,
                    const std::function<void()>& finish) {
    constexpr size_t kSliceBytes = kTotal / kSlices;
    const std::string record(kBlock, 'o');
    Receipts drained;
    std::thread reader = ReadOnThread(master_, kSliceBytes, 65536, &drained);
    const double cpu = opossvc::bench::ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    for (size_t sent = 0; sent < kSliceBytes; sent += kBlock) put(record);
    const Clock::time_point end = drained.WaitFor(kSliceBytes);
    finish();
    reader.join();
    return {opossvc::bench::ProcessCpuSeconds() - cpu, Seconds(end - start)};
  }
  static Sample Alone(bool ours_first, const std::function<double()>& ours,
                      const std::function<double()>& anchor) {
    Sample sample;
    if (ours_first) {
      sample.ours = ours();
      sample.anchor = anchor();
    } else {
      sample.anchor = anchor();
      sample.ours = ours();
    }
    return sample;
  }
  // The best of kTries measurements in a row: what the other work on a
  // shared machine did not slow down.
  static double Best(const std::function<double()>& measure) {
    double best = measure();
    for (int i = 1; i < kTries; ++i) best = std::min(best, measure());
    return best;
  }
  static void MakeRaw(int fd) {
    termios t = {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  int OpenSlave() {
    const int fd = open(slave_.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
      std::perror(slave_.c_str());
      std::exit(1);
    }
    MakeRaw(fd);
    return fd;
  }
  void Open() {
    const long result = port_.PortOpen(kDevice, &svc_, static_cast<long>(kBlock), 0, 0);
    if (result != 0) {
      std::fprintf(stderr, "PortOpen: %ld\n", result);
      std::exit(1);
    }
  }
  void Close() {
    const long result = port_.PortClose(&svc_);
    if (result != 0) {
      std::fprintf(stderr, "PortClose: %ld\n", result);
      std::exit(1);
    }
  }
  void WriteBlocks() {
    const std::string block(kBlock, 'i');
    for (size_t sent = 0; sent < kTotal; sent += kBlock) {
      if (!WriteAll(master_, block.data(), block.size())) std::exit(1);
    }
  }
  // Sends one byte at a time and waits for it; the median of the times from
  // the write to the receiver's time stamp.
  double MedianLatency(Receipts& received) {
    std::vector<double> samples;
    for (int i = 0; i < kLatencySamples; ++i) {
      std::this_thread::sleep_for(kLatencyGap);
      const Clock::time_point sent = Clock::now();
      if (!WriteAll(master_, "l", 1)) std::exit(1);
      samples.push_back(Seconds(received.WaitFor(static_cast<size_t>(i) + 1) - sent));
    }
    return opossvc::bench::Median(samples);
  }

  int master_ = -1;
  std::string slave_;
  opossvc::testing::TempRegistry registry_;
  BenchSvc svc_;
  CPortdrv port_;  // destroyed before the service object
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
  if (runs < 1) {
    std::fprintf(stderr, "usage: %s [runs] [line names]\n", argv[0]);
    return 2;
  }
  const auto selected = [&](const std::string& name) {
    if (argc <= 2) return true;
    for (int i = 2; i < argc; ++i) {
      if (argv[i] == name) return true;
    }
    return false;
  };
  Bench bench;
  if (!bench.SetUp()) return 1;

  // Each side measures seconds: for kTotal bytes to pass, or for one byte to
  // arrive. The figure is the driver's own median, in wall time.
  struct Line {
    const char* name;
    Sample (Bench::*measure)(bool ours_first);
    const char* figure;
    bool throughput;  // MB/s, else microseconds
  };
  const Line lines[] = {
      {"serial_out", &Bench::Output, "serial_out_mb_per_s", true},
      {"serial_in", &Bench::Input, "serial_in_mb_per_s", true},
      {"serial_in_latency_p50", &Bench::Latency, "serial_in_latency_p50_us", false},
  };
  for (const Line& line : lines) {
    if (!selected(line.name)) continue;
    std::vector<double> ratios;
    std::vector<double> wall_ratios;
    std::vector<double> ours;
    for (int run = 0; run <= runs; ++run) {  // run 0 warms up
      const Sample sample = (bench.*line.measure)(run % 2 == 0);
      if (run == 0) continue;
      ratios.push_back(sample.ratio > 0 ? sample.ratio : sample.anchor / sample.ours);
      if (sample.cpu) wall_ratios.push_back(sample.anchor_wall / sample.ours_wall);
      ours.push_back(sample.cpu ? sample.ours_wall : sample.ours);
    }
    opossvc::bench::PrintRatio(line.name, ratios);
    opossvc::bench::PrintRatio(std::string(line.name) + "_wall", wall_ratios);
    const double median = opossvc::bench::Median(ours);
    if (line.throughput) {
      opossvc::bench::PrintFigure(line.figure, kTotal / median / 1e6, "MB/s");
    } else {
      opossvc::bench::PrintFigure(line.figure, median * 1e6, "us");
    }
  }
  if (selected("serial_idle_cpu_pct")) {
    opossvc::bench::PrintFigure("serial_idle_cpu_pct", bench.IdleCpuPercent(), "%");
  }
  return 0;
}
