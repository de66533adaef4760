// Whether a named mutex left its backing behind: the shared memory of the
// POSIX backend. Windows' kernel keeps none a test can see: always false.
#ifndef OPOSSVC_TESTS_SUPPORT_MUTEX_BACKING_H_
#define OPOSSVC_TESTS_SUPPORT_MUTEX_BACKING_H_

#include <string>

namespace opossvc::test_support {

bool MutexBackingExists(const std::string& name);

}  // namespace opossvc::test_support

#endif  // OPOSSVC_TESTS_SUPPORT_MUTEX_BACKING_H_
