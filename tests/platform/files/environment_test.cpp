#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/files/environment.h"

namespace opossvc::detail {
namespace {

// Sets environment variables for a scope and puts the old values back.
class Environment {
 public:
  void Set(const char* name, std::optional<std::string> value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
  ~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      it->second ? setenv(it->first.c_str(), it->second->c_str(), 1) : unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(Environment, OposRootIsReadAtEachCall) {
  struct Case {
    std::optional<std::string> value;
    std::string root;
  } cases[] = {
      {std::nullopt, "/var/lib/opos"}, {"", "/var/lib/opos"}, {"/srv/opos", "/srv/opos"},
      {"/srv/opos//", "/srv/opos"},    {"/", "/"},
  };
  for (const Case& c : cases) {
    Environment env;
    env.Set("OPOS_ROOT", c.value);
    EXPECT_EQ(OposRoot(), c.root) << c.value.value_or("(unset)");
  }
}

// C: defaults below OPOS_ROOT, Z: to the file system root; other letters need
// their own setting, and an empty one maps nothing.
TEST(Environment, DriveRootsAndMappedPaths) {
  Environment env;
  env.Set("OPOS_ROOT", "/r");
  env.Set("OPOS_DRIVE_D", "/mnt/d/");
  env.Set("OPOS_DRIVE_E", "");
  for (const char* unset : {"OPOS_DRIVE_C", "OPOS_DRIVE_Q", "OPOS_DRIVE_Z"}) {
    env.Set(unset, std::nullopt);
  }
  struct Drive {
    char letter;
    std::string root;
  } drives[] = {{'C', "/r/drive_c"}, {'c', "/r/drive_c"}, {'d', "/mnt/d"}, {'E', ""},
                {'Q', ""},           {'Z', "/"},          {'1', ""},      {':', ""}};
  for (const Drive& d : drives) EXPECT_EQ(DriveRoot(d.letter), d.root) << d.letter;

  struct Path {
    const char* windows;
    const char* posix;
  } paths[] = {
      {"C:\\OPOS\\OPOSAPI.LOG", "/r/drive_c/OPOS/OPOSAPI.LOG"},
      {"c:/OPOS/mixed\\seps", "/r/drive_c/OPOS/mixed/seps"},
      {"C:", "/r/drive_c"},
      {"C:\\", "/r/drive_c"},
      {"C:file.txt", "/r/drive_c/file.txt"},
      {"C:\\dir\\", "/r/drive_c/dir/"},
      {"C:\\a\\\\\\b", "/r/drive_c/a/b"},
      {"C:\\a\\.\\b\\..\\c", "/r/drive_c/a/c"},
      {"C:\\..\\..\\etc\\passwd", "/r/drive_c/etc/passwd"},  // never above the drive
      {"D:\\data", "/mnt/d/data"},
      {"E:\\unmapped", ""},
      {"Q:\\unmapped", ""},
      {"Z:\\etc\\hosts", "/etc/hosts"},
      {"Z:\\..", "/"},
      {"\\OPOS\\log", "/r/drive_c/OPOS/log"},
      {"/usr/lib/x", "/usr/lib/x"},
      {"/var/log/opos\\OPOSAPI.LOG", "/var/log/opos/OPOSAPI.LOG"},
      {"//server/share", "//server/share"},
      {"relative\\dir\\f", "relative/dir/f"},
      {"..\\up", "../up"},
      {"\\\\.\\COM1", ""},
      {"\\\\?\\C:\\x", ""},
      {"\\\\server\\share\\f", ""},
      {"", ""},
  };
  for (const Path& p : paths) EXPECT_EQ(MapPath(p.windows), p.posix) << p.windows;

  // Both defaults follow their settings at each call.
  env.Set("OPOS_DRIVE_C", "/elsewhere");
  EXPECT_EQ(MapPath("C:\\x"), "/elsewhere/x");
  env.Set("OPOS_DRIVE_C", std::nullopt);
  env.Set("OPOS_ROOT", "/");
  EXPECT_EQ(DriveRoot('C'), "/drive_c");
}

}  // namespace
}  // namespace opossvc::detail
