// Trace files and POSIX access: readers' locks and modes do not keep the
// trace out, links do not lead it elsewhere.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include <opossvc/trace.h>

#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"

namespace {

using opossvc::test_support::ChildChecks;
using opossvc::test_support::ChildProcess;
using opossvc::test_support::Pipe;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whoever may read a trace file can take every lock a reader can on it:
// none of them keeps the trace out. Tracing needs write access only: a
// user who may not read the file (the reader, as nobody) still appends.
TEST(TraceAccessTest, NoReaderOfTheFileKeepsTheTraceOut) {
  opossvc::test_support::ScratchFolder files;
  const std::string path = files.PathOf("read_locked.log");
  const std::string write_only = files.PathOf("write_only.log");
  std::ofstream(path, std::ios::binary) << "earlier\r\n";
  std::ofstream(write_only, std::ios::binary) << "earlier\r\n";
  ASSERT_EQ(chmod(files.PathOf("").c_str(), 0755), 0);
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(chmod(write_only.c_str(), 0222), 0);
  const passwd* nobody = getpwnam("nobody");
  const bool as_nobody = geteuid() == 0 && nobody != nullptr;
  Pipe locked;
  ChildProcess reader([&](ChildChecks&) {
    if (as_nobody) {
      gid_t group = nobody->pw_gid;
      if (setgroups(1, &group) != 0 || setgid(group) != 0 || setuid(nobody->pw_uid) != 0) return;
      CStdioFile* trace = OpenTrace(write_only.c_str());
      OnGetProp(trace, "S", "P", 1);
      CloseTrace(trace);
    }
    struct flock everything {};  // from byte 0 on, without end
    everything.l_type = F_RDLCK;
    everything.l_whence = SEEK_SET;
    const int ofd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const int posix = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fcntl(ofd, F_OFD_SETLK, &everything) != 0 || fcntl(posix, F_SETLK, &everything) != 0 ||
        flock(ofd, LOCK_SH) != 0) {
      return;  // the parent hears nothing
    }
    locked.Writer().Send();
    for (;;) pause();
  });
  ASSERT_TRUE(locked.Reader().Receive()) << "the reader could not lock";
  CStdioFile* trace = OpenTrace(path.c_str());
  ASSERT_NE(trace, nullptr);
  OnGetProp(trace, "S", "P", 1);
  CloseTrace(trace);
  EXPECT_EQ(Contents(path), "earlier\r\nS.P:TRUE\r\n");
  if (as_nobody) {
    EXPECT_EQ(Contents(write_only), "earlier\r\nS.P:TRUE\r\n");
  }
}

// A trace path ending in a symbolic link is refused: a privileged service
// object's trace cannot be turned onto another file.
TEST(TraceAccessTest, ALinkNeverLeadsTheTraceElsewhere) {
  opossvc::test_support::ScratchFolder files;
  const std::string target = files.PathOf("target.log");
  const std::string link = files.PathOf("link.log");
  for (const bool target_exists : {true, false}) {
    SCOPED_TRACE(target_exists ? "to a file" : "dangling");
    std::filesystem::remove(target);
    std::filesystem::remove(link);
    if (target_exists) std::ofstream(target, std::ios::binary) << "kept";
    std::filesystem::create_symlink(target, link);
    EXPECT_EQ(OpenTrace(link.c_str()), nullptr);
    EXPECT_EQ(std::filesystem::exists(target) ? Contents(target) : "(none)",
              target_exists ? "kept" : "(none)");
  }
}

}  // namespace
