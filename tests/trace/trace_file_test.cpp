// OpenTrace/CloseTrace: private files, the shared file's location and its
// user count, concurrent users.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/trace.h>

namespace {

const std::string kMakerKey = "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON";

class TraceFileTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(DriveC()); }

  std::string DriveC() const { return registry_.root() + "/drive_c"; }

  void SetConfig(const std::string& name, const std::string& value,
                 const std::string& configuration = "VANTA1.6") {
    ASSERT_EQ(registry_.SetString(HKEY_LOCAL_MACHINE, kMakerKey + "\\" + configuration, name, value),
              ERROR_SUCCESS);
  }

  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Whether some other opener could take the file now (the trace holds it
  // exclusively while open).
  static bool HeldOpen(const std::string& path) {
    CStdioFile probe;
    if (probe.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone)) return false;
    return GetLastError() == ERROR_SHARING_VIOLATION;
  }

  opossvc::testing::TempRegistry registry_;
};

TEST_F(TraceFileTest, SharedFileLocationComesFromTheConfigurationOrIsTheRootOfDriveC) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> settings;  // name, value in VANTA1.6
    std::string primary;                                         // PrimaryConfig, if any
    std::vector<std::pair<std::string, std::string>> other;      // values in the Cfg2 sub-key
    std::string file;                                            // below drive C:
  } cases[] = {
      {"no settings", {}, "", {}, "OPOSAPI.LOG"},
      {"DebugTrace", {{"DebugTrace", "C:\\Temp\\my.log"}, {"OposDir", "C:\\Ignored"}}, "", {}, "Temp/my.log"},
      {"OposDir", {{"OposDir", "C:\\OPOS"}}, "", {}, "OPOS/OPOSAPI.LOG"},
      {"OposDir with backslash", {{"OposDir", "C:\\OPOS\\"}}, "", {}, "OPOS/OPOSAPI.LOG"},
      {"empty DebugTrace", {{"DebugTrace", ""}, {"OposDir", "C:\\OPOS"}}, "", {}, "OPOS/OPOSAPI.LOG"},
      {"PrimaryConfig",
       {{"DebugTrace", "C:\\Temp\\default.log"}},
       "Cfg2",
       {{"DebugTrace", "C:\\Temp\\cfg2.log"}},
       "Temp/cfg2.log"},
      {"empty PrimaryConfig", {{"OposDir", "C:\\Temp"}}, "", {}, "Temp/OPOSAPI.LOG"},
  };
  std::filesystem::create_directories(DriveC() + "/Temp");
  std::filesystem::create_directories(DriveC() + "/OPOS");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(registry_.SetString(HKEY_LOCAL_MACHINE, kMakerKey, "PrimaryConfig", c.primary), ERROR_SUCCESS);
    for (const auto& [name, value] : c.settings) SetConfig(name, value);
    for (const auto& [name, value] : c.other) SetConfig(name, value, "Cfg2");
    CStdioFile* trace = OpenTrace("");
    ASSERT_NE(trace, nullptr);
    OnSetProp(trace, "S", c.name, 1L);
    CloseTrace(trace);
    std::string path = DriveC() + "/" + c.file;
    EXPECT_EQ(Contents(path), std::string("S.") + c.name + "=1 (0x00000001)\r\n");
    std::filesystem::remove(path);
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, kMakerKey.c_str()), ERROR_SUCCESS);
  }
}

TEST_F(TraceFileTest, UserCountDecidesWhenTheSharedFileCloses) {
  const std::string path = DriveC() + "/OPOSAPI.LOG";
  CStdioFile* first = OpenTrace("");
  CStdioFile* second = OpenTrace("");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  CStdioFile* first_copy = first;
  CloseTrace(first);
  EXPECT_TRUE(HeldOpen(path));
  OnGetProp(second, "S", "StillOpen", 1);
  CloseTrace(second);
  EXPECT_FALSE(HeldOpen(path));
  OnGetProp(first_copy, "S", "AfterClose", 1);  // a closed file takes nothing
  // Closing more often than opening must not leave the count below zero.
  CloseTrace(first_copy);
  CStdioFile* again = OpenTrace("");
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(HeldOpen(path));
  CloseTrace(again);
  EXPECT_FALSE(HeldOpen(path));
  EXPECT_EQ(Contents(path), "S.StillOpen:TRUE\r\n");
}

TEST_F(TraceFileTest, PathIsReadAgainOnlyWhenTheFileOpensAnew) {
  std::filesystem::create_directories(DriveC() + "/Temp");
  SetConfig("DebugTrace", "C:\\Temp\\a.log");
  CStdioFile* trace = OpenTrace("");
  ASSERT_NE(trace, nullptr);
  SetConfig("DebugTrace", "C:\\Temp\\b.log");
  CStdioFile* more = OpenTrace("");
  OnGetProp(more, "S", "P", 1);
  CloseTrace(more);
  CloseTrace(trace);
  EXPECT_EQ(Contents(DriveC() + "/Temp/a.log"), "S.P:TRUE\r\n");
  trace = OpenTrace("");
  OnGetProp(trace, "S", "Q", 1);
  CloseTrace(trace);
  EXPECT_EQ(Contents(DriveC() + "/Temp/b.log"), "S.Q:TRUE\r\n");
}

TEST_F(TraceFileTest, FailedOpenLeavesTheCountAtZeroAndIsRetried) {
  SetConfig("OposDir", "C:\\Missing");
  EXPECT_EQ(OpenTrace(""), nullptr);
  EXPECT_EQ(OpenTrace(""), nullptr);
  std::filesystem::create_directories(DriveC() + "/Missing");
  CStdioFile* trace = OpenTrace("");
  ASSERT_NE(trace, nullptr);
  CloseTrace(trace);
  EXPECT_FALSE(HeldOpen(DriveC() + "/Missing/OPOSAPI.LOG"));
}

TEST_F(TraceFileTest, PrivateFilesAreExclusiveAndIndependentOfTheSharedOne) {
  const std::string path = DriveC() + "/private.log";
  CStdioFile* mine = OpenTrace("C:\\private.log");
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(OpenTrace("C:\\private.log"), nullptr);
  EXPECT_EQ(OpenTrace(path.c_str()), nullptr);
  CStdioFile* shared = OpenTrace("");
  ASSERT_NE(shared, nullptr);
  EXPECT_NE(shared, mine);
  CloseTrace(mine);
  EXPECT_FALSE(HeldOpen(path));
  EXPECT_TRUE(HeldOpen(DriveC() + "/OPOSAPI.LOG"));
  CloseTrace(shared);
  EXPECT_FALSE(HeldOpen(DriveC() + "/OPOSAPI.LOG"));
  EXPECT_EQ(OpenTrace("Q:\\unmapped.log"), nullptr);
}

// Threads that open, trace and close at once: no open fails, no count is
// lost (the file ends closed), and every record is a whole line.
TEST_F(TraceFileTest, ConcurrentUsersShareOneFile) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      std::string object = "Thread" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        CStdioFile* trace = OpenTrace("");
        if (trace == nullptr) {
          ++failures[t];
          continue;
        }
        OnSetProp(trace, object.c_str(), "Round", static_cast<long>(i));
        PutResultCode(trace, object.c_str(), 0, i);
        CloseTrace(trace);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << t;
  const std::string path = DriveC() + "/OPOSAPI.LOG";
  EXPECT_FALSE(HeldOpen(path));
  std::istringstream lines(Contents(path));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r');
    bool known = line.rfind("Thread", 0) == 0 || line.rfind("<Thread", 0) == 0;
    ASSERT_TRUE(known) << line;
    if (line[0] == '<' && line.find(".ResultCode:") != std::string::npos) {
      // The two result lines stay together.
      std::string next;
      ASSERT_TRUE(std::getline(lines, next));
      ++count;
      ASSERT_EQ(next.substr(0, next.find('.')), line.substr(0, line.find('.')));
    }
  }
  EXPECT_EQ(count, kThreads * kRounds * 3);
}

}  // namespace
