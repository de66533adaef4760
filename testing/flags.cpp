#include <opossvc/testing/flags.h>

#include <atomic>

namespace opossvc::testing {
namespace {

template <class T>
void Store(T& flag, T value) {
  std::atomic_ref<T>(flag).store(value, std::memory_order_relaxed);
}

template <class T>
T Load(const T& flag) {
  // atomic_ref needs a non-const referent; the load does not write.
  return std::atomic_ref<T>(const_cast<T&>(flag)).load(std::memory_order_relaxed);
}

}  // namespace

void SetFlag(LONG& flag, LONG value) { Store(flag, value); }
void SetFlag(DWORD& flag, DWORD value) { Store(flag, value); }
LONG GetFlag(const LONG& flag) { return Load(flag); }
DWORD GetFlag(const DWORD& flag) { return Load(flag); }

}  // namespace opossvc::testing
