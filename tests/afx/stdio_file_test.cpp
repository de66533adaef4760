// CFile/CStdioFile: text translation, line reading, share modes across
// opens and processes, appending, errors.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/stdiofile.h>
#include <opossvc/testing/temp_registry.h>

#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"

namespace {

constexpr UINT kRead = CFile::modeRead, kWrite = CFile::modeWrite, kCreate = CFile::modeCreate;

class StdioFileTest : public ::testing::Test {
 protected:
  // A path inside the test's own folder.
  std::string PathOf(const std::string& name) const { return folder_.PathOf(name); }
  std::string Contents(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(PathOf(name), std::ios::binary) << bytes;
  }

  opossvc::testing::TempRegistry registry_;
  opossvc::test_support::ScratchFolder folder_;
};

TEST_F(StdioFileTest, TextModeTranslatesLineEndsBothWaysAndBinaryModeNeither) {
  const struct {
    const char* written;
    UINT type;
    const char* in_file;
  } cases[] = {
      {"a\nb\n", 0, "a\r\nb\r\n"},
      {"\n\n", 0, "\r\n\r\n"},
      {"cr\rkept\n", 0, "cr\rkept\r\n"},
      {"a\nb\r\n", CFile::typeBinary, "a\nb\r\n"},
  };
  for (const auto& c : cases) {
    {
      CStdioFile file;
      ASSERT_TRUE(file.Open(PathOf("t.txt").c_str(), kCreate | kWrite | c.type));
      file.WriteString(c.written);
    }
    EXPECT_EQ(Contents("t.txt"), c.in_file);
    CStdioFile file(PathOf("t.txt").c_str(), kRead | c.type);
    char buffer[64] = {};
    EXPECT_EQ(std::string(buffer, file.Read(buffer, sizeof(buffer))), c.written);
  }
}

TEST_F(StdioFileTest, ReadStringGivesLinesUntilTheEnd) {
  const std::string long_line(2000, 'x');
  const struct {
    std::string file;
    UINT type;
    std::vector<std::string> lines;
  } cases[] = {
      {std::string("one\r\n\r\ntwo\0zero\r\n", 17) + long_line + "\r\nlast", 0,
       {"one", "", std::string("two\0zero", 8), long_line, "last"}},
      {"a\nb\r\n", CFile::typeBinary, {"a", "b\r"}},        // binary keeps CR
      {"before\r\n\x1a" "after\r\n", 0, {"before"}},  // Ctrl-Z ends the text
  };
  for (const auto& c : cases) {
    Put("lines.txt", c.file);
    CStdioFile file(PathOf("lines.txt").c_str(), kRead | c.type);
    std::vector<std::string> lines;
    CString line;
    while (file.ReadString(line)) lines.emplace_back(line.GetString(), line.GetLength());
    EXPECT_EQ(lines, c.lines);
    EXPECT_TRUE(line.IsEmpty());
  }
}

TEST_F(StdioFileTest, PositionCountsBytesOfTheFileDespiteReadAhead) {
  Put("pos.txt", "ab\r\ncd\r\nef");
  CStdioFile file(PathOf("pos.txt").c_str(), CFile::modeReadWrite);
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(file.GetPosition(), 4u);
  // A write after a read goes where the reading stopped.
  file.WriteString("XY");
  EXPECT_EQ(file.GetPosition(), 6u);
  EXPECT_EQ(file.GetLength(), 10u);
  file.Close();
  EXPECT_EQ(Contents("pos.txt"), "ab\r\nXY\r\nef");
}

TEST_F(StdioFileTest, CreationFlags) {
  Put("keep.txt", "old");
  {
    CStdioFile file(PathOf("keep.txt").c_str(), kCreate | CFile::modeNoTruncate | kWrite);
    file.SeekToEnd();
    file.WriteString("+new");
  }
  EXPECT_EQ(Contents("keep.txt"), "old+new");
  { CStdioFile file(PathOf("keep.txt").c_str(), kCreate | kWrite); }
  EXPECT_EQ(Contents("keep.txt"), "");
}

TEST_F(StdioFileTest, OpenFailuresNameTheirCause) {
  const struct {
    std::string path;
    UINT flags;
    int cause;
    LONG os_error;
  } cases[] = {
      {PathOf("none/x.txt"), kCreate | kWrite, CFileException::badPath, ERROR_PATH_NOT_FOUND},
      {PathOf("absent.txt"), kWrite, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND},
      {PathOf("."), kRead, CFileException::accessDenied, ERROR_ACCESS_DENIED},  // a folder
      {PathOf("x.txt"), kWrite | CFile::modeReadWrite | kCreate, CFileException::genericException,
       ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    CStdioFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(c.path.c_str(), c.flags, &error)) << c.path;
    EXPECT_EQ(error.m_cause, c.cause) << c.path;
    EXPECT_EQ(error.m_lOsError, c.os_error) << c.path;
    EXPECT_EQ(static_cast<LONG>(GetLastError()), c.os_error);
    EXPECT_EQ(file.m_hFile, CFile::hFileNull);
    EXPECT_EQ(file.m_pStream, nullptr);
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf("x.txt")));
}

// Another process's truncating open of args[0], which is held deny-write.
OPOSSVC_CHILD_ROLE(TruncatingOpenRefused) {
  CStdioFile other;
  CFileException error;
  checks.Expect(!other.Open(args[0].c_str(), kCreate | kWrite | CFile::shareDenyNone, &error),
                "opened");
  checks.ExpectCode(error.m_cause, CFileException::sharingViolation, "cause");
}

TEST_F(StdioFileTest, ShareModesHoldBetweenOpensAndProcessesAndRefusedOpensDoNotTruncate) {
  const struct {
    UINT first;
    UINT second;
    bool second_opens;
  } cases[] = {
      {kWrite | CFile::shareExclusive, kRead | CFile::shareDenyNone, false},
      {kRead | CFile::shareDenyWrite, kRead | CFile::shareDenyWrite, true},
      {kRead | CFile::shareDenyWrite, kWrite | CFile::shareDenyNone, false},
      {kRead | CFile::shareDenyRead, kRead | CFile::shareDenyNone, false},
      {kRead | CFile::shareDenyRead, kWrite | CFile::shareDenyNone, true},
      {kWrite | CFile::shareCompat, kWrite | CFile::shareDenyNone, false},
      {kWrite | CFile::shareDenyNone, kRead | CFile::shareDenyWrite, false},  // denies the first
      {kRead | CFile::shareDenyNone, kWrite | CFile::shareDenyRead, false},
  };
  const std::string path = PathOf("shared.txt");
  Put("shared.txt", "contents");
  for (const auto& c : cases) {
    CStdioFile first;
    ASSERT_TRUE(first.Open(path.c_str(), c.first));
    CStdioFile second;
    CFileException error;
    EXPECT_EQ(second.Open(path.c_str(), c.second, &error), c.second_opens) << c.first << c.second;
    EXPECT_EQ(error.m_cause,
              c.second_opens ? CFileException::none : CFileException::sharingViolation);
  }
  // A refused open does not truncate, in this process or another.
  CStdioFile exclusive(path.c_str(), kRead | CFile::shareDenyWrite);
  CStdioFile truncating;
  EXPECT_FALSE(truncating.Open(path.c_str(), kCreate | kWrite));
  EXPECT_EQ(opossvc::test_support::ChildProcess("TruncatingOpenRefused", {path}).Wait(), "");
  EXPECT_EQ(Contents("shared.txt"), "contents");
  // Closing the first open admits the second again.
  exclusive.Close();
  CStdioFile after;
  EXPECT_TRUE(after.Open(path.c_str(), kWrite | CFile::shareExclusive));
}

TEST_F(StdioFileTest, AppendingOpensNeverOverwriteOneAnother) {
  const UINT shared = kCreate | CFile::modeNoTruncate | kWrite | CFile::shareDenyNone;
  CStdioFile first(PathOf("log.txt").c_str(), shared);
  CStdioFile second(PathOf("log.txt").c_str(), shared);
  first.SeekToEnd();
  second.SeekToEnd();
  first.WriteString("one\n");
  second.WriteString("two\n");
  first.WriteString("three\n");
  first.Close();
  second.Close();
  EXPECT_EQ(Contents("log.txt"), "one\r\ntwo\r\nthree\r\n");
}
TEST_F(StdioFileTest, WrongAccessAndClosedFilesThrow) {
  Put("ro.txt", "x");
  CStdioFile reader(PathOf("ro.txt").c_str(), kRead);
  auto cause_of = [](auto&& operation) -> int {
    try {
      operation();
    } catch (CFileException* e) {
      const int cause = e->m_cause;
      e->Delete();
      return cause;
    }
    return CFileException::none;
  };
  EXPECT_EQ(cause_of([&] { reader.WriteString("y"); }), CFileException::accessDenied);
  CStdioFile writer(PathOf("wo.txt").c_str(), kCreate | kWrite);
  char buffer[4];
  EXPECT_EQ(cause_of([&] { writer.Read(buffer, sizeof(buffer)); }), CFileException::accessDenied);
  writer.Close();
  EXPECT_EQ(cause_of([&] { writer.WriteString("z"); }), CFileException::invalidFile);
  EXPECT_EQ(cause_of([&] { reader.Seek(-5, CFile::begin); }), CFileException::badSeek);
  writer.Close();  // closing twice is harmless
  reader.Close();  // it denied others everything
  EXPECT_EQ(Contents("ro.txt"), "x");
}

}  // namespace
