// The process's table of kernel-object handles.
//
// Every object behind a HANDLE derives from KernelObject and is entered in
// the table; a HANDLE is an opaque number, never an address, so a stale or
// forged handle is answered with ERROR_INVALID_HANDLE instead of a crash.
// Lookups hand out shared ownership: an object closed on one thread while
// another thread waits on it stays alive until that wait returns.
#ifndef OPOSSVC_PLATFORM_POSIX_KERNEL_HANDLE_TABLE_H_
#define OPOSSVC_PLATFORM_POSIX_KERNEL_HANDLE_TABLE_H_

#include <memory>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Called once by CloseHandle after the handle has left the table, before
  // the last reference goes. Objects that must release OS resources at close
  // time even while a waiter still holds a reference do it here.
  virtual void OnClose() {}
};

// Enters the object and returns its new handle, or null (ERROR_NOT_ENOUGH_MEMORY).
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null for an unknown or closed handle.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Removes the handle; false when it was not in the table.
bool RemoveHandle(HANDLE handle);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_KERNEL_HANDLE_TABLE_H_
