// The layout of the store file, and telling which layout a file has.
//
// Format 2 (the current one) keeps names and classes as UTF-8, each name
// with its upper-case key beside it (registry_names.h), and string data as
// UTF-16LE (registry_text.h). Format 1 kept the callers' bytes, in whatever
// code page each caller ran with; registry_migration.h turns it into format
// 2. A file of a newer format, or not of ours, is foreign.
//
// A new store holds the four predefined roots and HKEY_LOCAL_MACHINE\SOFTWARE,
// as every Windows registry does. These keys cannot be deleted.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_SCHEMA_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_SCHEMA_H_

#include <cstdint>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

class SqliteConnection;

using KeyId = int64_t;
// No key has it: the parent of the roots.
inline constexpr KeyId kNoKey = 0;

// The predefined roots, in the order of their HKEY values 0x80000000 + n.
inline constexpr KeyId kFirstRootId = 1;
inline constexpr KeyId kRootCount = 4;
inline constexpr KeyId kLocalMachineId = 3;
inline bool IsRootId(KeyId id) { return id >= kFirstRootId && id < kFirstRootId + kRootCount; }

// The fixed key below HKEY_LOCAL_MACHINE.
inline constexpr char16_t kSoftwareName[] = u"SOFTWARE";

enum class Schema { kCurrent, kFirstFormat, kBlank, kForeign };

// What the file holds, read without writing anything.
LONG ReadSchema(SqliteConnection& connection, Schema* schema);

// The tables and fixed keys of a new store, in a blank database; the
// caller runs it inside a transaction.
LONG CreateSchema(SqliteConnection& connection);

// The tables of format 2, empty (for CreateSchema and the migration).
LONG CreateTables(SqliteConnection& connection);

// Adds HKEY_LOCAL_MACHINE\SOFTWARE when it is missing.
LONG EnsureSoftwareKey(SqliteConnection& connection);

// Marks the file as a store of the current format.
LONG StampCurrentFormat(SqliteConnection& connection);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_SCHEMA_H_
