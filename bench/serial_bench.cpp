// Serial driver figures on a pseudo-terminal: bytes per second through
// PortOutputData (read back on the master side) against a plain write loop
// on the same pty, and the CPU time that an open, idle port costs.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <opossvc/portdrv.h>
#include <opossvc/svcbase.h>
#include <opossvc/testing/temp_registry.h>
#include <opossvc/win32/sync.h>

namespace {

constexpr size_t kTotal = 8 << 20;
constexpr size_t kRecord = 4096;
const char kDevice[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Bench";

class BenchSvc : public CSvcBase {};

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Reads kTotal bytes from the master side; false on a read error.
std::thread Drain(int master, bool* ok) {
  return std::thread([master, ok] {
    static char buffer[65536];
    size_t total = 0;
    while (total < kTotal) {
      const ssize_t n = read(master, buffer, sizeof(buffer));
      if (n <= 0) {
        *ok = false;
        return;
      }
      total += static_cast<size_t>(n);
    }
    *ok = true;
  });
}

double CpuSeconds() {
  rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("posix_openpt");
    return 1;
  }
  const std::string slave = ptsname(master);
  termios raw = {};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);

  opossvc::testing::TempRegistry registry;
  registry.SetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", slave, "COM9");
  registry.SetString(HKEY_LOCAL_MACHINE, kDevice, "Port", "COM9");
  const std::pair<const char*, DWORD> values[] = {
      {"Baudrate", 13}, {"BitLength", 1}, {"Parity", 0},         {"Stop", 0},
      {"HandShake", 0}, {"XonXoff", 0},   {"InputBuf", 65536},   {"OutputBuf", 65536},
      {"IdleSleep", 1}, {"InputSleep", 10},
  };
  for (const auto& [name, value] : values) registry.SetDword(HKEY_LOCAL_MACHINE, kDevice, name, value);

  const std::string record(kRecord, 'x');
  // The driver writes in chunks of half "OutputBuf"; the plain loop too.
  const std::string chunk(32768, 'x');

  // Plain write loop on the slave.
  double plain = 0;
  {
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios t = {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    bool ok = false;
    const auto start = std::chrono::steady_clock::now();
    std::thread reader = Drain(master, &ok);
    for (size_t sent = 0; sent < kTotal;) {
      const ssize_t n = write(fd, chunk.data(), chunk.size());
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    reader.join();
    plain = static_cast<double>(kTotal) / Seconds(std::chrono::steady_clock::now() - start);
    close(fd);
    if (!ok) std::fprintf(stderr, "plain loop: read failed\n");
  }

  // The same bytes through the driver.
  BenchSvc svc;
  CPortdrv port;
  const long opened = port.PortOpen("POSPrinter\\Bench", &svc, 4096, 0, 0);
  if (opened != 0) {
    std::fprintf(stderr, "PortOpen: %ld\n", opened);
    return 1;
  }
  double driver = 0;
  {
    bool ok = false;
    const auto start = std::chrono::steady_clock::now();
    std::thread reader = Drain(master, &ok);
    for (size_t sent = 0; sent < kTotal; sent += kRecord) {
      port.PortOutputData(record.data(), record.size(), 0, &svc, 0, 0, 0);
    }
    reader.join();
    driver = static_cast<double>(kTotal) / Seconds(std::chrono::steady_clock::now() - start);
    if (!ok) std::fprintf(stderr, "driver: read failed\n");
  }

  std::printf("plain write loop:  %10.0f bytes/s\n", plain);
  std::printf("PortOutputData:    %10.0f bytes/s\n", driver);
  std::printf("driver/plain:      %10.2f\n", driver / plain);

  port.PortClose(&svc);

  // An open port with nothing to do, at the default pauses (10 ms each).
  registry.SetDword(HKEY_LOCAL_MACHINE, kDevice, "IdleSleep", 10);
  if (port.PortOpen("POSPrinter\\Bench", &svc, 4096, 0, 0) != 0) return 1;
  const double before = CpuSeconds();
  Sleep(5000);
  std::printf("idle open port:    %10.3f s CPU in 5 s\n", CpuSeconds() - before);
  port.PortClose(&svc);
  close(master);
  return 0;
}
