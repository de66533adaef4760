// oposreg export [KEY] [FILE]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
// The Windows C runtime's names: no descriptor is inherited unless asked,
// text is written as given (the writer makes the line ends), _commit syncs.
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
inline int fsync(int fd) { return _commit(fd); }
#endif

#include "tools/oposreg/commands.h"
#include "tools/oposreg/key_path.h"
#include "tools/oposreg/regedit4_writer.h"
#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/store_access.h"

namespace opossvc::oposreg {
namespace {

// Opens FILE ("-" for standard output) for the export: the descriptor, or -1
// with the reason in `error`. An existing regular file is taken only with
// `force`, and emptied only once it is known not to be one of the store's
// own, whatever path names it: writing there would destroy the store being
// exported.
int OpenTarget(const std::string& file, bool force, bool* regular, bool* created,
               std::string* error) {
  const bool to_stdout = file == "-";
  int fd = to_stdout ? STDOUT_FILENO
                     : open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  *created = !to_stdout && fd >= 0;
  if (fd < 0 && errno == EEXIST) {
    struct stat existing {};
    if (!force && stat(file.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
      *error = file + " exists: give --force to overwrite it";
      return -1;
    }
    fd = open(file.c_str(), O_WRONLY | O_CLOEXEC);
  }
  if (fd < 0) {
    *error = "cannot write " + file + ": " + std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && IsStoreFile(st)) {
    if (!to_stdout) close(fd);
    *error = "will not export into " + (to_stdout ? std::string("standard output") : file) +
             ": it is the registry store's own file";
    return -1;
  }
  *regular = !to_stdout && S_ISREG(st.st_mode);
  if (*regular && ftruncate(fd, 0) != 0) {
    *error = "cannot write " + file + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t done = write(fd, text.data(), text.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    text.remove_prefix(static_cast<size_t>(done));
  }
  return true;
}

}  // namespace

int RunExport(const Invocation& invocation) {
  std::string key_text = invocation.args.size() > 0 ? invocation.args[0] : kOposRootKey;
  std::string file = invocation.args.size() > 1 ? invocation.args[1] : "-";
  KeyPath key;
  std::vector<RegKey> keys;
  if (int status = ReadTreeForCommand(key_text, &key, &keys)) return status;
  std::vector<std::string> problems = ExportProblems(keys);
  if (!problems.empty()) {
    for (const std::string& problem : problems) Complain("cannot export " + problem);
    Complain("nothing was exported: an import would not give these back as they are");
    return kExitFailure;
  }
  std::string error;
  bool regular = false;
  std::fflush(stdout);
  bool created = false;
  const int fd = OpenTarget(file, invocation.force, &regular, &created, &error);
  if (fd < 0) {
    Complain(error);
    return kExitFailure;
  }
  bool ok = WriteRegedit4(keys, [fd](std::string_view text) { return WriteAll(fd, text); });
  int write_errno = errno;
  if (ok && regular && fsync(fd) != 0) {
    ok = false;
    write_errno = errno;
  }
  std::string left;
  // No half file is left behind to be imported later.
  if (!ok && created && unlink(file.c_str()) == 0) {
    left = " (the file was removed)";
  } else if (!ok && regular && ftruncate(fd, 0) == 0) {
    left = " (the file was left empty)";
  }
  if (fd != STDOUT_FILENO) close(fd);
  if (!ok) {
    Complain("cannot write " + file + ": " + std::strerror(write_errno) + left);
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace opossvc::oposreg
