// The processes that hold a device node open, found through /proc/*/fd.
#ifndef OPOSSVC_TOOLS_OPOSREG_POSIX_PORT_HOLDERS_H_
#define OPOSSVC_TOOLS_OPOSREG_POSIX_PORT_HOLDERS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace opossvc::oposreg {

struct PortHolder {
  pid_t pid = 0;
  std::string command;  // /proc/PID/comm, "" when unreadable
};

struct PortHolders {
  std::vector<PortHolder> holders;  // by pid
  // Processes whose descriptors could not be read (those of other users,
  // unless run as root): they may hold the node unseen.
  int unreadable = 0;
};

// Every process with a descriptor open on the character device `rdev`;
// `proc` is the proc file system's mount point.
PortHolders FindPortHolders(dev_t rdev, const std::string& proc = "/proc");

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_POSIX_PORT_HOLDERS_H_
