// UpdateServiceInfo and instance numbers, including several processes
// sharing one mask.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/util.h>

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

TEST(UpdateServiceInfoTest, FollowsLogicalNames) {
  TempRegistry registry;
  ASSERT_EQ(registry.CreateKey(HKEY_LOCAL_MACHINE, kPrinterClass + "\\Printer1"), ERROR_SUCCESS);
  ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, kPrinterClass, "Front", "Printer1"), ERROR_SUCCESS);
  EXPECT_EQ(UpdateServiceInfo("POSPrinter\\Front", "Via logical name", 1000000), 1);
  EXPECT_EQ(Text(registry, kPrinterClass + "\\Printer1", "Description"), "Via logical name");
  EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, kPrinterClass + "\\Front"));
}

TEST(UpdateServiceInfoTest, LeavesTheRegistryAloneForAMissingDevice) {
  TempRegistry registry;
  ASSERT_EQ(registry.CreateKey(HKEY_LOCAL_MACHINE, kPrinterClass), ERROR_SUCCESS);
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
    long mask = static_cast<LONG>(c.mask);
    if (c.get) {
      long id = -1;
      GetInstanceID(mask, id);
      EXPECT_EQ(id, c.id);
    } else {
      ResetInstanceID(mask, c.id);
    }
    EXPECT_EQ(mask, static_cast<long>(static_cast<LONG>(c.mask_after)));
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
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  std::vector<int> conflicts(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&mask, &conflicts, t] {
      for (int i = 0; i < 2000; ++i) {
        long id = 0;
        GetInstanceID(mask, id);
        if (id == 0) {
          ++conflicts[t];
          continue;
        }
        ResetInstanceID(mask, id);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // At most kThreads numbers are ever taken at once, so the mask never
  // fills up, and every number taken was given back.
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(conflicts[t], 0);
  EXPECT_EQ(mask, 0);
}

}  // namespace
