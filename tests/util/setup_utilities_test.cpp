// Setup utilities: UpdateServiceInfo, instance numbers (also with several
// processes sharing one mask), IsAdmin, IsValidPath and the platform calls
// behind them: process tokens, SIDs and drive types.
#include <grp.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/util.h>
#include <opossvc/win32/drives.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/security.h>
#include <opossvc/win32/threads.h>

namespace {

using opossvc::testing::TempRegistry;

const std::string kPrinterClass = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";

std::optional<std::string> Text(const TempRegistry& registry, const std::string& key, const std::string& name) {
  std::optional<std::string> value = registry.GetValue(HKEY_LOCAL_MACHINE, key, name);
  if (value && !value->empty() && value->back() == '\0') value->pop_back();
  return value;
}

TEST(UpdateServiceInfoTest, WritesDescriptionAndVersion) {
  struct Case {
    const char* description;
    long version;
    std::optional<std::string> written_description;
    std::optional<std::string> written_version;
  } cases[] = {
      {"Receipt printer", 2001002, "Receipt printer", "2.1.2"},
      {"", 1005001, std::nullopt, "1.5.1"},
      {"Only text", 0, "Only text", std::nullopt},
      {"Negative", -5, "Negative", std::nullopt},
      {"Big", 2147483647, "Big", "2147.483.647"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    TempRegistry registry;
    ASSERT_EQ(registry.CreateKey(HKEY_LOCAL_MACHINE, kPrinterClass + "\\Printer1"), ERROR_SUCCESS);
    EXPECT_EQ(UpdateServiceInfo("POSPrinter\\Printer1", c.description, c.version), 1);
    EXPECT_EQ(Text(registry, kPrinterClass + "\\Printer1", "Description"), c.written_description);
    EXPECT_EQ(Text(registry, kPrinterClass + "\\Printer1", "Version"), c.written_version);
  }
}

// Logical names are followed; a device that does not exist is a failure
// and is never created.
TEST(UpdateServiceInfoTest, FindsTheDeviceAndNeverCreatesOne) {
  TempRegistry registry;
  ASSERT_EQ(registry.CreateKey(HKEY_LOCAL_MACHINE, kPrinterClass + "\\Printer1"), ERROR_SUCCESS);
  ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, kPrinterClass, "Front", "Printer1"), ERROR_SUCCESS);
  EXPECT_EQ(UpdateServiceInfo("POSPrinter\\Front", "Via logical name", 1000000), 1);
  EXPECT_EQ(Text(registry, kPrinterClass + "\\Printer1", "Description"), "Via logical name");
  EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kPrinterClass + "\\Front"));
  const char* missing[] = {"POSPrinter\\Ghost", "Scanner\\Ghost", "NoClass\\Ghost", "Ghost", "", nullptr};
  for (const char* device : missing) {
    SCOPED_TRACE(device != nullptr ? device : "(null)");
    EXPECT_EQ(UpdateServiceInfo(device, "x", 1000000), 0);
  }
  EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kPrinterClass + "\\Ghost"));
  EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner"));
}

TEST(InstanceIdTest, GetHandsOutTheLowestFreeNumberAndResetFreesOne) {
  struct Case {
    bool get;  // GetInstanceID, else ResetInstanceID of `id`
    DWORD mask;
    long id;  // the number handed out, or the one given back
    DWORD mask_after;
  } cases[] = {
      {true, 0x00000000, 1, 0x00000001},   {true, 0x0000000B, 3, 0x0000000F},
      {true, 0x7FFFFFFF, 32, 0xFFFFFFFF},  {true, 0xFFFFFFFF, 0, 0xFFFFFFFF},
      {true, 0xFFFFFFFE, 1, 0xFFFFFFFF},   {true, 0x80000000, 1, 0x80000001},
      {false, 0x0000000F, 3, 0x0000000B},  {false, 0x0000000F, 0, 0x0000000F},
      {false, 0x0000000F, 33, 0x0000000F}, {false, 0xFFFFFFFF, 32, 0x7FFFFFFF},
      {false, 0x00000001, 2, 0x00000001},  {false, 0x0000000F, -1, 0x0000000F},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.get ? "get " : "reset ") << c.mask << " " << c.id);
    long mask = opossvc::Long32(c.mask);
    if (c.get) {
      long id = -1;
      GetInstanceID(mask, id);
      EXPECT_EQ(id, c.id);
    } else {
      ResetInstanceID(mask, c.id);
    }
    EXPECT_EQ(mask, opossvc::Long32(c.mask_after));
  }
}

// Processes that share a mask in shared memory never get the same number.
TEST(InstanceIdTest, ProcessesSharingAMaskGetDistinctNumbers) {
  constexpr int kChildren = 8;
  constexpr int kEach = 4;
  struct Shared {
    long mask;
    long ids[kChildren][kEach];
  };
  void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  auto* shared = new (memory) Shared{};
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0; i < kEach; ++i) GetInstanceID(shared->mask, shared->ids[c][i]);
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<long> all;
  for (auto& row : shared->ids) all.insert(all.end(), std::begin(row), std::end(row));
  std::sort(all.begin(), all.end());
  for (int i = 0; i < kChildren * kEach; ++i) EXPECT_EQ(all[i], i + 1);
  EXPECT_EQ(shared->mask, -1L);
  munmap(memory, sizeof(Shared));
}

TEST(InstanceIdTest, ThreadsTakingAndReturningNumbersKeepTheMaskConsistent) {
  long mask = 0;
  std::atomic<int> none_free{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        long id = 0;
        GetInstanceID(mask, id);
        if (id == 0) ++none_free;
        if (id != 0) ResetInstanceID(mask, id);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // At most four numbers are taken at once, so the mask never fills up, and
  // every number taken was given back.
  EXPECT_EQ(none_free, 0);
  EXPECT_EQ(mask, 0);
}

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
