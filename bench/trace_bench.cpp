// Trace records per second against two anchors.
//
// trace: the project traces a mix of records (a method call with a number,
// a number by reference and a BSTR by reference; a number property; a
// boolean property) into a private trace file; its anchor write()s the same
// bytes, one write per record, to a file opened for appending. Every trace
// record reaches the file in one write of its own, so that concurrent
// writers never mix records: the anchor is what that guarantee costs at the
// least, and the ratio is what building the records adds.
//
// trace_vs_fprintf: the same lines fprintf()ed to a buffered stream,
// flushed at the end; shown, not a goal, since the stream writes many
// records at once and a crash loses what it holds.
//
// Each run writes kRecords records per side into a fresh file; the three
// sides take turns in alternating order. The files must end up the same.
// Times are the writing thread's CPU time (user and system): every side
// runs on this one thread and never waits, so that is its whole cost, and
// other processes on the machine do not blur it as they blur wall time.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <opossvc/afx/dispatch_driver.h>
#include <opossvc/testing/temp_registry.h>
#include <opossvc/trace.h>

#include "bench/report.h"

namespace {

// The calling thread's CPU time.
struct Clock {
  using time_point = double;
  static double now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  }
};

constexpr int kRuns = 9;
constexpr int kRecords = 20000;  // per side and run
constexpr int kWarmUp = 2000;

long g_data = 7;

double Since(Clock::time_point start) { return Clock::now() - start; }

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Seconds for `count` trace records into a new file at `path`.
double TraceRecords(const std::string& path, int count, BSTR text) {
  unlink(path.c_str());
  CStdioFile* trace = OpenTrace(path.c_str());
  if (trace == nullptr) return -1;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    switch (i % 3) {
      case 0:
        OnMethod(trace, "POSPrinter", "DirectIO", 0, VTS_I4 VTS_PI4 VTS_PBSTR, static_cast<long>(i),
                 &g_data, &text);
        break;
      case 1:
        OnSetProp(trace, "POSPrinter", "CharacterSet", static_cast<long>(i));
        break;
      default:
        OnGetProp(trace, "POSPrinter", "DeviceEnabled", 1);
    }
  }
  const double seconds = Since(start);
  CloseTrace(trace);
  return seconds;
}

// The same lines by fprintf into a buffered stream, flushed at the end.
double PrintRecords(const std::string& path, int count) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return -1;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    switch (i % 3) {
      case 0:
        std::fprintf(out, ">POSPrinter.DirectIO(%d (0x%.8x),[%ld (0x%.8lx)],[\"Service\"])\r\n", i,
                     static_cast<unsigned>(i), g_data, static_cast<unsigned long>(g_data));
        break;
      case 1:
        std::fprintf(out, "POSPrinter.CharacterSet=%d (0x%.8x)\r\n", i, static_cast<unsigned>(i));
        break;
      default:
        std::fprintf(out, "POSPrinter.DeviceEnabled:TRUE\r\n");
    }
  }
  std::fflush(out);
  const double seconds = Since(start);
  std::fclose(out);
  return seconds;
}

// The records' bytes, one string each, made before the clock runs.
std::vector<std::string> RecordBytes(int count) {
  std::vector<std::string> records;
  records.reserve(static_cast<size_t>(count));
  char line[160];
  for (int i = 0; i < count; ++i) {
    int length = 0;
    switch (i % 3) {
      case 0:
        length = std::snprintf(line, sizeof(line),
                               ">POSPrinter.DirectIO(%d (0x%.8x),[%ld (0x%.8lx)],[\"Service\"])\r\n",
                               i, static_cast<unsigned>(i), g_data,
                               static_cast<unsigned long>(g_data));
        break;
      case 1:
        length = std::snprintf(line, sizeof(line), "POSPrinter.CharacterSet=%d (0x%.8x)\r\n", i,
                               static_cast<unsigned>(i));
        break;
      default:
        length = std::snprintf(line, sizeof(line), "POSPrinter.DeviceEnabled:TRUE\r\n");
    }
    records.emplace_back(line, static_cast<size_t>(length));
  }
  return records;
}

// One write() per record, appending.
double WriteRecords(const std::string& path, const std::vector<std::string>& records, int count) {
  unlink(path.c_str());
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const std::string& record = records[static_cast<size_t>(i)];
    if (write(fd, record.data(), record.size()) != static_cast<ssize_t>(record.size())) {
      close(fd);
      return -1;
    }
  }
  const double seconds = Since(start);
  close(fd);
  return seconds;
}

}  // namespace

int main() {
  opossvc::testing::TempRegistry registry;
  const std::string traced = registry.root() + "/trace.log";
  const std::string written = registry.root() + "/write.log";
  const std::string printed = registry.root() + "/fprintf.log";
  BSTR text = SysAllocString(u"Service");
  const std::vector<std::string> records = RecordBytes(kRecords);

  TraceRecords(traced, kWarmUp, text);
  WriteRecords(written, records, kWarmUp);
  PrintRecords(printed, kWarmUp);

  std::vector<double> versus_write, versus_fprintf;
  double trace_total = 0, write_total = 0, print_total = 0;
  for (int run = 0; run < kRuns; ++run) {
    double trace_s = 0, write_s = 0, print_s = 0;
    if (run % 2 == 0) {
      write_s = WriteRecords(written, records, kRecords);
      print_s = PrintRecords(printed, kRecords);
      trace_s = TraceRecords(traced, kRecords, text);
    } else {
      trace_s = TraceRecords(traced, kRecords, text);
      print_s = PrintRecords(printed, kRecords);
      write_s = WriteRecords(written, records, kRecords);
    }
    if (trace_s <= 0 || write_s <= 0 || print_s <= 0) {
      std::fprintf(stderr, "a file could not be written in %s\n", registry.root().c_str());
      return 1;
    }
    versus_write.push_back(write_s / trace_s);
    versus_fprintf.push_back(print_s / trace_s);
    trace_total += trace_s;
    write_total += write_s;
    print_total += print_s;
  }
  SysFreeString(text);

  const std::string trace_bytes = Contents(traced);
  if (trace_bytes != Contents(written) || trace_bytes != Contents(printed)) {
    std::fprintf(stderr, "the three files differ\n");
    return 1;
  }
  const double total = static_cast<double>(kRuns) * kRecords;
  std::printf("trace records: %.2f us each; write(): %.2f us; fprintf: %.2f us\n",
              1e6 * trace_total / total, 1e6 * write_total / total, 1e6 * print_total / total);
  opossvc::bench::PrintRatio("trace", versus_write);
  opossvc::bench::PrintRatio("trace_vs_fprintf", versus_fprintf);
  return 0;
}
