// Lock-free reads of the members that the event thread polls.
//
// The delivery flags and m_dwIdleSleep are plain 32-bit members, written by
// the service object's own threads and read here while those threads run.
// Each test reads the current value with a relaxed atomic load; nothing else
// is ordered by them.
#ifndef OPOSSVC_SVCBASE_DELIVERY_FLAGS_H_
#define OPOSSVC_SVCBASE_DELIVERY_FLAGS_H_

#include <atomic>

namespace opossvc::detail {

template <class T>
T LoadFlag(const T& flag) {
  return std::atomic_ref<T>(const_cast<T&>(flag)).load(std::memory_order_relaxed);
}

}  // namespace opossvc::detail

#endif  // OPOSSVC_SVCBASE_DELIVERY_FLAGS_H_
