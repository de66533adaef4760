// Registry reads against bare SQLite on the same store file, in one run.
//
//   registry_bench [seconds per measurement, default 0.3]
//
// lookup:    a new CRegistryInfo looks a device up by a logical name and
//            reads its port (what a caller does on each open), against the
//            same SQL statements that this lookup runs, recorded from it,
//            prepared once and run in one transaction (the floor of any
//            lookup that asks the store the same questions).
// held_read: an object that holds the device reads its port (the service
//            object's and port driver's path), against one prepared point
//            query of the value.
// Each ratio is the project's reads per second over the anchor's, from
// alternating paired repetitions after a warm-up.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <opossvc/registry.h>
#include <opossvc/testing/temp_registry.h>

#include "bench/report.h"

namespace {

using opossvc::bench::PrintFigure;
using opossvc::bench::PrintRatio;

constexpr int kRuns = 7;
constexpr char kClassKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
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
    for (int batch = 0; batch < 16; ++batch, ++reads) {
      if (!read()) return -1;
    }
    now = Clock::now();
  } while (now < until);
  return static_cast<double>(reads) / std::chrono::duration<double>(now - start).count();
}

// The statements that connections run on this thread while recording, with
// their parameters written in (the connections opened while the extension is
// registered are traced: the library's are opened by the same SQLite). A
// connection stops tracing at its first statement after the recording.
thread_local bool recording = false;
bool recorded_all = false;
std::vector<std::string> recorded;

int Trace(unsigned event, void*, void* statement, void*) {
  if (event != SQLITE_TRACE_STMT) return 0;
  if (recorded_all) {
    sqlite3_trace_v2(sqlite3_db_handle(static_cast<sqlite3_stmt*>(statement)), 0, nullptr, nullptr);
    return 0;
  }
  if (!recording) return 0;
  char* sql = sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(statement));
  if (sql == nullptr) return 0;
  // The anchor brackets the statements in a transaction of its own.
  if (std::strncmp(sql, "BEGIN", 5) != 0 && std::strncmp(sql, "COMMIT", 6) != 0 &&
      std::strncmp(sql, "ROLLBACK", 8) != 0) {
    recorded.emplace_back(sql);
  }
  sqlite3_free(sql);
  return 0;
}

int TraceConnection(sqlite3* db, char**, const sqlite3_api_routines*) {
  sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &Trace, nullptr);
  return SQLITE_OK;
}

// Bare SQLite on the store file: a list of statements, each prepared once.
class RawStore {
 public:
  explicit RawStore(const std::string& file) {
    // Serialised by its one user, as the library's connections are.
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
      return;
    }
    ok_ = Prepare("BEGIN") && Prepare("COMMIT");
  }
  ~RawStore() {
    for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  RawStore(const RawStore&) = delete;
  RawStore& operator=(const RawStore&) = delete;

  bool Prepare(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK) {
      std::fprintf(stderr, "registry_bench: cannot prepare %s: %s\n", sql.c_str(),
                   sqlite3_errmsg(db_));
      ok_ = false;
      return false;
    }
    statements_.push_back(statement);
    return true;
  }

  // Runs statement `index` and reads every column of its first row as it
  // is stored, as the library takes the one row it asks for; the number of
  // rows read (0 or 1), or -1 on failure.
  int Run(size_t index) {
    sqlite3_stmt* statement = statements_[index];
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW) {
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        if (sqlite3_column_type(statement, column) == SQLITE_INTEGER) {
          sqlite3_column_int64(statement, column);
        } else {
          sqlite3_column_blob(statement, column);
          sqlite3_column_bytes(statement, column);
        }
      }
    }
    sqlite3_reset(statement);
    return result == SQLITE_ROW ? 1 : result == SQLITE_DONE ? 0 : -1;
  }

  // The recorded statements (from index 2 on) in one transaction; the last
  // one's first row is the port.
  bool RunAll() {
    if (!ok_ || Run(0) < 0) return false;
    bool ok = true;
    for (size_t i = 2; i < statements_.size(); ++i) ok = Run(i) >= 0 && ok;
    return Run(1) >= 0 && ok;
  }

  size_t statements() const { return statements_.size() - 2; }
  bool ok() const { return ok_; }

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
  bool ok_ = false;
};

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

// One prepared point query of the port, its key id resolved beforehand.
class PointQuery {
 public:
  explicit PointQuery(const std::string& file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
      return;
    }
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
  ~PointQuery() {
    sqlite3_finalize(query_);
    sqlite3_close(db_);
  }
  PointQuery(const PointQuery&) = delete;
  PointQuery& operator=(const PointQuery&) = delete;

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

// Paired repetitions of `project` and `anchor`; false when a read failed.
bool Compare(const char* name, double seconds, const std::function<bool()>& project,
             const std::function<bool()>& anchor) {
  ReadsPerSecond(seconds / 4, project);  // warm-up
  ReadsPerSecond(seconds / 4, anchor);
  std::vector<double> ratios;
  std::vector<double> project_rates;
  for (int run = 0; run < kRuns; ++run) {
    const double ours = ReadsPerSecond(seconds, project);
    const double theirs = ReadsPerSecond(seconds, anchor);
    if (ours < 0 || theirs < 0) {
      std::fprintf(stderr, "registry_bench: a %s read failed (%s)\n", name,
                   ours < 0 ? "project" : "anchor");
      return false;
    }
    ratios.push_back(ours / theirs);
    project_rates.push_back(ours);
  }
  PrintRatio(name, ratios);
  PrintFigure(std::string(name) + "_per_second", opossvc::bench::Median(project_rates), "reads/s");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 0.3;
  if (!(seconds > 0)) {
    std::fprintf(stderr, "usage: %s [seconds per measurement]\n", argv[0]);
    return 2;
  }
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(&TraceConnection));
  opossvc::testing::TempRegistry registry;
  if (registry.SetString(HKEY_LOCAL_MACHINE, kDeviceKey, "Port", kPort) != ERROR_SUCCESS ||
      registry.SetString(HKEY_LOCAL_MACHINE, kDeviceKey, "DeviceName", "Printer One") !=
          ERROR_SUCCESS ||
      registry.SetString(HKEY_LOCAL_MACHINE, kClassKey, "FrontPrinter", "Printer1") !=
          ERROR_SUCCESS) {
    std::fprintf(stderr, "registry_bench: cannot seed the store in %s\n", registry.root().c_str());
    return 1;
  }

  CString value;
  auto lookup = [&] {
    CRegistryInfo fresh;
    return fresh.GetDeviceInfo("FrontPrinter", KC_POSPRINTER) &&
           fresh.GetString(KC_CURRENT_DEVICE, "Port", value) && value == kPort;
  };
  for (int i = 0; i < 100; ++i) lookup();
  recording = true;
  const bool recorded_ok = lookup();
  recording = false;
  recorded_all = true;
  sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&TraceConnection));
  RawStore raw(registry.store_path());
  for (const std::string& sql : recorded) raw.Prepare(sql);
  if (!recorded_ok || recorded.empty() || !raw.ok()) {
    std::fprintf(stderr, "registry_bench: cannot record the lookup's statements\n");
    return 1;
  }
  PrintFigure("lookup_statements", static_cast<double>(raw.statements()), "statements");
  if (!Compare("lookup", seconds, lookup, [&] { return raw.RunAll(); })) return 1;

  CRegistryInfo held;
  held.GetDeviceInfo("Printer1", KC_POSPRINTER);
  PointQuery point(registry.store_path());
  std::string raw_value;
  if (!Compare(
          "held_read", seconds,
          [&] { return held.GetString(KC_CURRENT_DEVICE, "Port", value) && value == kPort; },
          [&] { return point.Read(&raw_value) && raw_value == kPort; })) {
    return 1;
  }
  return 0;
}
