#include "tests/support/mutex_backing.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/posix/kernel/mutex_object.h"
#include "platform/posix/kernel/named_objects.h"

namespace opossvc::test_support {

bool MutexBackingExists(const std::string& name) {
  detail::ObjectName parsed;
  if (!detail::ParseObjectName(name.c_str(), &parsed)) return false;
  int fd = shm_open(detail::SystemMutexShmName(parsed).c_str(), O_RDONLY, 0);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

}  // namespace opossvc::test_support
