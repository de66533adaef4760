// The event thread's scheduling scope: the POSIX policy it sets and gives back.
#include <pthread.h>
#include <sched.h>

#include <thread>

#include <gtest/gtest.h>

#include "platform/internal/yielding_wakeups.h"

namespace {

int Policy() {
  int policy = -1;
  sched_param parameters{};
  pthread_getschedparam(pthread_self(), &policy, &parameters);
  return policy;
}

// Each case on a thread of its own, which starts with `start`.
TEST(YieldingWakeups, BatchForTheScopeOnlyFromTheDefaultPolicy) {
  struct Case {
    int start, inside;
  };
  for (const Case& c : {Case{SCHED_OTHER, SCHED_BATCH}, Case{SCHED_IDLE, SCHED_IDLE},
                        Case{SCHED_BATCH, SCHED_BATCH}}) {
    SCOPED_TRACE(c.start);
    std::thread([&] {
      sched_param parameters{};
      ASSERT_EQ(pthread_setschedparam(pthread_self(), c.start, &parameters), 0);
      {
        opossvc::detail::YieldingWakeups outer;
        EXPECT_EQ(Policy(), c.inside);
        { opossvc::detail::YieldingWakeups inner; }
        EXPECT_EQ(Policy(), c.inside);
      }
      EXPECT_EQ(Policy(), c.start);
    }).join();
  }
}

}  // namespace
