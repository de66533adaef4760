// A scope in which the calling thread, when a wait of it ends, lets the
// thread that ended it run on instead of taking its processor at once.
//
// For a thread that another wakes with a hand-over and that then wakes a
// third: the event thread, woken by the thread that queues an event, sends
// the event to the window's thread. Were it to take the queueing thread's
// processor, that thread would still have to finish its call and wait, and
// the window's thread, woken while both are runnable there, would be started
// on another processor: an inter-processor wake-up, many times the cost of
// the hand-over. Waiting for the waker to block or use its time slice costs
// nothing when it blocks at once, and a time slice at most when it does not.
//
// POSIX: the thread's scheduling policy is SCHED_BATCH for the scope (from
// SCHED_OTHER only; a policy the application chose stays). Windows: the
// priority boost that a thread gets when its wait ends is off for the scope.
// The previous setting comes back when the scope ends.
#ifndef OPOSSVC_PLATFORM_INTERNAL_YIELDING_WAKEUPS_H_
#define OPOSSVC_PLATFORM_INTERNAL_YIELDING_WAKEUPS_H_

namespace opossvc::detail {

class YieldingWakeups {
 public:
  YieldingWakeups();
  ~YieldingWakeups();
  YieldingWakeups(const YieldingWakeups&) = delete;
  YieldingWakeups& operator=(const YieldingWakeups&) = delete;

 private:
  bool changed_ = false;  // the setting is the scope's, and goes back at its end
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_INTERNAL_YIELDING_WAKEUPS_H_
