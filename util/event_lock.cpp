// EnterEventCS and LeaveEventCS: a named cross-process lock whose wait can
// be given up through two abort objects.
#include <opossvc/util.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/sync.h>

long EnterEventCS(const char* name, void*& lock, void* abort1, void* abort2) {
  lock = CreateMutexA(nullptr, FALSE, name);
  if (lock == nullptr) return -1;
  // The second abort object first: on a tie the earliest handle wins.
  HANDLE handles[3] = {abort2, abort1, lock};
  DWORD result = WaitForMultipleObjects(3, handles, FALSE, INFINITE);
  if (result == WAIT_OBJECT_0 + 2) return 0;
  // An abandoned lock is owned by this thread now; closing the handle would
  // not release it and nobody could take the lock again.
  if (result == WAIT_ABANDONED_0 + 2) ReleaseMutex(lock);
  CloseHandle(lock);
  lock = nullptr;
  return 2 - opossvc::Long32(result);
}

int LeaveEventCS(void* lock) {
  BOOL released = ReleaseMutex(lock);
  if (released) CloseHandle(lock);
  return released;
}
