// CreateFileA and the calls on disk files.
#include <opossvc/win32/files.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/testing/temp_registry.h>

#include "tests/support/comm_helpers.h"
#include "tests/support/last_error_expect.h"

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
  EXPECT_FAILS_WITH(Open(Path("file1"), GENERIC_READ, 0, TRUNCATE_EXISTING) != INVALID_HANDLE_VALUE,
                    ERROR_INVALID_PARAMETER);
}

TEST_F(FilesTest, ReadWriteSeekAndSize) {
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
  EXPECT_EQ(ReadText(path), "hEllo!");
}

TEST_F(FilesTest, FoldersAndAttributes) {
  const std::string folder = Path("folder");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_FAILS_WITH(CreateDirectoryA(folder.c_str(), nullptr), ERROR_ALREADY_EXISTS);
  EXPECT_FAILS_WITH(CreateDirectoryA(Path("no/such/folder").c_str(), nullptr),
                    ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FAILS_WITH(Open(folder, GENERIC_READ, 0, OPEN_EXISTING) != INVALID_HANDLE_VALUE,
                    ERROR_ACCESS_DENIED);
  EXPECT_FAILS_WITH(DeleteFileA(folder.c_str()), ERROR_ACCESS_DENIED);
  const std::string file = folder + "/inside.txt";
  WriteText(file, "x");
  EXPECT_EQ(GetFileAttributesA(file.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_FAILS_WITH(RemoveDirectoryA(folder.c_str()), ERROR_DIR_NOT_EMPTY);
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_FAILS_WITH(DeleteFileA(file.c_str()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
}

// Whatever the umask: nothing made here may be written by other users.
TEST_F(FilesTest, WhatIsMadeIsWritableByItsOwnerAlone) {
  auto create = [](DWORD attributes) {
    return [attributes](const std::string& path) {
      HANDLE handle = Open(path, GENERIC_WRITE, 0, CREATE_NEW, attributes);
      return handle != INVALID_HANDLE_VALUE && CloseHandle(handle);
    };
  };
  std::tuple<const char*, std::function<bool(const std::string&)>, mode_t> cases[] = {
      {"CreateFileA", create(FILE_ATTRIBUTE_NORMAL), 0644},
      {"CreateFileA, read-only", create(FILE_ATTRIBUTE_READONLY), 0444},
      {"CreateDirectoryA",
       [](const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != FALSE; },
       0755},
  };
  const mode_t old_mask = umask(0);
  int n = 0;
  for (const auto& [what, make, mode] : cases) {
    SCOPED_TRACE(what);
    const std::string path = Path("made" + std::to_string(n++));
    ASSERT_TRUE(make(path));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
  umask(old_mask);
}

TEST_F(FilesTest, FlagsAndBadArguments) {
  const std::string path = Path("temp");
  EXPECT_FAILS_WITH(
      Open(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_OVERLAPPED) != INVALID_HANDLE_VALUE,
      ERROR_INVALID_PARAMETER);
  HANDLE handle = Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  OVERLAPPED overlapped = {};
  DWORD done = 0;
  EXPECT_FAILS_WITH(ReadFile(handle, &done, 1, &done, &overlapped), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(WriteFile(handle, "x", 1, nullptr, nullptr));
  EXPECT_FAILS_WITH(ReadFile(handle, nullptr, 1, &done, nullptr), ERROR_NOACCESS);
  CloseHandle(handle);
  EXPECT_FAILS_WITH(ReadFile(handle, &done, 1, &done, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
}

}  // namespace
}  // namespace opossvc::testing
