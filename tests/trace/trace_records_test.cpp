// Trace records, read back from the file byte for byte.
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include <opossvc/afx/dispatch_driver.h>
#include <opossvc/testing/temp_registry.h>
#include <opossvc/trace.h>

namespace {

class TraceRecordsTest : public ::testing::Test {
 protected:
  std::string path() const { return registry_.root() + "/records.log"; }

  // The bytes that `write` leaves in a fresh private trace file.
  std::string Traced(const std::function<void(CStdioFile*)>& write) {
    std::filesystem::remove(path());
    CStdioFile* file = OpenTrace(path().c_str());
    EXPECT_NE(file, nullptr);
    write(file);
    CloseTrace(file);
    EXPECT_EQ(file, nullptr);
    std::ifstream in(path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  opossvc::testing::TempRegistry registry_;
};

CY Currency(LONGLONG count) {
  CY value;
  value.int64 = count;
  return value;
}

TEST_F(TraceRecordsTest, PropertyRecords) {
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
  long seven = 7;
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
      {"direction 1",
       [&](CStdioFile* f) { OnMethod(f, "POSPrinter", "DirectIO", 1, VTS_I4 VTS_PI4 VTS_PBSTR, 5L, &seven, &service); },
       "<POSPrinter.DirectIO(5 (0x00000005),[7 (0x00000007)],[\"Service\"])\r\n"},
      {"no types", [](CStdioFile* f) { OnMethod(f, "POSPrinter", "ClearOutput", 0, nullptr); },
       ">POSPrinter.ClearOutput()\r\n"},
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
  struct Case {
    long result;
    const char* name;
  } cases[] = {
      {0, "OPOS_SUCCESS"},       {101, "OPOS_E_CLOSED"},     {102, "OPOS_E_CLAIMED"},
      {103, "OPOS_E_NOTCLAIMED"}, {104, "OPOS_E_NOSERVICE"},  {105, "OPOS_E_DISABLED"},
      {106, "OPOS_E_ILLEGAL"},   {107, "OPOS_E_NOHARDWARE"}, {108, "OPOS_E_OFFLINE"},
      {109, "OPOS_E_NOEXIST"},   {110, "OPOS_E_EXISTS"},     {111, "OPOS_E_FAILURE"},
      {112, "OPOS_E_TIMEOUT"},   {113, "OPOS_E_BUSY"},       {114, "OPOS_E_EXTENDED"},
      {50, "(Unknown)"},         {-1, "(Unknown)"},          {115, "(Unknown)"},
      {1, "(Unknown)"},          {100, "(Unknown)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    EXPECT_EQ(Traced([&](CStdioFile* f) { PutResultCode(f, "POSPrinter", c.result, 10002); }),
              std::string("<POSPrinter.ResultCode:") + c.name +
                  "\r\n<POSPrinter.ResultCodeExtended:10002 (0x00002712)\r\n");
  }
}

TEST_F(TraceRecordsTest, RecordsFollowExistingContents) {
  std::ofstream(path(), std::ios::binary) << "earlier\r\n";
  CStdioFile* file = OpenTrace(path().c_str());
  ASSERT_NE(file, nullptr);
  OnGetProp(file, "S", "P", 1);
  CloseTrace(file);
  std::ifstream in(path(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "earlier\r\nS.P:TRUE\r\n");
}

TEST_F(TraceRecordsTest, NullHandlesAndClosedFilesWriteNothing) {
  CStdioFile* none = nullptr;
  OnGetProp(none, "S", "P", 1);
  OnMethod(none, "S", "M", 0, VTS_I4, 1L);
  PutResultCode(none, "S", 0, 0);
  CloseTrace(none);
  EXPECT_EQ(none, nullptr);

  CStdioFile closed;
  ASSERT_TRUE(closed.Open(path().c_str(), CFile::modeCreate | CFile::modeWrite));
  closed.Close();
  OnSetProp(&closed, "S", "P", 5L);
  OnMethod(&closed, "S", "M", 0, VTS_BSTR, "x");
  PutResultCode(&closed, "S", 0, 0);
  EXPECT_EQ(std::filesystem::file_size(path()), 0u);
}

}  // namespace
