// IsAdmin, IsValidPath and the platform calls behind them:
// process tokens, SIDs and drive types.
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/util.h>
#include <opossvc/win32/drives.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/security.h>
#include <opossvc/win32/threads.h>

namespace {

// Drives for a test: C: in the private root, D: an existing folder, E:
// mapped to a folder that does not exist, Q: unmapped.
class DriveMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(registry_.root() + "/drive_c");
    std::filesystem::create_directories(registry_.root() + "/d");
    setenv("OPOS_DRIVE_D", (registry_.root() + "/d").c_str(), 1);
    setenv("OPOS_DRIVE_E", (registry_.root() + "/missing").c_str(), 1);
    unsetenv("OPOS_DRIVE_Q");
  }
  void TearDown() override {
    unsetenv("OPOS_DRIVE_D");
    unsetenv("OPOS_DRIVE_E");
  }

  opossvc::testing::TempRegistry registry_;
};

TEST_F(DriveMapTest, DriveTypesFollowTheDriveMap) {
  struct Case {
    const char* root;
    bool exists;
  } cases[] = {
      {"C:\\", true},  {"c:\\", true},   {"C:/", true},    {"C:", true},  {"\\", true}, {"D:\\", true},
      {"E:\\", false}, {"Q:\\", false},  {"C:\\OPOS", false}, {"", false}, {"1:\\", false}, {"C", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root);
    UINT type = GetDriveTypeA(c.root);
    if (c.exists) {
      EXPECT_NE(type, DRIVE_UNKNOWN);
      EXPECT_NE(type, DRIVE_NO_ROOT_DIR);
    } else {
      EXPECT_EQ(type, DRIVE_NO_ROOT_DIR);
    }
  }
  EXPECT_EQ(GetDriveTypeA(nullptr), GetDriveTypeA("C:\\"));
}

TEST_F(DriveMapTest, ValidPaths) {
  struct Case {
    const char* path;
    int valid;
  } cases[] = {
      {"C:\\", 1},          {"C:\\OPOS\\Log", 1},  {"D:\\data", 1},      {"C:\\a b\\c.d", 1},
      {"C:", 0},            {"C:\\OPOS\\", 0},     {"C:\\\\OPOS", 0},    {"C:\\OPOS\\\\Log", 0},
      {"C:\\OPOS;2", 0},    {"C:\\a/b", 0},        {"C:\\a:b", 0},       {"C:\\a*", 0},
      {"C:\\a?", 0},        {"C:\\<a>", 0},        {"C:\\a|b", 0},       {"C:\\a,b", 0},
      {"C:\\\"a\"", 0},     {"E:\\OPOS", 0},       {"Q:\\OPOS", 0},      {"C/OPOS", 0},
      {"", 0},              {"CC\\x", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(IsValidPath(c.path), c.valid);
  }
  EXPECT_EQ(IsValidPath(nullptr), 0);
}

TEST(SecurityTest, SidsCompareByValue) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID admins = nullptr, admins_again = nullptr, users = nullptr, everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &admins));
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 9, 9, 9, 9, 9, 9, &admins_again));
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 545, 0, 0, 0, 0, 0, 0, &users));
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, 0, 0, 0, 0, 0, 0, 0, 0, &everyone));
  EXPECT_TRUE(EqualSid(admins, admins_again));  // unused sub-authorities do not count
  EXPECT_FALSE(EqualSid(admins, users));
  EXPECT_FALSE(EqualSid(admins, everyone));
  EXPECT_EQ(GetLengthSid(admins), 16u);
  PSID too_many = reinterpret_cast<PSID>(1);
  EXPECT_FALSE(AllocateAndInitializeSid(&nt, 9, 0, 0, 0, 0, 0, 0, 0, 0, &too_many));
  EXPECT_EQ(too_many, nullptr);
  BYTE garbage[16] = {7, 200};
  EXPECT_FALSE(EqualSid(admins, garbage));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
  for (PSID sid : {admins, admins_again, users, everyone}) EXPECT_EQ(FreeSid(sid), nullptr);
}

TEST(SecurityTest, TokenGroupsFollowTheSizeProtocol) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD size = 0;
  EXPECT_FALSE(GetTokenInformation(token, TokenGroups, nullptr, 0, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(size, sizeof(TOKEN_GROUPS));
  std::vector<BYTE> small(size - 1);
  EXPECT_FALSE(GetTokenInformation(token, TokenGroups, small.data(), size - 1, &size));
  std::vector<BYTE> buffer(size);
  ASSERT_TRUE(GetTokenInformation(token, TokenGroups, buffer.data(), size, &size));
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, 0, 0, 0, 0, 0, 0, 0, 0, &everyone));
  bool found = false;
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    // Every SID lies inside the caller's buffer.
    auto* sid = static_cast<BYTE*>(groups->Groups[i].Sid);
    ASSERT_GE(sid, buffer.data());
    ASSERT_LE(sid + GetLengthSid(sid), buffer.data() + buffer.size());
    found = found || EqualSid(sid, everyone);
  }
  EXPECT_TRUE(found);
  FreeSid(everyone);
  EXPECT_FALSE(GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size));
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_FALSE(GetTokenInformation(token, TokenGroups, buffer.data(), size, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), 0, &token));
  EXPECT_FALSE(GetTokenInformation(token, TokenGroups, buffer.data(), size, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(token);
  EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(0x1234), TOKEN_QUERY, &token));
}

// Root is an administrator; an ordinary user that is in none of the admin
// groups is not.
TEST(SecurityTest, IsAdminDependsOnTheUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to change users";
  EXPECT_EQ(IsAdmin(), 1);
  passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    gid_t group = nobody->pw_gid;
    if (setgroups(1, &group) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(2);
    _exit(IsAdmin() == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
