#include "tools/oposreg/posix/port_holders.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace opossvc::oposreg {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

bool IsPid(const char* name) {
  if (*name == '\0') return false;
  for (const char* c = name; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

}  // namespace

PortHolders FindPortHolders(dev_t rdev, const std::string& proc) {
  PortHolders result;
  Dir processes(opendir(proc.c_str()));
  if (!processes) return result;
  while (dirent* entry = readdir(processes.get())) {
    if (!IsPid(entry->d_name)) continue;
    const std::string base = proc + "/" + entry->d_name;
    Dir fds(opendir((base + "/fd").c_str()));
    if (!fds) {
      ++result.unreadable;  // gone meanwhile, or another user's
      continue;
    }
    bool holds = false;
    while (dirent* fd = readdir(fds.get())) {
      if (holds || !IsPid(fd->d_name)) continue;
      // stat follows the descriptor's link to the open file itself.
      struct stat st {};
      holds = stat((base + "/fd/" + fd->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
              st.st_rdev == rdev;
    }
    if (!holds) continue;
    PortHolder holder;
    holder.pid = static_cast<pid_t>(std::atol(entry->d_name));
    std::ifstream comm(base + "/comm");
    std::getline(comm, holder.command);
    result.holders.push_back(holder);
  }
  std::sort(result.holders.begin(), result.holders.end(),
            [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
  return result;
}

}  // namespace opossvc::oposreg
