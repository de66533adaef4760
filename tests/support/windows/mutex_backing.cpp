#include "tests/support/mutex_backing.h"

namespace opossvc::test_support {

bool MutexBackingExists(const std::string&) { return false; }

}  // namespace opossvc::test_support
