// Lines per second importing a generated REGEDIT4 file of 100,000 lines:
// device entries of every class with string, dword and binary values (some
// continued over two lines), logical names and configuration sub-keys.
//
//   import_bench [lines, default 100000]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/util.h>

namespace {

constexpr int kDefaultLines = 100000;
const char* const kClasses[] = {"CashDrawer", "LineDisplay", "MSR", "POSPrinter", "Scale", "Scanner"};

// The generator's loop test: a call, since the lines are counted by a lambda.
bool Done(const int& lines, int wanted) { return lines >= wanted; }

// Writes a file of about `wanted` lines; returns the number of lines.
int Generate(const std::string& path, int wanted) {
  std::ofstream out(path, std::ios::binary);
  int lines = 0;
  auto line = [&](const std::string& text) {
    out << text << "\r\n";
    ++lines;
  };
  line("REGEDIT4");
  for (int device = 0; !Done(lines, wanted); ++device) {
    const char* device_class = kClasses[device % 6];
    std::string name = "Device" + std::to_string(device);
    line("");
    line(std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\") + device_class + "]");
    line("\"Logical" + std::to_string(device) + "\"=\"" + name + "\"");
    line(std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\") + device_class + "\\" + name + "]");
    line("@=\"VQ." + std::string(device_class) + ".SO\"");
    line("\"Service\"=\"C:\\\\OPOS\\\\" + name + ".so\"");
    line("\"Description\"=\"Device number " + std::to_string(device) + "\"");
    line("\"Port\"=\"COM" + std::to_string(device % 8 + 1) + "\"");
    line("\"BaudRate\"=dword:00002580");
    line("\"DataBits\"=dword:00000008");
    line("\"Prefix\"=hex:02,1b,41,42,43,44,45,46,\\");
    line("  47,48,49,4a");
    line("; end of " + name);
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  const int wanted = argc > 1 ? std::atoi(argv[1]) : kDefaultLines;
  if (wanted < 1) {
    std::fprintf(stderr, "usage: %s [lines]\n", argv[0]);
    return 2;
  }
  opossvc::testing::TempRegistry registry;
  const std::string path = registry.root() + "/bench.reg";
  int lines = Generate(path, wanted);
  auto start = std::chrono::steady_clock::now();
  int result = ImportRegistry(path.c_str());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("imported %d lines in %.3f s: %.0f lines/s (result 0x%08x)\n", lines, seconds, lines / seconds,
              static_cast<unsigned>(result));
  return result == OPOSSVC_IMPORT_WRITTEN ? 0 : 1;
}
