#include "platform/posix/registry/registry_schema.h"

#include <string>

#include <opossvc/win32/errors.h>

#include "platform/posix/registry/registry_names.h"
#include "platform/posix/registry/sqlite_connection.h"

namespace opossvc::detail {
namespace {

constexpr int64_t kApplicationId = 0x4F505347;  // marks a file as a store of ours
constexpr int64_t kFirstFormat = 1;
constexpr int64_t kCurrentFormat = 2;

constexpr char kTables[] = R"sql(
CREATE TABLE reg_key(
  id      INTEGER PRIMARY KEY AUTOINCREMENT,  -- never reused: stale handles stay stale
  parent  INTEGER NOT NULL,                   -- 0 for the predefined roots
  name    TEXT NOT NULL,                      -- as created, UTF-8
  upper   BLOB NOT NULL,                      -- the name's key, upper-cased UTF-16BE
  class   TEXT NOT NULL,                      -- UTF-8
  written INTEGER NOT NULL                    -- FILETIME of the last change
);
CREATE UNIQUE INDEX reg_key_by_name ON reg_key(parent, upper);
CREATE TABLE reg_value(
  key_id  INTEGER NOT NULL,
  seq     INTEGER NOT NULL,                   -- order of creation within the key
  name    TEXT NOT NULL,
  upper   BLOB NOT NULL,
  type    INTEGER NOT NULL,
  data    BLOB NOT NULL,                      -- UTF-16LE for REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ
  UNIQUE(key_id, upper)
);
CREATE UNIQUE INDEX reg_value_by_order ON reg_value(key_id, seq);
)sql";

constexpr char kMeta[] = R"sql(
CREATE TABLE reg_meta(name TEXT PRIMARY KEY, value INTEGER NOT NULL);
INSERT INTO reg_meta VALUES('flushes', 0);
)sql";

// Inserts a key with a given id (0: the next one), or nothing when its
// parent already has a key of that name.
LONG InsertFixedKey(SqliteConnection& connection, KeyId id, KeyId parent,
                    std::u16string_view name) {
  // Tested first rather than ignored on conflict, which would use up an id.
  Statement insert(connection,
                   "INSERT INTO reg_key(id, parent, name, upper, class, written) "
                   "SELECT nullif(?1, 0), ?2, ?3, ?4, '', 0 WHERE NOT EXISTS "
                   "(SELECT 1 FROM reg_key WHERE parent = ?2 AND upper = ?4)");
  if (insert.status() != ERROR_SUCCESS) return insert.status();
  const RegistryName made = MakeName(name);
  insert.Bind(1, id);
  insert.Bind(2, parent);
  insert.Bind(3, made.text);
  insert.BindBlob(4, made.key);
  const int result = insert.Step();
  return result == SQLITE_DONE ? ERROR_SUCCESS : insert.Error(result);
}

}  // namespace

LONG ReadSchema(SqliteConnection& connection, Schema* schema) {
  int64_t application_id = 0;
  int64_t version = 0;
  int64_t objects = 0;
  if (LONG error = connection.QueryInt("PRAGMA application_id", &application_id)) return error;
  if (LONG error = connection.QueryInt("PRAGMA user_version", &version)) return error;
  if (LONG error = connection.QueryInt("SELECT count(*) FROM sqlite_master", &objects))
    return error;
  if (application_id == kApplicationId && version == kCurrentFormat) {
    *schema = Schema::kCurrent;
  } else if (application_id == kApplicationId && version == kFirstFormat) {
    *schema = Schema::kFirstFormat;
  } else if (application_id == 0 && version == 0 && objects == 0) {
    *schema = Schema::kBlank;
  } else {
    *schema = Schema::kForeign;  // someone else's database, or a format we do not know
  }
  return ERROR_SUCCESS;
}

LONG CreateTables(SqliteConnection& connection) { return connection.Execute(kTables); }

LONG CreateSchema(SqliteConnection& connection) {
  if (LONG error = CreateTables(connection)) return error;
  if (LONG error = connection.Execute(kMeta)) return error;
  static constexpr const char16_t* kRoots[kRootCount] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER",
                                                         u"HKEY_LOCAL_MACHINE", u"HKEY_USERS"};
  for (KeyId i = 0; i < kRootCount; ++i) {
    if (LONG error = InsertFixedKey(connection, kFirstRootId + i, 0, kRoots[i])) return error;
  }
  if (LONG error = EnsureSoftwareKey(connection)) return error;
  return StampCurrentFormat(connection);
}

LONG EnsureSoftwareKey(SqliteConnection& connection) {
  return InsertFixedKey(connection, 0, kLocalMachineId, kSoftwareName);
}

LONG StampCurrentFormat(SqliteConnection& connection) {
  static_assert(kApplicationId == 1330664263 && kCurrentFormat == 2,
                "the pragmas repeat the application id and the format");
  return connection.Execute("PRAGMA application_id = 1330664263; PRAGMA user_version = 2");
}

}  // namespace opossvc::detail
