// scanner_simulator: plays a serial barcode scanner on a pseudo-terminal.
// It publishes the terminal under a COM name in the SERIALCOMM map, waits for
// the enable command "E\r" that the service object sends, sends each scan
// followed by CR, and ends when the service object disables the scanner
// ("D\r") or closes the port; the map entry is removed on the way out.
//
//   scanner_simulator [--com COMn] [--timeout SECONDS] SCAN...
//
// Exits 0 when every scan was sent, 1 otherwise.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <opossvc/win32/registry.h>

namespace {

constexpr char kSerialComm[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

using Clock = std::chrono::steady_clock;

// Records `device` as `com`, dropping any older entry for that COM name so
// that the library finds this one.
bool Publish(const std::string& device, const std::string& com) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<std::string> stale;
  for (DWORD i = 0;; ++i) {
    char name[1024];
    BYTE data[64];
    DWORD name_size = sizeof name, data_size = sizeof data, type = 0;
    LONG r = RegEnumValueA(key, i, name, &name_size, nullptr, &type, data, &data_size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    if (strcasecmp(reinterpret_cast<char*>(data), com.c_str()) == 0) stale.emplace_back(name);
  }
  for (const std::string& name : stale) RegDeleteValueA(key, name.c_str());
  LONG r = RegSetValueExA(key, device.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(com.c_str()),
                          static_cast<DWORD>(com.size() + 1));
  RegFlushKey(key);
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

void Unpublish(const std::string& device) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return;
  }
  RegDeleteValueA(key, device.c_str());
  RegFlushKey(key);
  RegCloseKey(key);
}

// Reads from the terminal until `command` has arrived. False at the deadline,
// on a signal, or when the other side closed after having opened it;
// `opened` tells whether it had been opened before.
bool WaitForCommand(int master, const std::string& command, Clock::time_point deadline,
                    bool opened) {
  std::string received;
  while (!g_stop && Clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    int n = poll(&p, 1, 100);
    if (n < 0 && errno != EINTR) return false;
    if (n <= 0) continue;
    if (p.revents & POLLIN) {
      char buffer[256];
      ssize_t got = read(master, buffer, sizeof buffer);
      if (got > 0) {
        opened = true;
        received.append(buffer, static_cast<size_t>(got));
        if (received.find(command) != std::string::npos) return true;
        continue;
      }
    }
    if (p.revents & POLLHUP) {
      // Nobody has the terminal open: not yet, or no longer.
      if (opened) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  return false;
}

bool SendAll(int master, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: scanner_simulator [--com COMn] [--timeout SECONDS] SCAN...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string com = "COM5";
  int timeout = 30;
  std::vector<std::string> scans;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--com" && i + 1 < argc) {
      com = argv[++i];
    } else if (arg == "--timeout" && i + 1 < argc) {
      timeout = std::atoi(argv[++i]);
    } else if (arg.rfind("--", 0) == 0) {
      return Usage();
    } else if (arg.find_first_of("\r\n") != std::string::npos) {
      std::fprintf(stderr, "scanner_simulator: a scan cannot hold a line end\n");
      return 2;
    } else {
      scans.push_back(arg);
    }
  }
  if (scans.empty() || timeout <= 0) return Usage();
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);

  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !ptsname(master)) {
    std::fprintf(stderr, "scanner_simulator: no pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  std::string device = ptsname(master);
  if (!Publish(device, com)) {
    std::fprintf(stderr, "scanner_simulator: cannot record %s in the SERIALCOMM map\n",
                 com.c_str());
    return 1;
  }
  std::printf("simulator: scanner on %s as %s\n", device.c_str(), com.c_str());
  std::fflush(stdout);

  auto deadline = Clock::now() + std::chrono::seconds(timeout);
  size_t sent = 0;
  if (WaitForCommand(master, "E\r", deadline, false)) {
    std::printf("simulator: enabled by the service object\n");
    for (const std::string& scan : scans) {
      if (g_stop || !SendAll(master, scan + "\r")) break;
      std::printf("simulator: sent %s\n", scan.c_str());
      std::fflush(stdout);
      ++sent;
      // A person scans one item after another.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    WaitForCommand(master, "D\r", deadline, true);
  } else {
    std::fprintf(stderr, "scanner_simulator: the service object never enabled the scanner\n");
  }
  Unpublish(device);
  close(master);
  std::printf("simulator: %zu of %zu scans sent\n", sent, scans.size());
  return sent == scans.size() ? 0 : 1;
}
