// Lock-free access to the members that the event thread polls.
//
// The delivery flags and m_dwIdleSleep are plain 32-bit members, written by
// the service object's own threads and read here while those threads run.
// Each access is a relaxed atomic one; nothing else is ordered by them.
// Inline for the event thread's polls; opossvc::SetFlag and GetFlag
// (<opossvc/flags.h>) give them to service objects.
#ifndef OPOSSVC_SVCBASE_DELIVERY_FLAGS_H_
#define OPOSSVC_SVCBASE_DELIVERY_FLAGS_H_

#include <atomic>

namespace opossvc::detail {

template <class T>
T LoadFlag(const T& flag) {
  // atomic_ref needs a non-const referent; the load does not write.
  return std::atomic_ref<T>(const_cast<T&>(flag)).load(std::memory_order_relaxed);
}

template <class T>
void StoreFlag(T& flag, T value) {
  std::atomic_ref<T>(flag).store(value, std::memory_order_relaxed);
}

}  // namespace opossvc::detail

#endif  // OPOSSVC_SVCBASE_DELIVERY_FLAGS_H_
