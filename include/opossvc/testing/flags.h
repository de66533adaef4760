// The delivery-flag accessors under the test kit's namespace, for tests
// written against it: opossvc::testing::SetFlag is opossvc::SetFlag
// (<opossvc/flags.h>), which new code uses directly.
#ifndef OPOSSVC_TESTING_FLAGS_H_
#define OPOSSVC_TESTING_FLAGS_H_

#include <opossvc/flags.h>

namespace opossvc::testing {

using opossvc::GetFlag;
using opossvc::SetFlag;

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTING_FLAGS_H_
