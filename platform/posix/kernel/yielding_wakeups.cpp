// YieldingWakeups on POSIX: a woken SCHED_BATCH thread never preempts the
// thread running on its processor; it runs when that one blocks or at the
// next scheduler tick.
#include "platform/internal/yielding_wakeups.h"

#include <pthread.h>
#include <sched.h>

namespace opossvc::detail {

YieldingWakeups::YieldingWakeups() {
  int policy = 0;
  sched_param parameters{};
  if (pthread_getschedparam(pthread_self(), &policy, &parameters) != 0 || policy != SCHED_OTHER) {
    return;
  }
  changed_ = pthread_setschedparam(pthread_self(), SCHED_BATCH, &parameters) == 0;
}

// Only SCHED_OTHER is ever changed.
YieldingWakeups::~YieldingWakeups() {
  if (!changed_) return;
  sched_param parameters{};
  pthread_setschedparam(pthread_self(), SCHED_OTHER, &parameters);
}

}  // namespace opossvc::detail
