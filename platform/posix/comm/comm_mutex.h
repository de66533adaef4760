// The lock of the serial-port backends: the library's annotated mutex.
#ifndef OPOSSVC_PLATFORM_POSIX_COMM_COMM_MUTEX_H_
#define OPOSSVC_PLATFORM_POSIX_COMM_COMM_MUTEX_H_

#include "platform/internal/mutex.h"

namespace opossvc::detail {

using CommMutex = Mutex;
using CommLock = MutexLock;

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_COMM_COMM_MUTEX_H_
