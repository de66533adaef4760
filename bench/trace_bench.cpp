// Trace records per second, against fprintf of the same lines to a file.
//
// Each trace record reaches the file in one write of its own (so that
// concurrent writers never mix records), while fprintf collects lines in the
// C library's buffer; the ratio shows what that guarantee costs.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include <opossvc/afx/dispatch_driver.h>
#include <opossvc/testing/temp_registry.h>
#include <opossvc/trace.h>

namespace {

constexpr int kRecords = 200000;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main() {
  opossvc::testing::TempRegistry registry;
  const std::string trace_path = registry.root() + "/trace.log";
  const std::string plain_path = registry.root() + "/plain.log";
  long data = 7;
  BSTR text = SysAllocString(u"Service");

  auto start = std::chrono::steady_clock::now();
  CStdioFile* trace = OpenTrace(trace_path.c_str());
  if (trace == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", trace_path.c_str());
    return 1;
  }
  for (int i = 0; i < kRecords; ++i) {
    switch (i % 3) {
      case 0:
        OnMethod(trace, "POSPrinter", "DirectIO", 0, VTS_I4 VTS_PI4 VTS_PBSTR, static_cast<long>(i), &data, &text);
        break;
      case 1:
        OnSetProp(trace, "POSPrinter", "CharacterSet", static_cast<long>(i));
        break;
      default:
        OnGetProp(trace, "POSPrinter", "DeviceEnabled", 1);
    }
  }
  CloseTrace(trace);
  double traced = Seconds(std::chrono::steady_clock::now() - start);

  start = std::chrono::steady_clock::now();
  FILE* plain = std::fopen(plain_path.c_str(), "wb");
  if (plain == nullptr) return 1;
  for (int i = 0; i < kRecords; ++i) {
    switch (i % 3) {
      case 0:
        std::fprintf(plain, ">POSPrinter.DirectIO(%d (0x%.8x),[%ld (0x%.8lx)],[\"Service\"])\r\n", i,
                     static_cast<unsigned>(i), data, static_cast<unsigned long>(data));
        break;
      case 1:
        std::fprintf(plain, "POSPrinter.CharacterSet=%d (0x%.8x)\r\n", i, static_cast<unsigned>(i));
        break;
      default:
        std::fprintf(plain, "POSPrinter.DeviceEnabled:TRUE\r\n");
    }
  }
  std::fclose(plain);
  double printed = Seconds(std::chrono::steady_clock::now() - start);
  SysFreeString(text);

  bool same = std::filesystem::file_size(trace_path) == std::filesystem::file_size(plain_path);
  std::printf("trace records:   %10.0f records/s (%d in %.3f s)\n", kRecords / traced, kRecords, traced);
  std::printf("fprintf lines:   %10.0f lines/s   (%d in %.3f s)\n", kRecords / printed, kRecords, printed);
  std::printf("ratio fprintf/trace: %.2f; same bytes written: %s\n", traced / printed, same ? "yes" : "no");
  return same ? 0 : 1;
}
