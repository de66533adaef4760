// Microseconds per entry listing a key's subkeys and values by index, for
// keys of growing size: by increasing index (each call continues where the
// one before stopped) and by decreasing index (each call counts from the
// start of the list, as every call would without continuation).
//
//   listing_bench [largest size, default 10000]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/win32/registry.h>

namespace {

using Clock = std::chrono::steady_clock;

bool Fill(HKEY key, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string name = "Entry" + std::to_string(i);
    HKEY child = nullptr;
    if (RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr) !=
        ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(child);
    const DWORD data = static_cast<DWORD>(i);
    if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                       sizeof data) != ERROR_SUCCESS) {
      return false;
    }
  }
  return true;
}

bool Entry(HKEY key, bool values, DWORD index) {
  char name[256];
  DWORD size = sizeof name;
  LONG result = values ? RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr)
                       : RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  return result == ERROR_SUCCESS;
}

// Microseconds per entry; -1 when an entry could not be read.
double MicrosPerEntry(HKEY key, bool values, int count, bool increasing) {
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const DWORD index = static_cast<DWORD>(increasing ? i : count - 1 - i);
    if (!Entry(key, values, index)) return -1;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return seconds * 1e6 / count;
}

}  // namespace

int main(int argc, char** argv) {
  const int largest = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (largest < 1) {
    std::fprintf(stderr, "usage: %s [largest size]\n", argv[0]);
    return 2;
  }
  opossvc::testing::TempRegistry registry;
  std::printf("%8s %-8s %14s %14s\n", "entries", "listing", "increasing", "decreasing");
  for (int count = 10; count <= largest; count *= 10) {
    const std::string path = "SOFTWARE\\Listing" + std::to_string(count);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS ||
        !Fill(key, count)) {
      std::fprintf(stderr, "listing_bench: cannot fill %s\n", path.c_str());
      return 1;
    }
    for (bool values : {false, true}) {
      MicrosPerEntry(key, values, count, true);  // warm-up: statements get prepared
      const double up = MicrosPerEntry(key, values, count, true);
      const double down = MicrosPerEntry(key, values, count, false);
      if (up < 0 || down < 0) {
        std::fprintf(stderr, "listing_bench: a listing failed\n");
        return 1;
      }
      std::printf("%8d %-8s %11.2f us %11.2f us\n", count, values ? "values" : "subkeys", up, down);
    }
    RegCloseKey(key);
  }
  return 0;
}
