// Where the registry store is, whether it can be read or written, and the
// registry's error codes as text, so that every command fails with a clear
// message on standard error.
#ifndef OPOSSVC_TOOLS_OPOSREG_STORE_ACCESS_H_
#define OPOSSVC_TOOLS_OPOSREG_STORE_ACCESS_H_

#include <sys/stat.h>

#include <string>

#include <opossvc/win32/types.h>

namespace opossvc::oposreg {

// $OPOS_ROOT/registry.db, with OPOS_ROOT's default (on Windows: the
// system's registry).
std::string StorePath();

// Makes `root` the store's folder (--root DIR) for this process. false with
// a message in `error` where the store has no folder (Windows).
bool UseStoreRoot(const std::string& root, std::string* error);

// Whether `st` (of an open file) is the store file or one that SQLite keeps
// beside it ("-wal", "-shm"), by device and inode, whatever path names it.
bool IsStoreFile(const struct stat& st);

// Checks the store before a command reads it (it must exist and be
// readable) or writes it (it must be writable, or creatable when missing).
// false with a message in `error` otherwise.
bool CheckStoreForReading(std::string* error);
bool CheckStoreForWriting(std::string* error);

// "access denied (5)" and the like.
std::string ErrorText(LONG error);

// Prints "oposreg: <message>" on standard error.
void Complain(const std::string& message);

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_STORE_ACCESS_H_
