// Trace files and records: private files, the shared file's location and
// its user count, concurrent users; records read back byte for byte.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/dispatch_driver.h>
#include <opossvc/opos.h>
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

  // The bytes that `write` leaves in a private trace file that held `earlier`.
  std::string Traced(const std::function<void(CStdioFile*)>& write, const std::string& earlier = "") {
    const std::string path = registry_.root() + "/records.log";
    std::filesystem::remove(path);
    if (!earlier.empty()) std::ofstream(path, std::ios::binary) << earlier;
    CStdioFile* file = OpenTrace(path.c_str());
    EXPECT_NE(file, nullptr);
    write(file);
    CloseTrace(file);
    EXPECT_EQ(file, nullptr);
    return Contents(path);
  }

  opossvc::testing::TempRegistry registry_;
};
class TraceRecordsTest : public TraceFileTest {};

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
      {"OposDir as a POSIX path", {{"OposDir", DriveC() + "/Temp"}}, "", {}, "Temp/OPOSAPI.LOG"},
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
  // Failed opens count no user, and the next open tries again.
  SetConfig("OposDir", "C:\\Missing");
  EXPECT_EQ(OpenTrace(""), nullptr);
  EXPECT_EQ(OpenTrace(""), nullptr);
  std::filesystem::create_directories(DriveC() + "/Missing");
  const std::string path = DriveC() + "/Missing/OPOSAPI.LOG";
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

// Tracing needs write access only: a user who may not read the file still
// appends to it.
TEST_F(TraceFileTest, AFileTheUserMayOnlyWriteIsTraced) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to trace as another user";
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
  const std::string path = registry_.root() + "/write_only.log";
  std::ofstream(path, std::ios::binary) << "earlier\r\n";
  ASSERT_EQ(chmod(registry_.root().c_str(), 0755), 0);
  ASSERT_EQ(chmod(path.c_str(), 0222), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    gid_t group = nobody->pw_gid;
    if (setgroups(1, &group) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(2);
    CStdioFile* trace = OpenTrace(path.c_str());
    const bool opened = trace != nullptr;
    OnGetProp(trace, "S", "P", 1);
    CloseTrace(trace);
    _exit(opened ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Contents(path), "earlier\r\nS.P:TRUE\r\n");
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
  // Three whole lines per round, the two result lines together.
  std::istringstream lines(Contents(path));
  std::string line, next;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_TRUE(line.rfind("Thread", 0) == 0 || line.rfind("<Thread", 0) == 0) << line;
    ASSERT_EQ(line.back(), '\r');
    if (line.find(".ResultCode:") == std::string::npos) continue;
    ASSERT_TRUE(std::getline(lines, next));
    ++count;
    ASSERT_EQ(next.substr(0, next.find('.')), line.substr(0, line.find('.')));
  }
  EXPECT_EQ(count, kThreads * kRounds * 3);
}

CY Currency(LONGLONG count) {
  CY value;
  value.int64 = count;
  return value;
}

TEST_F(TraceRecordsTest, PropertyRecords) {
  // Members as a service object written for Windows declares them: a LONG
  // traces as a number, a BOOL as a boolean.
  struct {
    LONG m_lResultCode = OPOS_E_ILLEGAL;
    BOOL m_bAsyncMode = TRUE;
  } so;
  struct Case {
    const char* name;
    std::function<void(CStdioFile*)> write;
    const char* text;
  } cases[] = {
      {"boolean", [](CStdioFile* f) { OnGetProp(f, "POSPrinter", "DeviceEnabled", 1); },
       "POSPrinter.DeviceEnabled:TRUE\r\n"},
      {"false", [](CStdioFile* f) { OnSetProp(f, "POSPrinter", "FreezeEvents", 0); },
       "POSPrinter.FreezeEvents=FALSE\r\n"},
      {"any non-zero is true", [](CStdioFile* f) { OnGetProp(f, "S", "B", -7); }, "S.B:TRUE\r\n"},
      {"LONG member", [&](CStdioFile* f) { OnGetProp(f, "Printer", "ResultCode", so.m_lResultCode); },
       "Printer.ResultCode:106 (0x0000006a)\r\n"},
      {"BOOL member", [&](CStdioFile* f) { OnGetProp(f, "Printer", "AsyncMode", so.m_bAsyncMode); },
       "Printer.AsyncMode:TRUE\r\n"},
      {"TRUE", [](CStdioFile* f) { OnSetProp(f, "Printer", "DeviceEnabled", TRUE); },
       "Printer.DeviceEnabled=TRUE\r\n"},
      {"long", [](CStdioFile* f) { OnSetProp(f, "POSPrinter", "CharacterSet", 998L); },
       "POSPrinter.CharacterSet=998 (0x000003e6)\r\n"},
      {"negative long", [](CStdioFile* f) { OnSetProp(f, "POSPrinter", "RecLineSpacing", -1L); },
       "POSPrinter.RecLineSpacing=-1 (0xffffffff)\r\n"},
      {"long is 32 bits", [](CStdioFile* f) { OnGetProp(f, "S", "N", 0x100000002L); },
       "S.N:2 (0x00000002)\r\n"},
      {"currency", [](CStdioFile* f) { OnGetProp(f, "CashChanger", "CurrencyValue", Currency(10000)); },
       "CashChanger.CurrencyValue:Hi = 0, Lo = 10000 (Hi = 0x00000000, Lo = 0x00002710)\r\n"},
      {"currency -1", [](CStdioFile* f) { OnSetProp(f, "C", "V", Currency(-1)); },
       "C.V=Hi = -1, Lo = -1 (Hi = 0xffffffff, Lo = 0xffffffff)\r\n"},
      {"string to NUL", [](CStdioFile* f) { OnGetProp(f, "POSPrinter", "DeviceName", "POSPrinter", 0); },
       "POSPrinter.DeviceName:\"POSPrinter\"\r\n"},
      {"control byte escaped", [](CStdioFile* f) { OnGetProp(f, "S", "P", "A\rB", 0); },
       "S.P:\"A\\x0dB\"\r\n"},
      {"length with NUL", [](CStdioFile* f) { OnSetProp(f, "S", "P", "A\rB", 4); },
       "S.P=\"A\\x0dB\\x00\"\r\n"},
      {"high bytes and DEL", [](CStdioFile* f) { OnGetProp(f, "S", "P", "\xc3\xa9\x7f~", -1); },
       "S.P:\"\\xc3\\xa9\\x7f~\"\r\n"},
      {"quotes and backslashes as they are", [](CStdioFile* f) { OnGetProp(f, "S", "P", "a\"b\\c", 0); },
       "S.P:\"a\"b\\c\"\r\n"},
      {"null string", [](CStdioFile* f) { OnGetProp(f, "S", "P", static_cast<const char*>(nullptr), 5); },
       "S.P:\"\"\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Traced(c.write), c.text);
  }
}

TEST_F(TraceRecordsTest, MethodRecordsForEveryParameterType) {
  BSTR service = SysAllocString(u"Service");
  BSTR two_lines = SysAllocString(u"a\nb");
  BSTR null_bstr = nullptr;
  LONG seven = 7;  // a service object's LONG, as VTS_PI4 is given one
  CY cy = Currency(1);
  double real = 1.5;
  struct Case {
    const char* name;
    std::function<void(CStdioFile*)> write;
    const char* text;
  } cases[] = {
      {"direct I/O",
       [&](CStdioFile* f) { OnMethod(f, "POSPrinter", "DirectIO", 0, VTS_I4 VTS_PI4 VTS_PBSTR, 5L, &seven, &service); },
       ">POSPrinter.DirectIO(5 (0x00000005),[7 (0x00000007)],[\"Service\"])\r\n"},
      {"no types, direction 1", [](CStdioFile* f) { OnMethod(f, "POSPrinter", "ClearOutput", 1, nullptr); },
       "<POSPrinter.ClearOutput()\r\n"},
      {"short keeps its comma", [](CStdioFile* f) { OnMethod(f, "S", "M", 0, VTS_I2 VTS_I4, 3, 4L); },
       ">S.M(,4 (0x00000004))\r\n"},
      {"int passed for a long", [](CStdioFile* f) { OnMethod(f, "S", "M", 0, VTS_I4, -2); },
       ">S.M(-2 (0xfffffffe))\r\n"},
      {"unknown bytes take nothing",
       [](CStdioFile* f) { OnMethod(f, "S", "M", 0, "\x01" VTS_I4 "\x0f" VTS_BOOL, 9L, 1); },
       ">S.M(,9 (0x00000009),,TRUE)\r\n"},
      {"silent types keep their place",
       [&](CStdioFile* f) {
         OnMethod(f, "S", "M", 0, VTS_R4 VTS_R8 VTS_CY VTS_DATE VTS_DISPATCH VTS_SCODE VTS_VARIANT VTS_UNKNOWN VTS_I4,
                  1.0, 2.0, &cy, 3.0, nullptr, 5, nullptr, nullptr, 6L);
       },
       ">S.M(,,,,,,,,6 (0x00000006))\r\n"},
      {"silent references",
       [&](CStdioFile* f) {
         OnMethod(f, "S", "M", 0,
                  VTS_PI2 VTS_PR4 VTS_PR8 VTS_PCY VTS_PDATE VTS_PDISPATCH VTS_PSCODE VTS_PBOOL VTS_PVARIANT
                      VTS_PUNKNOWN VTS_BOOL,
                  &seven, &real, &real, &cy, &real, nullptr, &seven, &seven, nullptr, nullptr, 0);
       },
       ">S.M(,,,,,,,,,,FALSE)\r\n"},
      {"strings escaped",
       [](CStdioFile* f) { OnMethod(f, "S", "M", 0, VTS_BSTR VTS_WBSTR, "x\ty", u"\u00e9\n"); },
       ">S.M(\"x\\x09y\",\"\\xc3\\xa9\\x0a\")\r\n"},
      {"null strings",
       [&](CStdioFile* f) {
         OnMethod(f, "S", "M", 0, VTS_BSTR VTS_WBSTR VTS_PBSTR, static_cast<const char*>(nullptr),
                  static_cast<const OLECHAR*>(nullptr), &null_bstr);
       },
       ">S.M(\"\",\"\",[\"\"])\r\n"},
      {"null references give nothing",
       [](CStdioFile* f) { OnMethod(f, "S", "M", 0, VTS_PI4 VTS_PBSTR, static_cast<long*>(nullptr), static_cast<BSTR*>(nullptr)); },
       ">S.M(,)\r\n"},
      // A line feed inside a string by reference must not split the record.
      {"string by reference escaped", [&](CStdioFile* f) { OnMethod(f, "S", "M", 0, VTS_PBSTR, &two_lines); },
       ">S.M([\"a\\x0ab\"])\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Traced(c.write), c.text);
  }
  SysFreeString(service);
  SysFreeString(two_lines);
}

TEST_F(TraceRecordsTest, ResultRecordsNameTheResult) {
  const std::pair<long, std::string> cases[] = {
      {0, "OPOS_SUCCESS"},     {101, "OPOS_E_CLOSED"},  {106, "OPOS_E_ILLEGAL"}, {111, "OPOS_E_FAILURE"},
      {114, "OPOS_E_EXTENDED"}, {100, "(Unknown)"},     {115, "(Unknown)"},      {-1, "(Unknown)"},
  };
  for (const auto& [result, name] : cases) {
    SCOPED_TRACE(result);
    const long code = result;
    EXPECT_EQ(Traced([code](CStdioFile* f) { PutResultCode(f, "POSPrinter", code, 10002); }),
              "<POSPrinter.ResultCode:" + name +
                  "\r\n<POSPrinter.ResultCodeExtended:10002 (0x00002712)\r\n");
  }
}

// Records go after what the file held, on a line of their own even when a
// writer that was killed left the last line without its end.
TEST_F(TraceRecordsTest, RecordsFollowExistingContents) {
  auto write = [](CStdioFile* f) { OnGetProp(f, "S", "P", 1); };
  EXPECT_EQ(Traced(write, "earlier\r\n"), "earlier\r\nS.P:TRUE\r\n");
  EXPECT_EQ(Traced(write, "S.P:\"torn"), "S.P:\"torn\r\nS.P:TRUE\r\n");
}

TEST_F(TraceRecordsTest, NullHandlesAndClosedFilesWriteNothing) {
  CStdioFile* none = nullptr;
  OnGetProp(none, "S", "P", 1);
  OnMethod(none, "S", "M", 0, VTS_I4, 1L);
  PutResultCode(none, "S", 0, 0);
  CloseTrace(none);
  EXPECT_EQ(none, nullptr);

  const std::string path = DriveC() + "/closed.log";
  CStdioFile closed;
  ASSERT_TRUE(closed.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
  closed.Close();
  OnSetProp(&closed, "S", "P", 5L);
  OnMethod(&closed, "S", "M", 0, VTS_BSTR, "x");
  PutResultCode(&closed, "S", 0, 0);
  EXPECT_EQ(Contents(path), "");
}

}  // namespace
