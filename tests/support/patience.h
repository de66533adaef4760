// How long a test waits for something that should happen at once before it calls it a failure.
#ifndef OPOSSVC_TESTS_SUPPORT_PATIENCE_H_
#define OPOSSVC_TESTS_SUPPORT_PATIENCE_H_

#include <chrono>

namespace opossvc::testing {

inline constexpr std::chrono::milliseconds kPatience{10000};

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTS_SUPPORT_PATIENCE_H_
