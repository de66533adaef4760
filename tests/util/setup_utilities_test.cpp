// Setup utilities: UpdateServiceInfo, instance numbers (also shared between
// processes), IsAdmin, IsValidPath and the platform calls behind them:
// process tokens, SIDs and drive types.
#include <grp.h>
#include <pwd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/util.h>
#include <opossvc/win32/drives.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/security.h>
#include <opossvc/win32/threads.h>

#include "tests/support/child_process.h"
#include "tests/support/scoped_env.h"

namespace {

using opossvc::test_support::ChildChecks;
using opossvc::test_support::ChildProcess;
using opossvc::test_support::RunInChild;
using opossvc::test_support::ScopedEnv;
using opossvc::testing::TempRegistry;

const std::string kServiceOpos = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\";
const std::string kPrinterClass = kServiceOpos + "POSPrinter";

std::optional<std::string> Text(const TempRegistry& registry, const std::string& name) {
  std::optional<std::string> value =
      registry.GetValue(HKEY_LOCAL_MACHINE, kPrinterClass + "\\Printer1", name);
  if (value && !value->empty() && value->back() == '\0') value->pop_back();
  return value;
}

// Logical names are followed; a device that does not exist is a failure and
// is never created; empty or non-positive parts are not written.
TEST(UpdateServiceInfoTest, WritesWhatIsGivenToTheDeviceFound) {
  const std::tuple<const char*, long, std::optional<std::string>, std::optional<std::string>>
      cases[] = {
          {"Receipt printer", 2001002, "Receipt printer", "2.1.2"},
          {"", 2147483647, std::nullopt, "2147.483.647"},
          {"Negative", -5, "Negative", std::nullopt},
      };
  for (const auto& [description, version, description_written, version_written] : cases) {
    SCOPED_TRACE(version);
    TempRegistry registry;
    ASSERT_EQ(registry.CreateKey(HKEY_LOCAL_MACHINE, kPrinterClass + "\\Printer1"), ERROR_SUCCESS);
    ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, kPrinterClass, "Front", "Printer1"),
              ERROR_SUCCESS);
    EXPECT_EQ(UpdateServiceInfo("POSPrinter\\Front", description, version), 1);
    EXPECT_EQ(Text(registry, "Description"), description_written);
    EXPECT_EQ(Text(registry, "Version"), version_written);
    for (const char* device :
         {"POSPrinter\\Ghost", "Scanner\\Ghost", "Ghost", "", static_cast<const char*>(nullptr)}) {
      EXPECT_EQ(UpdateServiceInfo(device, "x", 1000000), 0) << (device ? device : "(null)");
    }
    EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kPrinterClass + "\\Front"));
    EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kPrinterClass + "\\Ghost"));
    EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kServiceOpos + "Scanner"));
  }
}

TEST(InstanceIdTest, GetHandsOutTheLowestFreeNumberAndResetFreesOne) {
  // GetInstanceID (else ResetInstanceID of the number), the mask, the number handed out or given
  // back, the mask after.
  const std::tuple<bool, DWORD, long, DWORD> cases[] = {
      {true, 0x0000000B, 3, 0x0000000F},   {true, 0x7FFFFFFF, 32, 0xFFFFFFFF},
      {true, 0xFFFFFFFF, 0, 0xFFFFFFFF},   {false, 0x0000000F, 3, 0x0000000B},
      {false, 0xFFFFFFFF, 32, 0x7FFFFFFF}, {false, 0x0000000F, 0, 0x0000000F},
      {false, 0x0000000F, 33, 0x0000000F},
  };
  for (const auto& [get, mask_before, number, mask_after] : cases) {
    SCOPED_TRACE(::testing::Message() << (get ? "get " : "reset ") << mask_before << " " << number);
    long mask = opossvc::Long32(mask_before);
    long id = get ? -1 : number;
    get ? GetInstanceID(mask, id) : ResetInstanceID(mask, id);
    EXPECT_EQ(id, number);
    EXPECT_EQ(mask, opossvc::Long32(mask_after));
  }
}

// Processes that share a mask in shared memory take and give back numbers
// at once, then keep four each: no number is handed out twice, and none is
// lost to a give-back racing a take.
TEST(InstanceIdTest, ProcessesSharingAMaskGetDistinctNumbers) {
  constexpr int kChildren = 8;
  constexpr int kEach = 4;
  struct Shared {
    long mask;
    long ids[kChildren][kEach];
  };
  void* memory =
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  auto* shared = new (memory) Shared{};
  std::vector<std::unique_ptr<ChildProcess>> children;
  for (int c = 0; c < kChildren; ++c) {
    children.push_back(std::make_unique<ChildProcess>([shared, c](ChildChecks& checks) {
      for (int i = 0; i < 2000; ++i) {
        long id = 0;
        GetInstanceID(shared->mask, id);
        if (!checks.Expect(id != 0, "the mask filled up")) return;
        ResetInstanceID(shared->mask, id);
      }
      for (long& id : shared->ids[c]) GetInstanceID(shared->mask, id);
    }));
  }
  for (auto& child : children) EXPECT_EQ(child->Wait(), "");
  std::vector<long> all;
  for (auto& row : shared->ids) all.insert(all.end(), std::begin(row), std::end(row));
  std::sort(all.begin(), all.end());
  for (int i = 0; i < kChildren * kEach; ++i) EXPECT_EQ(all[i], i + 1);
  EXPECT_EQ(shared->mask, -1L);
  munmap(memory, sizeof(Shared));
}

// Drives: C: in the private root, D: an existing folder, E: mapped to a folder that does not
// exist, Q: unmapped.
TEST(DriveMapTest, ValidPaths) {
  TempRegistry registry;
  std::filesystem::create_directories(registry.root() + "/drive_c");
  std::filesystem::create_directories(registry.root() + "/d");
  ScopedEnv d("OPOS_DRIVE_D", registry.root() + "/d");
  ScopedEnv e("OPOS_DRIVE_E", registry.root() + "/missing");
  ScopedEnv q("OPOS_DRIVE_Q", std::nullopt);
  const std::pair<const char*, int> cases[] = {
      {"C:\\", 1},         {"C:\\OPOS\\Log", 1}, {"D:\\data", 1},        {"C:\\a b\\c.d", 1},
      {"C:", 0},           {"C:\\OPOS\\", 0},    {"C:\\\\OPOS", 0},      {"C:\\OPOS\\\\Log", 0},
      {"C:\\OPOS;2", 0},   {"C:\\a/b", 0},       {"C:\\\"a\"", 0},       {"E:\\OPOS", 0},
      {"Q:\\OPOS", 0},     {"C/OPOS", 0},
  };
  for (const auto& [path, valid] : cases) EXPECT_EQ(IsValidPath(path), valid) << path;
  EXPECT_EQ(IsValidPath(nullptr), 0);
  EXPECT_EQ(GetDriveTypeA(nullptr), GetDriveTypeA("c:/"));  // the current drive: C:
  EXPECT_NE(GetDriveTypeA("\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
}

// Unused sub-authorities do not count; a malformed SID is refused, not read. Token groups follow
// the size protocol, every SID inside the caller's buffer.
TEST(SecurityTest, SidsCompareByValueAndTokenGroupsFollowTheSizeProtocol) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr, admins_again = nullptr, users = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &admins));
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 9, 9, 9, 9, 9, 9, &admins_again));
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 545, 0, 0, 0, 0, 0, 0, &users));
  EXPECT_TRUE(EqualSid(admins, admins_again));
  EXPECT_FALSE(EqualSid(admins, users));
  EXPECT_EQ(GetLengthSid(admins), 16u);
  PSID too_many = reinterpret_cast<PSID>(1);
  EXPECT_FALSE(AllocateAndInitializeSid(&nt, 9, 0, 0, 0, 0, 0, 0, 0, 0, &too_many));
  EXPECT_EQ(too_many, nullptr);
  BYTE garbage[16] = {7, 200};
  EXPECT_FALSE(EqualSid(admins, garbage));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
  for (PSID sid : {admins, admins_again, users}) EXPECT_EQ(FreeSid(sid), nullptr);

  // Token groups follow the size protocol.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD size = 0;
  EXPECT_FALSE(GetTokenInformation(token, TokenGroups, nullptr, 0, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(size, sizeof(TOKEN_GROUPS));
  std::vector<BYTE> buffer(size);
  EXPECT_FALSE(GetTokenInformation(token, TokenGroups, buffer.data(), size - 1, &size));
  ASSERT_TRUE(GetTokenInformation(token, TokenGroups, buffer.data(), size, &size));
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    auto* sid = static_cast<BYTE*>(groups->Groups[i].Sid);
    ASSERT_GE(sid, buffer.data()) << "every SID lies inside the caller's buffer";
    ASSERT_LE(sid + GetLengthSid(sid), buffer.data() + buffer.size());
  }
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

// Root is an administrator; an ordinary user in none of the admin groups is not.
TEST(SecurityTest, IsAdminDependsOnTheUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to change users";
  EXPECT_EQ(IsAdmin(), 1);
  passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
  EXPECT_EQ(RunInChild([nobody](ChildChecks& checks) {
              gid_t group = nobody->pw_gid;
              if (!checks.Expect(setgroups(1, &group) == 0 && setgid(group) == 0 &&
                                     setuid(nobody->pw_uid) == 0,
                                 "became nobody")) {
                return;
              }
              checks.ExpectCode(IsAdmin(), 0, "IsAdmin as nobody");
            }),
            "");
}

}  // namespace
