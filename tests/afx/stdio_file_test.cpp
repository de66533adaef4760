// CFile/CStdioFile: text translation, line reading, share modes across
// opens and processes, appending, errors.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/stdiofile.h>
#include <opossvc/testing/temp_registry.h>

namespace {

class StdioFileTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(registry_.root() + "/drive_c"); }

  // A POSIX path inside the test's own folder.
  std::string PathOf(const std::string& name) const { return registry_.root() + "/" + name; }

  std::string Contents(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(PathOf(name), std::ios::binary) << bytes;
  }

  opossvc::testing::TempRegistry registry_;
};

TEST_F(StdioFileTest, TextModeTranslatesLineEndsBothWaysAndBinaryModeNeither) {
  struct Case {
    const char* written;
    UINT type;
    const char* in_file;
  } cases[] = {
      {"a\nb\n", 0, "a\r\nb\r\n"},
      {"no newline", 0, "no newline"},
      {"\n\n", 0, "\r\n\r\n"},
      {"cr\rkept\n", 0, "cr\rkept\r\n"},
      {"a\nb\r\n", CFile::typeBinary, "a\nb\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    {
      CStdioFile file;
      ASSERT_TRUE(file.Open(PathOf("t.txt").c_str(), CFile::modeCreate | CFile::modeWrite | c.type));
      file.WriteString(c.written);
    }
    EXPECT_EQ(Contents("t.txt"), c.in_file);
    CStdioFile file(PathOf("t.txt").c_str(), CFile::modeRead | c.type);
    char buffer[64] = {};
    UINT read = file.Read(buffer, sizeof(buffer));
    EXPECT_EQ(std::string(buffer, read), c.written);
  }
}

TEST_F(StdioFileTest, ReadStringGivesLinesUntilTheEnd) {
  const std::string long_line(2000, 'x');
  struct Case {
    const char* name;
    std::string file;
    UINT type;
    std::vector<std::string> lines;
  } cases[] = {
      {"text", std::string("one\r\n\r\ntwo\0zero\r\n", 17) + long_line + "\r\nlast", 0,
       {"one", "", std::string("two\0zero", 8), long_line, "last"}},
      {"Ctrl-Z ends the text", "before\r\n\x1a" "after\r\n", 0, {"before"}},
      {"binary keeps CR", "a\nb\r\n", CFile::typeBinary, {"a", "b\r"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Put("lines.txt", c.file);
    CStdioFile file(PathOf("lines.txt").c_str(), CFile::modeRead | c.type);
    std::vector<std::string> lines;
    CString line;
    while (file.ReadString(line)) lines.emplace_back(line.GetString(), line.GetLength());
    EXPECT_EQ(lines, c.lines);
    EXPECT_TRUE(line.IsEmpty());
  }
  // The Ctrl-Z stays unread; past it, reading goes on.
  Put("lines.txt", "before\r\n\x1a" "after\r\n");
  CStdioFile file(PathOf("lines.txt").c_str(), CFile::modeRead);
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_FALSE(file.ReadString(line));
  EXPECT_EQ(file.GetPosition(), 8u);
  file.Seek(9, CFile::begin);
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_STREQ(line, "after");
}

TEST_F(StdioFileTest, ReadStringIntoBufferKeepsTheLineFeedAndTheLimit) {
  Put("short.txt", "abcdef\r\ngh");
  CStdioFile file(PathOf("short.txt").c_str(), CFile::modeRead);
  char buffer[5];
  for (const char* expected : {"abcd", "ef\n", "gh"}) {
    ASSERT_NE(file.ReadString(buffer, sizeof(buffer)), nullptr);
    EXPECT_STREQ(buffer, expected);
  }
  EXPECT_EQ(file.ReadString(buffer, sizeof(buffer)), nullptr);
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
  file.Seek(-2, CFile::current);
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_STREQ(line, "XY");
  EXPECT_EQ(file.GetLength(), 10u);
  file.Close();
  EXPECT_EQ(Contents("pos.txt"), "ab\r\nXY\r\nef");
}

TEST_F(StdioFileTest, CreationFlagsAndWindowsPaths) {
  Put("keep.txt", "old");
  {
    CStdioFile file(PathOf("keep.txt").c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite);
    file.SeekToEnd();
    file.WriteString("+new");
  }
  EXPECT_EQ(Contents("keep.txt"), "old+new");
  { CStdioFile file(PathOf("keep.txt").c_str(), CFile::modeCreate | CFile::modeWrite); }
  EXPECT_EQ(Contents("keep.txt"), "");
  // Windows paths are on their drive; a rooted one on drive C:.
  { CStdioFile file("C:\\on_c.txt", CFile::modeCreate | CFile::modeWrite); }
  { CStdioFile file("\\rooted.txt", CFile::modeCreate | CFile::modeWrite); }
  EXPECT_TRUE(std::filesystem::exists(PathOf("drive_c/on_c.txt")));
  EXPECT_TRUE(std::filesystem::exists(PathOf("drive_c/rooted.txt")));
}

TEST_F(StdioFileTest, OpenFailuresNameTheirCause) {
  struct Case {
    std::string path;
    UINT flags;
    int cause;
    LONG os_error;
  } cases[] = {
      {PathOf("none/x.txt"), CFile::modeCreate | CFile::modeWrite, CFileException::badPath, ERROR_PATH_NOT_FOUND},
      {PathOf("absent.txt"), CFile::modeWrite, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND},
      {PathOf("drive_c"), CFile::modeRead, CFileException::accessDenied, ERROR_ACCESS_DENIED},
      {"Q:\\unmapped.txt", CFile::modeCreate | CFile::modeWrite, CFileException::badPath, ERROR_PATH_NOT_FOUND},
      {"", CFile::modeRead, CFileException::badPath, ERROR_PATH_NOT_FOUND},
      {PathOf("x.txt"), CFile::modeWrite | CFile::modeReadWrite | CFile::modeCreate, CFileException::genericException,
       ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    CStdioFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(c.path.c_str(), c.flags, &error));
    EXPECT_EQ(error.m_cause, c.cause);
    EXPECT_EQ(error.m_lOsError, c.os_error);
    EXPECT_EQ(static_cast<LONG>(GetLastError()), c.os_error);
    EXPECT_EQ(file.m_hFile, CFile::hFileNull);
    EXPECT_EQ(file.m_pStream, nullptr);
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf("absent.txt")));
  EXPECT_FALSE(std::filesystem::exists(PathOf("x.txt")));
}

TEST_F(StdioFileTest, ShareModesHoldBetweenOpensAndProcessesAndRefusedOpensDoNotTruncate) {
  const UINT read = CFile::modeRead, write = CFile::modeWrite, both = CFile::modeReadWrite;
  struct Case {
    UINT first;
    UINT second;
    bool second_opens;
  } cases[] = {
      {write | CFile::shareExclusive, read | CFile::shareDenyNone, false},
      {read | CFile::shareDenyNone, write | CFile::shareExclusive, false},
      {read | CFile::shareDenyWrite, read | CFile::shareDenyWrite, true},
      {read | CFile::shareDenyWrite, write | CFile::shareDenyNone, false},
      {write | CFile::shareDenyNone, read | CFile::shareDenyWrite, false},
      {read | CFile::shareDenyRead, read | CFile::shareDenyNone, false},
      {read | CFile::shareDenyRead, write | CFile::shareDenyNone, true},
      {both | CFile::shareDenyNone, both | CFile::shareDenyNone, true},
      {write | CFile::shareCompat, write | CFile::shareDenyNone, false},
  };
  Put("shared.txt", "contents");
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.first << " then " << c.second);
    CStdioFile first;
    ASSERT_TRUE(first.Open(PathOf("shared.txt").c_str(), c.first));
    CStdioFile second;
    CFileException error;
    EXPECT_EQ(second.Open(PathOf("shared.txt").c_str(), c.second, &error), c.second_opens);
    if (!c.second_opens) {
      EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
    }
  }
  // A refused open does not truncate, in this process or another.
  CStdioFile exclusive(PathOf("shared.txt").c_str(), read | CFile::shareDenyWrite);
  CStdioFile truncating;
  EXPECT_FALSE(truncating.Open(PathOf("shared.txt").c_str(), CFile::modeCreate | CFile::modeWrite));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CStdioFile other;
    CFileException error;
    bool opened = other.Open(PathOf("shared.txt").c_str(), CFile::modeCreate | write | CFile::shareDenyNone, &error);
    _exit(!opened && error.m_cause == CFileException::sharingViolation ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Contents("shared.txt"), "contents");
  // Closing the first open admits the second again.
  exclusive.Close();
  CStdioFile after;
  EXPECT_TRUE(after.Open(PathOf("shared.txt").c_str(), write | CFile::shareExclusive));
}

TEST_F(StdioFileTest, AppendingAfterSeekToEndNeverOverwritesAnotherWriter) {
  CStdioFile first(PathOf("log.txt").c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone);
  CStdioFile second(PathOf("log.txt").c_str(),
                    CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite | CFile::shareDenyNone);
  first.SeekToEnd();
  second.SeekToEnd();
  first.WriteString("one\n");
  second.WriteString("two\n");
  first.WriteString("three\n");
  first.Close();
  second.Close();
  EXPECT_EQ(Contents("log.txt"), "one\r\ntwo\r\nthree\r\n");
}

TEST_F(StdioFileTest, ConcurrentWritersLeaveWholeRecords) {
  constexpr int kThreads = 4;
  constexpr int kRecords = 500;
  CStdioFile file(PathOf("many.txt").c_str(), CFile::modeCreate | CFile::modeWrite);
  file.SeekToEnd();
  auto record_of = [](int t) {
    return "thread " + std::to_string(t) + " " + std::string(100, static_cast<char>('a' + t)) +
           "\nsecond line of " + std::to_string(t) + "\n";
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&file, &record_of, t] {
      const std::string record = record_of(t);
      for (int i = 0; i < kRecords; ++i) file.WriteString(record.c_str());
    });
  }
  for (std::thread& thread : threads) thread.join();
  file.Close();
  // Each record whole: its two lines together, neither cut into.
  CStdioFile in(PathOf("many.txt").c_str(), CFile::modeRead);
  CString first, second;
  int records = 0;
  while (in.ReadString(first)) {
    ASSERT_TRUE(in.ReadString(second));
    const int t = first.GetLength() > 7 ? first[7] - '0' : -1;
    ASSERT_TRUE(t >= 0 && t < kThreads) << first;
    ASSERT_EQ(first + "\n" + second + "\n", record_of(t).c_str()) << records;
    ++records;
  }
  EXPECT_EQ(records, kThreads * kRecords);
}

TEST_F(StdioFileTest, StreamGoesThroughTheFile) {
  {
    CStdioFile file(PathOf("stream.txt").c_str(), CFile::modeCreate | CFile::modeReadWrite);
    ASSERT_NE(file.m_pStream, nullptr);
    std::fprintf(file.m_pStream, "n=%d\n", 42);
    file.WriteString("after\n");
    file.SeekToBegin();
    char buffer[16];
    ASSERT_NE(std::fgets(buffer, sizeof(buffer), file.m_pStream), nullptr);
    EXPECT_STREQ(buffer, "n=42\n");
  }
  EXPECT_EQ(Contents("stream.txt"), "n=42\r\nafter\r\n");
}

TEST_F(StdioFileTest, WrongAccessAndClosedFilesThrow) {
  Put("ro.txt", "x");
  CStdioFile reader(PathOf("ro.txt").c_str(), CFile::modeRead);
  auto cause_of = [](auto&& operation) -> int {
    try {
      operation();
    } catch (CFileException* e) {
      int cause = e->m_cause;
      e->Delete();
      return cause;
    }
    return CFileException::none;
  };
  EXPECT_EQ(cause_of([&] { reader.WriteString("y"); }), CFileException::accessDenied);
  CStdioFile writer(PathOf("wo.txt").c_str(), CFile::modeCreate | CFile::modeWrite);
  char buffer[4];
  EXPECT_EQ(cause_of([&] { writer.Read(buffer, sizeof(buffer)); }), CFileException::accessDenied);
  writer.Close();
  EXPECT_EQ(cause_of([&] { writer.WriteString("z"); }), CFileException::invalidFile);
  EXPECT_EQ(cause_of([&] { reader.Seek(-5, CFile::begin); }), CFileException::badSeek);
  writer.Close();  // closing twice is harmless
  EXPECT_EQ(Contents("ro.txt"), "x");
}

}  // namespace
