// Importing a generated REGEDIT4 file (device entries of several classes
// with string, dword and binary values, some continued over two lines,
// logical names) against its anchor: raw SQLite inserting the same rows (the
// keys and values the import left in the store, read back from it) into the
// same schema in one transaction, with the store's settings. Each of the
// paired runs starts from a fresh store and a fresh database.
//
//   import_bench [lines, default 20000] [runs, default 5]
//
// prints `ratio import` (anchor time over import time) and the import's
// `figure import_lines_per_s`.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/util.h>

#include "bench/report.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kClasses[] = {"CashDrawer", "LineDisplay", "MSR", "POSPrinter", "Scale", "Scanner"};

// Writes a file of about `wanted` lines; returns the number of lines.
int Generate(const std::string& path, int wanted) {
  std::ofstream out(path, std::ios::binary);
  int lines = 0;
  auto line = [&](const std::string& text) {
    out << text << "\r\n";
    ++lines;
  };
  line("REGEDIT4");
  // `line` counts the lines (a for loop's condition would look unchanging).
  for (int device = 0; true; ++device) {
    if (lines >= wanted) break;
    const std::string device_class = kClasses[device % 6];
    const std::string name = "Device" + std::to_string(device);
    const std::string section = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\" + device_class;
    line("");
    line(section + "]");
    line("\"Logical" + std::to_string(device) + "\"=\"" + name + "\"");
    line(section + "\\" + name + "]");
    line("@=\"VQ." + device_class + ".SO\"");
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

struct Table {
  std::string name;
  int columns = 0;
  std::vector<sqlite3_value*> cells;  // row after row
};

// The schema and the key and value rows of a store.
struct Rows {
  std::vector<std::string> schema;
  std::vector<Table> tables;
  ~Rows() {
    for (Table& table : tables) {
      for (sqlite3_value* cell : table.cells) sqlite3_value_free(cell);
    }
  }
};

bool ReadRows(const std::string& file, Rows* rows) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return false;
  sqlite3_stmt* statement = nullptr;
  // SQLite makes its own tables (sqlite_sequence) itself.
  sqlite3_prepare_v2(db,
                     "SELECT sql FROM sqlite_master WHERE sql IS NOT NULL "
                     "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid",
                     -1,
                     &statement, nullptr);
  while (sqlite3_step(statement) == SQLITE_ROW) {
    rows->schema.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
  }
  sqlite3_finalize(statement);
  for (const char* name : {"reg_key", "reg_value"}) {
    Table table;
    table.name = name;
    sqlite3_prepare_v2(db, ("SELECT * FROM " + table.name).c_str(), -1, &statement, nullptr);
    table.columns = sqlite3_column_count(statement);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      for (int c = 0; c < table.columns; ++c) {
        table.cells.push_back(sqlite3_value_dup(sqlite3_column_value(statement, c)));
      }
    }
    sqlite3_finalize(statement);
    rows->tables.push_back(std::move(table));
  }
  sqlite3_close(db);
  return rows->tables[0].columns > 0 && rows->tables[1].columns > 0;
}

// Seconds to insert `rows` into a fresh database at `file` in one
// transaction; negative on failure.
double InsertRows(const std::string& file, const Rows& rows) {
  std::remove(file.c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return -1;
  bool ok = sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL", nullptr,
                         nullptr, nullptr) == SQLITE_OK;
  for (const std::string& sql : rows.schema) {
    ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  // Rows the schema made itself (the fixed keys) come from the copy.
  ok = ok && sqlite3_exec(db, "DELETE FROM reg_value; DELETE FROM reg_key", nullptr, nullptr,
                          nullptr) == SQLITE_OK;
  const Clock::time_point start = Clock::now();
  ok = ok && sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  for (const Table& table : rows.tables) {
    std::string sql = "INSERT INTO " + table.name + " VALUES(";
    for (int c = 0; c < table.columns; ++c) sql += c == 0 ? "?" : ",?";
    sql += ")";
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr) == SQLITE_OK;
    for (size_t cell = 0; ok && cell < table.cells.size(); cell += static_cast<size_t>(table.columns)) {
      for (int c = 0; c < table.columns; ++c) sqlite3_bind_value(insert, c + 1, table.cells[cell + static_cast<size_t>(c)]);
      ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    sqlite3_finalize(insert);
  }
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_close(db);
  std::remove((file + "-wal").c_str());
  std::remove((file + "-shm").c_str());
  std::remove(file.c_str());
  return ok ? seconds : -1;
}

// Seconds to import `path` into a fresh store (made before the clock
// starts); negative when the import did not write everything. The rows it
// left are read into *rows when asked.
double Import(const std::string& path, Rows* rows) {
  opossvc::testing::TempRegistry registry;
  registry.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail");
  const Clock::time_point start = Clock::now();
  const int result = ImportRegistry(path.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (result != OPOSSVC_IMPORT_WRITTEN) return -1;
  if (rows != nullptr && !ReadRows(registry.store_path(), rows)) return -1;
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int wanted = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  if (wanted < 1 || runs < 1) {
    std::fprintf(stderr, "usage: %s [lines] [runs]\n", argv[0]);
    return 2;
  }
  opossvc::testing::TempRegistry scratch;
  const std::string path = scratch.root() + "/bench.reg";
  const std::string anchor_file = scratch.root() + "/anchor.db";
  const int lines = Generate(path, wanted);

  Rows rows;
  if (Import(path, &rows) < 0) {  // warm-up
    std::fprintf(stderr, "import_bench: the import failed\n");
    return 1;
  }
  if (InsertRows(anchor_file, rows) < 0) {
    std::fprintf(stderr, "import_bench: the anchor failed\n");
    return 1;
  }
  std::vector<double> ratios;
  double import_seconds = 0;
  for (int run = 0; run < runs; ++run) {
    const double project = Import(path, nullptr);
    const double anchor = InsertRows(anchor_file, rows);
    if (project <= 0 || anchor <= 0) {
      std::fprintf(stderr, "import_bench: run %d failed\n", run);
      return 1;
    }
    ratios.push_back(anchor / project);
    import_seconds += project;
  }
  opossvc::bench::PrintRatio("import", ratios);
  opossvc::bench::PrintFigure("import_lines_per_s", lines * runs / import_seconds, "lines/s");
  return 0;
}
