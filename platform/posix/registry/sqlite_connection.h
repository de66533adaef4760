// RAII wrappers for one SQLite connection and its prepared statements, and
// the Win32 error codes that SQLite failures become.
//
// A connection prepares each statement once, on first use, and keeps it for
// its lifetime; statements are named by a small integer slot that the user
// of the connection assigns. A Statement resets its prepared statement when
// it goes out of scope, so that no statement keeps a read transaction open
// between registry calls, and clears the text and bytes bound to it. Neither
// class is thread-safe: the owner serialises every use of a connection.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_SQLITE_CONNECTION_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_SQLITE_CONNECTION_H_

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

// The Win32 error for an SQLite result code (primary or extended) and the
// errno of the system call that failed, if any.
LONG Win32ErrorFromSqlite(int result, int system_errno);
// The Win32 error for a failed system call on the store's files, or
// `otherwise` for an errno without one.
LONG Win32ErrorFromStoreErrno(int system_errno, LONG otherwise);

class SqliteConnection;

// One use of a cached prepared statement: the statement of `slot`, prepared
// from `sql` on first use; or, without a slot, of a statement prepared for
// this use alone (for statements run once, such as a migration's). Check
// status() before anything else.
class Statement {
 public:
  Statement(SqliteConnection& connection, size_t slot, const char* sql);
  Statement(SqliteConnection& connection, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // ERROR_SUCCESS when the statement is ready, else why it is not.
  LONG status() const { return status_; }

  // Parameters count from 1. Text and blobs are copied by SQLite only when
  // the statement outlives them: bound data must stay valid until Step. A
  // parameter that cannot be bound (text or data longer than SQLite takes)
  // is kept as the statement's failure, which Step then returns.
  void Bind(int index, int64_t value);
  void Bind(int index, std::string_view text);
  void BindBlob(int index, std::string_view bytes);

  // SQLITE_ROW, SQLITE_DONE, or a failure (see Error): the first failed
  // Bind's, without running the statement.
  int Step();
  // Makes the statement ready to run again, with no parameter bound: for
  // one statement run once per row.
  void Reset();
  // The Win32 error for the last failure of Step.
  LONG Error(int result) const;

  int64_t Int(int column) const;
  std::string_view Text(int column) const;
  std::string_view Blob(int column) const;

 private:
  SqliteConnection& connection_;
  sqlite3_stmt* statement_ = nullptr;
  bool owned_ = false;  // finalized with this object
  LONG status_;
  int bind_result_ = SQLITE_OK;  // the first failed Bind's result
  // Whether text or bytes were bound: their pointers are cleared with the
  // reset, so that none outlives the data it points to. Numbers stay: every
  // use binds all its parameters again.
  bool bound_bytes_ = false;
};

class SqliteConnection {
 public:
  // Opens `filename` (a URI when flags hold SQLITE_OPEN_URI). On failure the
  // result is the Win32 error and *out stays null.
  static LONG Open(const std::string& filename, int flags, std::unique_ptr<SqliteConnection>* out);
  ~SqliteConnection();
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  sqlite3* db() const { return db_; }

  // The statement of `slot`, prepared from `sql` on first use. On failure
  // *error is set and the result is null.
  sqlite3_stmt* Prepared(size_t slot, const char* sql, LONG* error) {
    if (slot < statements_.size() && statements_[slot] != nullptr) return statements_[slot];
    return Prepare(slot, sql, error);
  }

  // Runs SQL without results (one or more statements).
  LONG Execute(const char* sql);
  // Runs a statement whose first column of the first row is an integer.
  LONG QueryInt(const char* sql, int64_t* value);
  // Runs a statement whose first column of the first row is text.
  LONG QueryText(const char* sql, std::string* value);

  LONG ErrorFor(int result) const;

 private:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}
  sqlite3_stmt* Prepare(size_t slot, const char* sql, LONG* error);

  sqlite3* db_;
  std::vector<sqlite3_stmt*> statements_;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_SQLITE_CONNECTION_H_
