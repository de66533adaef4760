// The process's namespace of named kernel objects.
//
// Events, semaphores and mutexes created with a name are entered here so
// that a second create or open of the name in this process reaches the same
// object. An entry lives as long as the object does (the table holds it
// weakly); the name is free again once the last handle and owner let go, or
// as soon as the object gives its name up (a named mutex, with its last
// handle).
#ifndef OPOSSVC_PLATFORM_POSIX_KERNEL_NAMED_OBJECTS_H_
#define OPOSSVC_PLATFORM_POSIX_KERNEL_NAMED_OBJECTS_H_

#include <functional>
#include <memory>
#include <string>

#include <opossvc/win32/types.h>

#include "platform/posix/kernel/wait.h"

namespace opossvc::detail {

struct ObjectName {
  bool global = false;  // "Global\" prefix
  std::string base;     // the name without its namespace prefix
  std::string key;      // namespace and name, the table's key
};

// Parses a Win32 object name. Null or "" gives an unnamed object (true, empty
// key). False with the last error set for a name that is too long
// (ERROR_FILENAME_EXCED_RANGE) or holds a backslash past its prefix
// (ERROR_PATH_NOT_FOUND).
bool ParseObjectName(LPCSTR name, ObjectName* parsed);

// Tells whether an object is of the kind a caller asked for.
using KindTest = bool (*)(const Waitable& object);

template <class T>
bool IsKind(const Waitable& object) {
  return dynamic_cast<const T*>(&object) != nullptr;
}

// The live object of that name when it is of kind `is_kind` and still holds
// its name (Waitable::ReopenByName); otherwise, when `make` is given, makes
// one and enters it. *existed tells which happened. Null with the last error
// set when the name belongs to an object of another kind
// (ERROR_INVALID_HANDLE), when nothing has the name and `make` is empty
// (ERROR_FILE_NOT_FOUND), or when `make` fails (its own error). `make` runs
// under the table's lock and must not reach back into it.
std::shared_ptr<Waitable> FindOrMakeNamed(const ObjectName& name, KindTest is_kind,
                                          const std::function<std::shared_ptr<Waitable>()>& make,
                                          bool* existed);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_KERNEL_NAMED_OBJECTS_H_
