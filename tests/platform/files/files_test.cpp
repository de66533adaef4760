// CreateFileA and the calls on disk files.
#include <opossvc/win32/files.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>

#include "tests/support/comm_helpers.h"

namespace opossvc::testing {
namespace {

class FilesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return registry_.root() + "/" + name; }
  static void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string ReadText(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
  }
  static HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
  }

  TempRegistry registry_;
};

TEST_F(FilesTest, CreationDispositions) {
  const DWORD kOk = ERROR_SUCCESS, kExists = ERROR_ALREADY_EXISTS, kMissing = ERROR_FILE_NOT_FOUND,
              kBad = ERROR_INVALID_PARAMETER;
  // The last error after the call and the file's content afterwards (null:
  // no file), without a file and with one holding "old". The file opens
  // unless the error names a failure.
  const struct {
    DWORD disposition;
    DWORD error[2];
    const char* left[2];
  } cases[] = {
      {CREATE_NEW, {kOk, ERROR_FILE_EXISTS}, {"", "old"}},
      {CREATE_ALWAYS, {kOk, kExists}, {"", ""}},
      {OPEN_EXISTING, {kMissing, kOk}, {nullptr, "old"}},
      {OPEN_ALWAYS, {kOk, kExists}, {"", "old"}},
      {TRUNCATE_EXISTING, {kMissing, kOk}, {nullptr, ""}},
      {0, {kBad, kBad}, {nullptr, "old"}},
      {6, {kBad, kBad}, {nullptr, "old"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    for (int exists : {0, 1}) {
      const std::string path = Path("file" + std::to_string(n++));
      SCOPED_TRACE(path + " disposition " + std::to_string(c.disposition));
      if (exists) WriteText(path, "old");
      SetLastError(12345);
      HANDLE handle = Open(path, GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
      const DWORD error = c.error[exists];
      EXPECT_EQ(GetLastError(), error);
      EXPECT_EQ(handle == INVALID_HANDLE_VALUE, error != kOk && error != kExists);
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
      if (c.left[exists]) {
        EXPECT_EQ(ReadText(path), c.left[exists]);
      } else {
        EXPECT_NE(access(path.c_str(), F_OK), 0);
      }
    }
  }
  // Truncating needs write access.
  EXPECT_TRUE(
      Fails(Open(Path("file1"), GENERIC_READ, 0, TRUNCATE_EXISTING), ERROR_INVALID_PARAMETER));
}

TEST_F(FilesTest, ShareModesBetweenOpens) {
  const DWORD R = GENERIC_READ, W = GENERIC_WRITE;
  const DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE;
  const struct {
    DWORD first_access, first_share, second_access, second_share;
    bool second_opens;
  } cases[] = {
      {R, 0, R, SR | SW, false},
      {R, SR, R, SR, true},
      {R, SR, W, SR | SW, false},
      {W, SR | SW, R, SR, false},  // the second denies the writer already there
      {W, SR | SW, R, SR | SW, true},
      {R, SR | SW, W, SW, false},  // the second denies the reader already there
  };
  const std::string path = Path("shared");
  WriteText(path, "data");
  for (const auto& c : cases) {
    HANDLE first = Open(path, c.first_access, c.first_share, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    HANDLE second = Open(path, c.second_access, c.second_share, OPEN_EXISTING);
    if (c.second_opens) {
      EXPECT_NE(second, INVALID_HANDLE_VALUE) << c.first_share << " then " << c.second_share;
      CloseHandle(second);
    } else {
      EXPECT_TRUE(Fails(second, ERROR_SHARING_VIOLATION)) << c.first_share << " then "
                                                          << c.second_share;
    }
    CloseHandle(first);
  }
  // A refused CREATE_ALWAYS leaves the file as it was.
  HANDLE holder = Open(path, R, SR, OPEN_EXISTING);
  EXPECT_EQ(Open(path, W, SR, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  CloseHandle(holder);
  EXPECT_EQ(ReadText(path), "data");
}

TEST_F(FilesTest, ReadWriteSeekSizeAndAccess) {
  const std::string path = Path("rw");
  HANDLE handle = Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(handle, "hello world", 11, &done, nullptr));
  EXPECT_EQ(done, 11u);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(handle, &high), 11u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(SetFilePointer(handle, 6, nullptr, FILE_BEGIN), 6u);
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "world");
  ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 0u) << "end of file is no error";
  EXPECT_EQ(SetFilePointer(handle, -5, nullptr, FILE_END), 6u);
  EXPECT_EQ(SetFilePointer(handle, -1, nullptr, FILE_CURRENT), 5u);
  ASSERT_TRUE(SetEndOfFile(handle));
  EXPECT_EQ(GetFileSize(handle, nullptr), 5u);
  EXPECT_EQ(SetFilePointer(handle, -10, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  LONG position_high = 1;  // 4 GiB: needs the high half
  EXPECT_EQ(SetFilePointer(handle, 0, &position_high, FILE_BEGIN), 0u);
  EXPECT_EQ(position_high, 1);
  EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER)
      << "a position past 32 bits cannot be told without the high half";
  // With an OVERLAPPED: at its offset, or at the end when all ones; the pointer follows.
  OVERLAPPED at{};
  at.Offset = 1;
  ASSERT_TRUE(WriteFile(handle, "E", 1, nullptr, &at));
  EXPECT_EQ(at.InternalHigh, 1u);
  at.Offset = at.OffsetHigh = 0xFFFFFFFF;
  ASSERT_TRUE(WriteFile(handle, "!", 1, &done, &at));
  EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_CURRENT), 6u);
  EXPECT_TRUE(FlushFileBuffers(handle));
  CloseHandle(handle);

  // Access is kept to what was asked.
  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_TRUE(Fails(WriteFile(reader, "x", 1, &done, nullptr), ERROR_ACCESS_DENIED));
  EXPECT_FALSE(SetEndOfFile(reader));
  CloseHandle(reader);
  HANDLE writer = Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_TRUE(Fails(ReadFile(writer, buffer, 1, &done, nullptr), ERROR_ACCESS_DENIED));
  CloseHandle(writer);
  EXPECT_EQ(ReadText(path), "hEllo!");
}

TEST_F(FilesTest, FoldersAttributesAndWindowsPaths) {
  const std::string folder = Path("folder");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_TRUE(Fails(CreateDirectoryA(folder.c_str(), nullptr), ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(
      Fails(CreateDirectoryA(Path("no/such/folder").c_str(), nullptr), ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(Fails(Open(folder, GENERIC_READ, 0, OPEN_EXISTING), ERROR_ACCESS_DENIED));
  EXPECT_TRUE(Fails(DeleteFileA(folder.c_str()), ERROR_ACCESS_DENIED));
  const std::string file = folder + "/inside.txt";
  WriteText(file, "x");
  EXPECT_EQ(GetFileAttributesA(file.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(Fails(RemoveDirectoryA(folder.c_str()), ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_TRUE(Fails(DeleteFileA(file.c_str()), ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
  EXPECT_TRUE(
      Fails(Open(Path("missing/file"), GENERIC_READ, 0, OPEN_EXISTING), ERROR_PATH_NOT_FOUND));

}

// Whatever the umask: nothing made here may be written by other users.
TEST_F(FilesTest, WhatIsMadeIsWritableByItsOwnerAlone) {
  auto create = [](DWORD attributes) {
    return [attributes](const std::string& path) {
      HANDLE handle = Open(path, GENERIC_WRITE, 0, CREATE_NEW, attributes);
      return handle != INVALID_HANDLE_VALUE && CloseHandle(handle);
    };
  };
  struct {
    const char* what;
    std::function<bool(const std::string&)> make;
    mode_t mode;
  } cases[] = {
      {"CreateFileA", create(FILE_ATTRIBUTE_NORMAL), 0644},
      {"CreateFileA, read-only", create(FILE_ATTRIBUTE_READONLY), 0444},
      {"CreateDirectoryA",
       [](const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != FALSE; },
       0755},
  };
  const mode_t old_mask = umask(0);
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Path("made" + std::to_string(n++));
    ASSERT_TRUE(c.make(path));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
  }
  umask(old_mask);
}

TEST_F(FilesTest, WindowsPathsMapBelowTheDrive) {
  ASSERT_EQ(mkdir(Path("drive_c").c_str(), 0777), 0);
  ASSERT_TRUE(CreateDirectoryA("C:\\Data", nullptr));
  HANDLE handle = Open("c:\\Data\\log.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  CloseHandle(handle);
  EXPECT_EQ(access(Path("drive_c/Data/log.txt").c_str(), F_OK), 0);
}

TEST_F(FilesTest, FlagsAndBadArguments) {
  const std::string path = Path("temp");
  HANDLE handle = Open(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
  CloseHandle(handle);
  EXPECT_NE(access(path.c_str(), F_OK), 0) << "removed at its close";
  EXPECT_TRUE(Fails(Open(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_OVERLAPPED),
                    ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);

  handle = Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  OVERLAPPED overlapped = {};
  DWORD done = 0;
  EXPECT_TRUE(Fails(ReadFile(handle, &done, 1, &done, &overlapped), ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(WriteFile(handle, "x", 1, nullptr, nullptr));
  EXPECT_TRUE(Fails(ReadFile(handle, nullptr, 1, &done, nullptr), ERROR_NOACCESS));
  CloseHandle(handle);
  EXPECT_TRUE(Fails(ReadFile(handle, &done, 1, &done, nullptr), ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
}

}  // namespace
}  // namespace opossvc::testing
