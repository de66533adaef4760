#include "tests/support/process_usage.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>

namespace opossvc::testing {
namespace {

// Entries of a /proc folder of this process.
int CountEntries(const char* folder) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

}  // namespace

int OpenDescriptors() { return CountEntries("/proc/self/fd") - 1; }  // less the listing's own
int Threads() { return CountEntries("/proc/self/task"); }

size_t ResidentBytes() {
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long size = 0, resident = 0;
  const int read = std::fscanf(statm, "%lu %lu", &size, &resident);
  std::fclose(statm);
  return read == 2 ? resident * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

}  // namespace opossvc::testing
