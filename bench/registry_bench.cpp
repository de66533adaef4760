// Lookups per second of a device's string value through CRegistryInfo,
// against the same value read by a bare SQLite point query on the store
// file, in one run.
//
//   registry_bench [seconds per measurement, default 1]
//
// Figures: an object that holds the device reading its value (the service
// object's and port driver's path); a new object per read that first looks
// the device up (what a caller does on each open); and the SQLite query with
// the key id resolved once and the statement prepared once (the floor).
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include <opossvc/registry.h>
#include <opossvc/testing/temp_registry.h>

namespace {

constexpr char kDeviceKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Printer1";
constexpr char kPort[] = "COM3";

// Runs `read` until `seconds` have passed; reads per second, or -1 when a
// read failed.
double ReadsPerSecond(double seconds, const std::function<bool()>& read) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto until = start + std::chrono::duration<double>(seconds);
  long long reads = 0;
  Clock::time_point now;
  do {
    for (int batch = 0; batch < 64; ++batch, ++reads) {
      if (!read()) return -1;
    }
    now = Clock::now();
  } while (now < until);
  return static_cast<double>(reads) / std::chrono::duration<double>(now - start).count();
}

// The store's own tables: keys by (parent, upper-case key), values by (key,
// upper-case key), a key being the upper-cased name in UTF-16BE; string data
// is UTF-16LE. HKEY_LOCAL_MACHINE is key 3.
std::string KeyOf(const char* ascii_upper) {
  std::string key;
  for (const char* c = ascii_upper; *c != '\0'; ++c) {
    key.push_back('\0');
    key.push_back(*c);
  }
  return key;
}

class RawStore {
 public:
  explicit RawStore(const std::string& file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return;
    sqlite3_int64 id = 3;
    for (const char* name : {"SOFTWARE", "OLEFORRETAIL", "SERVICEOPOS", "POSPRINTER", "PRINTER1"}) {
      const std::string key = KeyOf(name);
      sqlite3_stmt* find = nullptr;
      sqlite3_prepare_v2(db_, "SELECT id FROM reg_key WHERE parent = ?1 AND upper = ?2", -1, &find,
                         nullptr);
      sqlite3_bind_int64(find, 1, id);
      sqlite3_bind_blob(find, 2, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
      const bool found = sqlite3_step(find) == SQLITE_ROW;
      if (found) id = sqlite3_column_int64(find, 0);
      sqlite3_finalize(find);
      if (!found) return;
    }
    if (sqlite3_prepare_v2(db_, "SELECT data FROM reg_value WHERE key_id = ?1 AND upper = ?2", -1,
                           &query_, nullptr) != SQLITE_OK) {
      return;
    }
    port_key_ = KeyOf("PORT");
    sqlite3_bind_int64(query_, 1, id);
    sqlite3_bind_blob(query_, 2, port_key_.data(), static_cast<int>(port_key_.size()),
                      SQLITE_STATIC);
  }
  ~RawStore() {
    sqlite3_finalize(query_);
    sqlite3_close(db_);
  }
  RawStore(const RawStore&) = delete;
  RawStore& operator=(const RawStore&) = delete;

  // The value's text, taken from its UTF-16 data as far as its NUL.
  bool Read(std::string* value) {
    if (query_ == nullptr) return false;
    const bool found = sqlite3_step(query_) == SQLITE_ROW;
    if (found) {
      const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(query_, 0));
      const int size = sqlite3_column_bytes(query_, 0);
      value->clear();
      for (int i = 0; i + 1 < size && (data[i] != 0 || data[i + 1] != 0); i += 2) {
        value->push_back(static_cast<char>(data[i]));
      }
    }
    sqlite3_reset(query_);
    return found;
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* query_ = nullptr;
  std::string port_key_;  // bound to query_
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  if (!(seconds > 0)) {
    std::fprintf(stderr, "usage: %s [seconds per measurement]\n", argv[0]);
    return 2;
  }
  opossvc::testing::TempRegistry registry;
  if (registry.SetString(HKEY_LOCAL_MACHINE, kDeviceKey, "Port", kPort) != ERROR_SUCCESS ||
      registry.SetString(HKEY_LOCAL_MACHINE, kDeviceKey, "DeviceName", "Printer One") !=
          ERROR_SUCCESS) {
    std::fprintf(stderr, "registry_bench: cannot seed the store in %s\n", registry.root().c_str());
    return 1;
  }

  CRegistryInfo held;
  held.GetDeviceInfo("Printer1", KC_POSPRINTER);
  CString value;
  const double held_rate = ReadsPerSecond(
      seconds, [&] { return held.GetString(KC_CURRENT_DEVICE, "Port", value) && value == kPort; });

  const double lookup_rate = ReadsPerSecond(seconds, [&] {
    CRegistryInfo fresh;
    return fresh.GetDeviceInfo("Printer1", KC_POSPRINTER) &&
           fresh.GetString(KC_CURRENT_DEVICE, "Port", value) && value == kPort;
  });

  RawStore raw(registry.store_path());
  std::string raw_value;
  const double raw_rate =
      ReadsPerSecond(seconds, [&] { return raw.Read(&raw_value) && raw_value == kPort; });

  if (held_rate < 0 || lookup_rate < 0 || raw_rate < 0) {
    std::fprintf(stderr, "registry_bench: a read failed (held %s, lookup %s, raw %s)\n",
                 held_rate < 0 ? "failed" : "ok", lookup_rate < 0 ? "failed" : "ok",
                 raw_rate < 0 ? "failed" : "ok");
    return 1;
  }
  std::printf("%-44s %12.0f reads/s\n", "CRegistryInfo, device held, GetString", held_rate);
  std::printf("%-44s %12.0f reads/s\n", "CRegistryInfo, new object + lookup + read", lookup_rate);
  std::printf("%-44s %12.0f reads/s\n", "SQLite point query, prepared", raw_rate);
  std::printf("ratio held/raw   %.3f  (raw is %.1fx faster)\n", held_rate / raw_rate,
              raw_rate / held_rate);
  std::printf("ratio lookup/raw %.3f  (raw is %.1fx faster)\n", lookup_rate / raw_rate,
              raw_rate / lookup_rate);
  return 0;
}
