// Turning a store of format 1 into the current format (registry_schema.h).
//
// Format 1 kept names, classes and string data as the bytes each caller
// gave, in the code page it ran with, and nothing in the file says which.
// Such a store was meant to be used with one code page throughout, so its
// text is read in the code page of the process that migrates it, and only
// when every name, class and string decodes in that code page exactly:
// ASCII always does, UTF-8 text does under the default code page, and text
// written under another code page almost never does. Otherwise nothing is
// guessed: ERROR_NO_UNICODE_TRANSLATION, and the file stays as it was, to be
// migrated under the code page it was written with (or re-imported).
//
// Two names that only the current comparison makes equal ("I" and the
// dotless "i" below one key) cannot both be kept: ERROR_BADDB.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_MIGRATION_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_MIGRATION_H_

#include <opossvc/win32/types.h>

namespace opossvc::detail {

class SqliteConnection;

// Runs inside the caller's write transaction, which it leaves to be
// committed on success and rolled back on failure. Keys keep their ids.
LONG MigrateFirstFormat(SqliteConnection& connection, UINT codepage);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_MIGRATION_H_
