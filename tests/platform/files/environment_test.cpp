// How Windows paths map onto the POSIX layout the environment names.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/posix/files/environment.h"
#include "tests/support/scoped_env.h"

namespace opossvc::detail {
namespace {

using test_support::ScopedEnv;

// C: defaults below OPOS_ROOT, Z: to the file system root; other letters need
// their own setting, and an empty one maps nothing.
TEST(Environment, DriveRootsAndMappedPaths) {
  ScopedEnv root("OPOS_ROOT", "/r//");
  ScopedEnv d("OPOS_DRIVE_D", "/mnt/d/");
  ScopedEnv e("OPOS_DRIVE_E", "");
  ScopedEnv c("OPOS_DRIVE_C", std::nullopt);
  ScopedEnv q("OPOS_DRIVE_Q", std::nullopt);
  ScopedEnv z("OPOS_DRIVE_Z", std::nullopt);
  const struct {
    const char* windows;
    const char* posix;
  } paths[] = {
      {"c:/OPOS/mixed\\seps", "/r/drive_c/OPOS/mixed/seps"},
      {"C:", "/r/drive_c"},
      {"C:file.txt", "/r/drive_c/file.txt"},
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
      {"//server/share", "//server/share"},
      {"..\\up", "../up"},
      {"\\\\.\\COM1", ""},
      {"\\\\server\\share\\f", ""},
  };
  for (const auto& p : paths) EXPECT_EQ(MapPath(p.windows), p.posix) << p.windows;

  // The settings are read at each call.
  ScopedEnv moved_c("OPOS_DRIVE_C", "/elsewhere");
  EXPECT_EQ(MapPath("C:\\x"), "/elsewhere/x");
  ScopedEnv unset_root("OPOS_ROOT", std::nullopt);
  EXPECT_EQ(OposRoot(), "/var/lib/opos");
}

}  // namespace
}  // namespace opossvc::detail
