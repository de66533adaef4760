#include "platform/posix/registry/sqlite_connection.h"

#include <cerrno>

#include <opossvc/win32/errors.h>

#include "platform/posix/files/errno_map.h"

namespace opossvc::detail {

LONG Win32ErrorFromStoreErrno(int system_errno, LONG otherwise) {
  // The registry calls report a missing part of the store's path as a path,
  // memory as ERROR_OUTOFMEMORY, and a file grown too large as a full disk.
  switch (system_errno) {
    case ENOENT:
      return ERROR_PATH_NOT_FOUND;
    case ENOMEM:
      return ERROR_OUTOFMEMORY;
    case EFBIG:
      return ERROR_DISK_FULL;
    default:
      return static_cast<LONG>(Win32ErrorFromErrno(system_errno, static_cast<DWORD>(otherwise)));
  }
}

LONG Win32ErrorFromSqlite(int result, int system_errno) {
  switch (result & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_CORRUPT:
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
    case SQLITE_ERROR:  // the store's tables are not what they should be
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
      return ERROR_BADDB;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_TOOBIG:  // a value or name longer than the store takes
    case SQLITE_RANGE:
      return ERROR_INVALID_PARAMETER;
    case SQLITE_CANTOPEN:
      return Win32ErrorFromStoreErrno(system_errno, ERROR_CANTOPEN);
    case SQLITE_IOERR:
      if (result == SQLITE_IOERR_NOMEM) return ERROR_OUTOFMEMORY;
      return Win32ErrorFromStoreErrno(system_errno, ERROR_REGISTRY_IO_FAILED);
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

Statement::Statement(SqliteConnection& connection, size_t slot, const char* sql)
    : connection_(connection), status_(ERROR_SUCCESS) {
  statement_ = connection.Prepared(slot, sql, &status_);
}

Statement::Statement(SqliteConnection& connection, const char* sql)
    : connection_(connection), owned_(true), status_(ERROR_SUCCESS) {
  int result = sqlite3_prepare_v2(connection.db(), sql, -1, &statement_, nullptr);
  if (result != SQLITE_OK) {
    status_ = connection.ErrorFor(result);
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
}

Statement::~Statement() {
  if (statement_ == nullptr) return;
  if (owned_) {
    sqlite3_finalize(statement_);
    return;
  }
  sqlite3_reset(statement_);
  if (bound_bytes_) sqlite3_clear_bindings(statement_);
}

void Statement::Bind(int index, int64_t value) {
  const int result = sqlite3_bind_int64(statement_, index, value);
  if (bind_result_ == SQLITE_OK) bind_result_ = result;
}

namespace {
// A null pointer would bind NULL; an empty view is an empty text or blob.
const char kEmpty[1] = {0};
}  // namespace

void Statement::Bind(int index, std::string_view text) {
  bound_bytes_ = true;
  const int result = sqlite3_bind_text64(statement_, index, text.empty() ? kEmpty : text.data(),
                                         text.size(), SQLITE_STATIC, SQLITE_UTF8);
  if (bind_result_ == SQLITE_OK) bind_result_ = result;
}

void Statement::BindBlob(int index, std::string_view bytes) {
  bound_bytes_ = true;
  const int result = sqlite3_bind_blob64(statement_, index, bytes.empty() ? kEmpty : bytes.data(),
                                         bytes.size(), SQLITE_STATIC);
  if (bind_result_ == SQLITE_OK) bind_result_ = result;
}

int Statement::Step() {
  // A parameter left unbound would run the statement with NULL in its place.
  return bind_result_ != SQLITE_OK ? bind_result_ : sqlite3_step(statement_);
}

void Statement::Reset() {
  if (statement_ == nullptr) return;
  sqlite3_reset(statement_);
  if (bound_bytes_) sqlite3_clear_bindings(statement_);
  bound_bytes_ = false;
  bind_result_ = SQLITE_OK;
}

LONG Statement::Error(int result) const { return connection_.ErrorFor(result); }

int64_t Statement::Int(int column) const { return sqlite3_column_int64(statement_, column); }

std::string_view Statement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  int size = sqlite3_column_bytes(statement_, column);
  return text == nullptr ? std::string_view() : std::string_view(text, static_cast<size_t>(size));
}

std::string_view Statement::Blob(int column) const {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
  int size = sqlite3_column_bytes(statement_, column);
  return bytes == nullptr ? std::string_view() : std::string_view(bytes, static_cast<size_t>(size));
}

LONG SqliteConnection::Open(const std::string& filename, int flags,
                            std::unique_ptr<SqliteConnection>* out) {
  out->reset();
  sqlite3* db = nullptr;
  int result = sqlite3_open_v2(filename.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (result != SQLITE_OK) {
    int system_errno = db != nullptr ? sqlite3_system_errno(db) : 0;
    if (db != nullptr) result = sqlite3_extended_errcode(db);
    sqlite3_close(db);
    return Win32ErrorFromSqlite(result, system_errno);
  }
  sqlite3_extended_result_codes(db, 1);
  out->reset(new SqliteConnection(db));
  return ERROR_SUCCESS;
}

SqliteConnection::~SqliteConnection() {
  for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
  sqlite3_close(db_);
}

sqlite3_stmt* SqliteConnection::Prepare(size_t slot, const char* sql, LONG* error) {
  if (slot >= statements_.size()) statements_.resize(slot + 1, nullptr);
  int result =
      sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statements_[slot], nullptr);
  if (result != SQLITE_OK) {
    *error = ErrorFor(result);
    statements_[slot] = nullptr;
    return nullptr;
  }
  return statements_[slot];
}

LONG SqliteConnection::Execute(const char* sql) {
  return ErrorFor(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

LONG SqliteConnection::QueryInt(const char* sql, int64_t* value) {
  sqlite3_stmt* statement = nullptr;
  int result = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
  if (result == SQLITE_OK) {
    result = sqlite3_step(statement);
    if (result == SQLITE_ROW) {
      *value = sqlite3_column_int64(statement, 0);
      result = SQLITE_OK;
    } else if (result == SQLITE_DONE) {
      *value = 0;
      result = SQLITE_OK;
    }
  }
  sqlite3_finalize(statement);
  return ErrorFor(result);
}

LONG SqliteConnection::QueryText(const char* sql, std::string* value) {
  sqlite3_stmt* statement = nullptr;
  int result = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
  value->clear();
  if (result == SQLITE_OK) {
    result = sqlite3_step(statement);
    if (result == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
      if (text != nullptr) value->assign(text, static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
      result = SQLITE_OK;
    } else if (result == SQLITE_DONE) {
      result = SQLITE_OK;
    }
  }
  sqlite3_finalize(statement);
  return ErrorFor(result);
}

LONG SqliteConnection::ErrorFor(int result) const {
  if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE) return ERROR_SUCCESS;
  // Step and exec return the primary code; the extended one says more.
  int extended = sqlite3_extended_errcode(db_);
  if ((extended & 0xff) == (result & 0xff)) result = extended;
  return Win32ErrorFromSqlite(result, sqlite3_system_errno(db_));
}

}  // namespace opossvc::detail
