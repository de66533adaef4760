// Trace files and records: private files, the shared file's location and
// its user count, concurrent users; records read back byte for byte.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/dispatch_driver.h>
#include <opossvc/opos.h>
#include <opossvc/testing/temp_registry.h>
#include <opossvc/trace.h>
#include <opossvc/win32/codepage.h>

#include "tests/support/scratch_folder.h"

namespace {

const std::string kMakerKey = "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON";

class TraceTest : public ::testing::Test {
 protected:
  // The shared file is in the test's folder unless a test moves it.
  void SetUp() override {
    std::filesystem::create_directories(At("Temp"));
    SetConfig("OposDir", At(""));
  }

  // A file in the test's folder, named as the configuration names it too.
  std::string At(const std::string& name) const { return files_.PathOf(name); }

  void SetConfig(const std::string& name, const std::string& value,
                 const std::string& configuration = "VANTA1.6") {
    const std::string key = kMakerKey + "\\" + configuration;
    ASSERT_EQ(registry_.SetString(HKEY_LOCAL_MACHINE, key, name, value), ERROR_SUCCESS);
  }

  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Whether some other writer could open the file now (the trace keeps them
  // out while open; Windows lets readers in).
  static bool HeldOpen(const std::string& path) {
    CStdioFile probe;
    if (probe.Open(path.c_str(), CFile::modeWrite | CFile::shareDenyNone)) return false;
    return GetLastError() == ERROR_SHARING_VIOLATION;
  }

  // The bytes that `write` leaves in a new private trace file.
  std::string Traced(const std::function<void(CStdioFile*)>& write) {
    const std::string path = At("records.log");
    std::filesystem::remove(path);
    CStdioFile* file = OpenTrace(path.c_str());
    EXPECT_NE(file, nullptr);
    write(file);
    CloseTrace(file);
    EXPECT_EQ(file, nullptr);
    return Contents(path);
  }

  opossvc::testing::TempRegistry registry_;
  opossvc::test_support::ScratchFolder files_;
};

TEST_F(TraceTest, SharedFileLocationComesFromTheConfiguration) {
  // PrimaryConfig is always set; when it names a sub-key, VANTA1.6 holds a
  // DebugTrace that must be ignored.
  // PrimaryConfig, DebugTrace and OposDir in the configuration used, the file in the folder.
  const std::tuple<const char*, std::string, std::optional<std::string>, std::optional<std::string>,
                   std::string>
      cases[] = {
          {"DebugTrace", "", At("Temp/my.log"), At("Ignored"), "Temp/my.log"},
          {"OposDir", "", {}, At("Temp"), "Temp/OPOSAPI.LOG"},
          {"empty DebugTrace", "", "", At("Temp"), "Temp/OPOSAPI.LOG"},
          {"PrimaryConfig", "Cfg2", At("Temp/cfg2.log"), {}, "Temp/cfg2.log"},
      };
  for (const auto& [name, primary, debug_trace, opos_dir, file] : cases) {
    SCOPED_TRACE(name);
    const std::string configuration = primary.empty() ? "VANTA1.6" : primary;
    ASSERT_EQ(registry_.SetString(HKEY_LOCAL_MACHINE, kMakerKey, "PrimaryConfig", primary),
              ERROR_SUCCESS);
    if (!primary.empty()) SetConfig("DebugTrace", At("Temp/default.log"));
    if (debug_trace) SetConfig("DebugTrace", *debug_trace, configuration);
    if (opos_dir) SetConfig("OposDir", *opos_dir, configuration);
    CStdioFile* trace = OpenTrace("");
    ASSERT_NE(trace, nullptr);
    OnSetProp(trace, "S", name, 1L);
    CloseTrace(trace);
    std::string path = At(file);
    EXPECT_EQ(Contents(path), std::string("S.") + name + "=1 (0x00000001)\r\n");
    std::filesystem::remove(path);
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, kMakerKey.c_str()), ERROR_SUCCESS);
  }
}

// Without settings, and with drive C: by its letter, the shared file is at
// the root of drive C:.
TEST_F(TraceTest, SharedFileDefaultsToTheRootOfDriveC) {
  std::filesystem::create_directories(registry_.root() + "/drive_c");
  for (const char* opos_dir : {"", "C:"}) {
    SetConfig("OposDir", opos_dir);
    CStdioFile* trace = OpenTrace("");
    ASSERT_NE(trace, nullptr);
    EXPECT_TRUE(HeldOpen(registry_.root() + "/drive_c/OPOSAPI.LOG")) << opos_dir;
    CloseTrace(trace);
  }
}

// The path is read again only when the file opens anew.
TEST_F(TraceTest, UserCountDecidesWhenTheSharedFileCloses) {
  SetConfig("DebugTrace", At("Missing/a.log"));
  EXPECT_EQ(OpenTrace(""), nullptr);
  CStdioFile* none = OpenTrace("");
  EXPECT_EQ(none, nullptr) << "failed opens count no user, the next one tries again";
  OnMethod(none, "S", "M", 0, VTS_I4, 1L);  // a null handle writes nothing
  PutResultCode(none, "S", 0, 0);
  CloseTrace(none);
  std::filesystem::create_directories(At("Missing"));
  const std::string a = At("Missing/a.log"), b = At("Missing/b.log");
  CStdioFile* first = OpenTrace("");
  SetConfig("DebugTrace", b);
  CStdioFile* second = OpenTrace("");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  CStdioFile* first_copy = first;
  CloseTrace(first);
  EXPECT_TRUE(HeldOpen(a));
  OnGetProp(second, "S", "StillOpen", 1);
  CloseTrace(second);
  EXPECT_FALSE(HeldOpen(a));
  OnGetProp(first_copy, "S", "AfterClose", 1);  // a closed file takes nothing
  CloseTrace(first_copy);  // closing more often than opening must not leave the count below zero
  CStdioFile* again = OpenTrace("");
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(HeldOpen(b));
  CloseTrace(again);
  EXPECT_FALSE(HeldOpen(b));
  EXPECT_EQ(Contents(a), "S.StillOpen:TRUE\r\n");
}

TEST_F(TraceTest, PrivateFilesAreExclusiveAndIndependentOfTheSharedOne) {
  const std::string path = At("private.log");
  CStdioFile* mine = OpenTrace(path.c_str());
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(OpenTrace(path.c_str()), nullptr);
  EXPECT_EQ(OpenTrace(At("Temp/../private.log").c_str()), nullptr);  // another spelling
  CStdioFile* shared = OpenTrace("");
  ASSERT_NE(shared, nullptr);
  EXPECT_NE(shared, mine);
  CloseTrace(mine);
  EXPECT_FALSE(HeldOpen(path));
  EXPECT_TRUE(HeldOpen(At("OPOSAPI.LOG")));
  CloseTrace(shared);
  EXPECT_FALSE(HeldOpen(At("OPOSAPI.LOG")));
}

// Threads that open, trace and close at once: no open fails, no count is
// lost (the file ends closed), and every record is whole, the two result
// lines together.
TEST_F(TraceTest, ConcurrentUsersShareOneFile) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      const std::string object = "Thread" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        CStdioFile* trace = OpenTrace("");
        failures += trace == nullptr;
        OnSetProp(trace, object.c_str(), "Round", static_cast<long>(i));
        PutResultCode(trace, object.c_str(), 0, i);
        CloseTrace(trace);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  const std::string path = At("OPOSAPI.LOG");
  EXPECT_FALSE(HeldOpen(path));
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

std::string Repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

CY Currency(LONGLONG count) {
  CY value;
  value.int64 = count;
  return value;
}

TEST_F(TraceTest, PropertyAndResultRecords) {
  // Members as a service object written for Windows declares them: a LONG
  // traces as a number, a BOOL as a boolean.
  struct {
    LONG m_lResultCode = OPOS_E_ILLEGAL;
    BOOL m_bAsyncMode = TRUE;
  } so;
  EXPECT_EQ(Traced([&](CStdioFile* f) {
              OnGetProp(f, "S", "ResultCode", so.m_lResultCode);
              OnGetProp(f, "S", "AsyncMode", so.m_bAsyncMode);
              OnSetProp(f, "S", "FreezeEvents", 0);
              OnSetProp(f, "S", "RecLineSpacing", -1L);
              OnGetProp(f, "S", "N", static_cast<long>(0x100000002));  // a long: 32 bits
              OnSetProp(f, "S", "V", Currency(-1));
              OnGetProp(f, "S", "DeviceName", "POSPrinter", 0);  // up to the NUL
              OnSetProp(f, "S", "P", "A\rB", 4);                 // a length: the NUL too
              OnGetProp(f, "S", "P", "\xc3\xa9\x7f~", -1);       // high bytes and DEL escaped
              OnGetProp(f, "S", "P", "a\"b\\c", 0);              // quotes, backslashes as they are
              OnGetProp(f, "S", "P", static_cast<const char*>(nullptr), 5);
              OnGetProp(f, "S\nT", "Long", std::string(300, '\x01').c_str(), 0);  // a name's LF too
            }),
            "S.ResultCode:106 (0x0000006a)\r\n"
            "S.AsyncMode:TRUE\r\n"
            "S.FreezeEvents=FALSE\r\n"
            "S.RecLineSpacing=-1 (0xffffffff)\r\n"
            "S.N:2 (0x00000002)\r\n"
            "S.V=Hi = -1, Lo = -1 (Hi = 0xffffffff, Lo = 0xffffffff)\r\n"
            "S.DeviceName:\"POSPrinter\"\r\n"
            "S.P=\"A\\x0dB\\x00\"\r\n"
            "S.P:\"\\xc3\\xa9\\x7f~\"\r\n"
            "S.P:\"a\"b\\c\"\r\n"
            "S.P:\"\"\r\n"
            "S\r\nT.Long:\"" + Repeated("\\x01", 300) + "\"\r\n");
  // Result records name the result.
  EXPECT_EQ(Traced([](CStdioFile* f) {
              for (long code : {0L, 114L, 115L}) PutResultCode(f, "P", code, 10002);
            }),
            "<P.ResultCode:OPOS_SUCCESS\r\n<P.ResultCodeExtended:10002 (0x00002712)\r\n"
            "<P.ResultCode:OPOS_E_EXTENDED\r\n<P.ResultCodeExtended:10002 (0x00002712)\r\n"
            "<P.ResultCode:(Unknown)\r\n<P.ResultCodeExtended:10002 (0x00002712)\r\n");
}

TEST_F(TraceTest, MethodRecordsForEveryParameterType) {
  BSTR service = SysAllocString(OLESTR("Service"));
  BSTR two_lines = SysAllocString(OLESTR("a\nb"));
  BSTR null_bstr = nullptr;
  BSTR long_text = SysAllocString(std::basic_string<OLECHAR>(600, OLECHAR{0x7f}).c_str());
  LONG seven = 7;  // a service object's LONG, as VTS_PI4 is given one
  CY cy = Currency(1);
  double real = 1.5;
  // Wide text is traced in the ANSI code page (UTF-8 or 1252 here).
  const std::string e_acute = GetACP() == CP_UTF8 ? "\\xc3\\xa9" : "\\xe9";
  EXPECT_EQ(
      Traced([&](CStdioFile* f) {
        OnMethod(f, "POSPrinter", "DirectIO", 0, VTS_I4 VTS_PI4 VTS_PBSTR, 5L, &seven, &service);
        OnMethod(f, "POSPrinter", "ClearOutput", 1, nullptr);
        OnMethod(f, "S", "M", 0, VTS_I2 VTS_I4, 3, 4L);              // a short keeps its comma
        OnMethod(f, "S", "M", 0, VTS_I4, -2);                        // an int passed for a long
        OnMethod(f, "S", "M", 0, "\x01" VTS_I4 "\x0f" VTS_BOOL, 9L, 1);  // unknown bytes: nothing
        // Types that are not traced keep their place and take their argument.
        OnMethod(f, "S", "M", 0,
                 VTS_R4 VTS_R8 VTS_CY VTS_DATE VTS_DISPATCH VTS_SCODE VTS_VARIANT VTS_UNKNOWN
                     VTS_I4,
                 1.0, 2.0, &cy, 3.0, nullptr, 5, nullptr, nullptr, 6L);
        OnMethod(f, "S", "M", 0,
                 VTS_PI2 VTS_PR4 VTS_PR8 VTS_PCY VTS_PDATE VTS_PDISPATCH VTS_PSCODE VTS_PBOOL
                     VTS_PVARIANT VTS_PUNKNOWN VTS_BOOL,
                 &seven, &real, &real, &cy, &real, nullptr, &seven, &seven, nullptr, nullptr, 0);
        OnMethod(f, "S", "M", 0, VTS_BSTR VTS_WBSTR, "x\ty", OLESTR("\u00e9\n"));
        OnMethod(f, "S", "M", 0, VTS_BSTR VTS_WBSTR VTS_PBSTR, static_cast<const char*>(nullptr),
                 static_cast<const OLECHAR*>(nullptr), &null_bstr);
        OnMethod(f, "S", "M", 0, VTS_PI4 VTS_PBSTR, static_cast<long*>(nullptr),
                 static_cast<BSTR*>(nullptr));
        OnMethod(f, "S", "M", 0, VTS_PBSTR, &two_lines);  // a line feed must not split the record
        OnMethod(f, "S", "M", 0, VTS_PBSTR, &long_text);
      }),
      ">POSPrinter.DirectIO(5 (0x00000005),[7 (0x00000007)],[\"Service\"])\r\n"
      "<POSPrinter.ClearOutput()\r\n"
      ">S.M(,4 (0x00000004))\r\n"
      ">S.M(-2 (0xfffffffe))\r\n"
      ">S.M(,9 (0x00000009),,TRUE)\r\n"
      ">S.M(,,,,,,,,6 (0x00000006))\r\n"
      ">S.M(,,,,,,,,,,FALSE)\r\n"
      ">S.M(\"x\\x09y\",\"" + e_acute + "\\x0a\")\r\n"
      ">S.M(\"\",\"\",[\"\"])\r\n"
      ">S.M(,)\r\n"
      ">S.M([\"a\\x0ab\"])\r\n"
      ">S.M([\"" + Repeated("\\x7f", 600) + "\"])\r\n");
  SysFreeString(long_text);
  SysFreeString(service);
  SysFreeString(two_lines);
}

}  // namespace
