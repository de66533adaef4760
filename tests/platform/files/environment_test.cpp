// How Windows paths map onto the POSIX layout the environment names.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/posix/files/environment.h"
#include "tests/support/scoped_env.h"
#include "platform/posix/text/ansi_codepage.h"

namespace opossvc::detail {
namespace {

using test_support::ScopedEnv;

// Run with OPOSSVC_REPORT_SETTINGS set, this program prints the settings in
// force and ends before any test runs.
[[maybe_unused]] const bool kReportsSettings = [] {
  if (std::getenv("OPOSSVC_REPORT_SETTINGS") == nullptr) return false;
  std::printf("%s|%s|%s|%u", OposRoot().c_str(), DriveRoot('C').c_str(), DriveRoot('D').c_str(),
              ActiveCodePage());
  std::fflush(stdout);
  _exit(0);
}();


// C: defaults below OPOS_ROOT, Z: to the file system root; other letters need
// their own setting, and an empty one maps nothing.
TEST(Environment, DriveRootsAndMappedPaths) {
  ScopedEnv root("OPOS_ROOT", "/r//");
  ScopedEnv d("OPOS_DRIVE_D", "/mnt/d/");
  ScopedEnv e("OPOS_DRIVE_E", "");
  ScopedEnv c("OPOS_DRIVE_C", std::nullopt);
  ScopedEnv q("OPOS_DRIVE_Q", std::nullopt);
  ScopedEnv z("OPOS_DRIVE_Z", std::nullopt);
  const std::pair<const char*, const char*> paths[] = {
      {"c:/OPOS/mixed\\seps", "/r/drive_c/OPOS/mixed/seps"},
      {"C:", "/r/drive_c"},
      {"C:\\dir\\", "/r/drive_c/dir/"},
      {"C:\\a\\\\\\b", "/r/drive_c/a/b"},
      {"C:\\a\\.\\b\\..\\c", "/r/drive_c/a/c"},
      {"C:\\..\\..\\etc\\passwd", "/r/drive_c/etc/passwd"},  // never above the drive
      {"d:\\data", "/mnt/d/data"},
      {"E:\\unmapped", ""},
      {"Q:\\unmapped", ""},
      {"Z:\\..", "/"},
      {"\\OPOS\\log", "/r/drive_c/OPOS/log"},
      {"/var/log/opos\\OPOSAPI.LOG", "/var/log/opos/OPOSAPI.LOG"},
      {"..\\up", "../up"},
      {"\\\\.\\COM1", ""},
      {"\\\\server\\share\\f", ""},
  };
  for (const auto& [windows, posix] : paths) EXPECT_EQ(MapPath(windows), posix) << windows;

  // The settings are read at each call.
  ScopedEnv moved_c("OPOS_DRIVE_C", "/elsewhere");
  EXPECT_EQ(MapPath("C:\\x"), "/elsewhere/x");
  ScopedEnv unset_root("OPOS_ROOT", std::nullopt);
  EXPECT_EQ(OposRoot(), "/var/lib/opos");
}

// A reading by hint sees every change: the variable set, given a new value,
// moved down by the removal of one before it, removed itself, and set again.
TEST(Environment, HintedReadingFollowsTheVariable) {
  std::optional<ScopedEnv> before(std::in_place, "OPOSSVC_HINT_BEFORE", "b");
  ScopedEnv value("OPOSSVC_HINT", std::nullopt);
  SettingHint hint;
  const auto read = [&] {
    const char* text = ReadSetting("OPOSSVC_HINT", &hint);
    return text != nullptr ? std::string(text) : std::string("(unset)");
  };
  EXPECT_EQ(read(), "(unset)");
  setenv("OPOSSVC_HINT", "1", 1);
  EXPECT_EQ(read(), "1");
  setenv("OPOSSVC_HINT", "2", 1);
  EXPECT_EQ(read(), "2");
  before.reset();
  EXPECT_EQ(read(), "2");
  unsetenv("OPOSSVC_HINT");
  EXPECT_EQ(read(), "(unset)");
  setenv("OPOSSVC_HINT", "3", 1);
  EXPECT_EQ(read(), "3");
}

// A setuid or setgid program takes none of its settings from the caller,
// who could otherwise point it at a store, a drive or a code page of their
// choosing.
TEST(Environment, APrivilegedProcessIgnoresItsCallersSettings) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a setgid program";
  std::string folder = "/tmp/opossvc-setgid-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::string program = folder + "/probe";
  std::filesystem::copy_file("/proc/self/exe", program);
  ASSERT_EQ(chown(program.c_str(), 0, 65534), 0);
  std::pair<mode_t, const char*> cases[] = {
      {0755, "/evil|/evil/c|/evil/d|1252"},
      // Set-group-ID to another group: run by root, a privileged process.
      {02755, "/var/lib/opos|/var/lib/opos/drive_c||65001"},
  };
  for (const auto& [mode, expected] : cases) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(chmod(program.c_str(), mode), 0);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      dup2(out[1], 1);
      setenv("OPOSSVC_REPORT_SETTINGS", "1", 1);
      setenv("OPOS_ROOT", "/evil", 1);
      setenv("OPOS_DRIVE_C", "/evil/c", 1);
      setenv("OPOS_DRIVE_D", "/evil/d", 1);
      setenv("OPOS_CODEPAGE", "1252", 1);
      execl(program.c_str(), program.c_str(), nullptr);
      _exit(127);
    }
    close(out[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(report, expected);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace opossvc::detail
