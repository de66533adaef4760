// YieldingWakeups on Windows: without the boost that ending a wait gives, a
// woken thread of equal priority waits for the running one.
#include "platform/internal/yielding_wakeups.h"

#include <opossvc/win32/threads.h>

namespace opossvc::detail {

YieldingWakeups::YieldingWakeups() {
  BOOL boost_disabled = FALSE;
  if (!GetThreadPriorityBoost(GetCurrentThread(), &boost_disabled) || boost_disabled) return;
  changed_ = SetThreadPriorityBoost(GetCurrentThread(), TRUE) != FALSE;
}

YieldingWakeups::~YieldingWakeups() {
  if (changed_) SetThreadPriorityBoost(GetCurrentThread(), FALSE);
}

}  // namespace opossvc::detail
