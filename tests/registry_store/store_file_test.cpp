// The store file itself: where it is made, what happens when it is missing,
// damaged, foreign or full, and which store a call uses.
#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <opossvc/testing/temp_registry.h>

#include "tests/registry_store/registry_test_support.h"

namespace opossvc::registry_test {
namespace {

using std::string_literals::operator""s;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(RegistryStoreFile, ReadsOfAStoreNotYetMadeSeeEmptyRootsAndMakeNothing) {
  opossvc::testing::TempRegistry registry;
  ScopedKey key;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", &key, KEY_READ), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
  EXPECT_EQ(ReadBytes(HKEY_CURRENT_USER, ""), std::nullopt);
  DWORD subkeys = 7, values = 7;
  EXPECT_EQ(RegQueryInfoKeyA(HKEY_USERS, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_EQ(values, 0u);
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(registry.store_path()));

  // A store made by another process afterwards is seen at once.
  EXPECT_EQ(RunInChild([](ChildChecks& checks) {
              ScopedKey made;
              checks.ExpectCode(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Late", &made), ERROR_SUCCESS,
                                "child creates");
            }),
            "");
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Late", &key, KEY_READ), ERROR_SUCCESS);
}

TEST(RegistryStoreFile, TheFirstWriteMakesTheFolderAndAFileOthersMayRead) {
  opossvc::testing::TempRegistry registry;
  struct Case {
    const char* what;
    std::string root;
    LONG create;
  } cases[] = {
      {"folder below an existing one is made", registry.root() + "/made", ERROR_SUCCESS},
      {"parent folder missing", registry.root() + "/absent/store", ERROR_PATH_NOT_FOUND},
      {"root names a file", registry.root() + "/plain", ERROR_PATH_NOT_FOUND},
  };
  WriteFile(registry.root() + "/plain", "not a folder");
  mode_t old_mask = umask(077);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnv root("OPOS_ROOT", c.root);
    ScopedKey key;
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", &key), c.create);
    EXPECT_EQ(SetText(HKEY_LOCAL_MACHINE, "v", "x"), c.create);
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", &key),
              c.create == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    if (c.create == ERROR_SUCCESS) {
      EXPECT_EQ(ModeOf(c.root), 0755u);
      EXPECT_EQ(ModeOf(c.root + "/registry.db"), 0644u);
      EXPECT_EQ(ModeOf(c.root + "/registry.db-wal"), 0644u);
      EXPECT_EQ(ModeOf(c.root + "/registry.db-shm"), 0644u);
    }
  }
  umask(old_mask);
  EXPECT_FALSE(std::filesystem::exists(registry.root() + "/absent"));
}

TEST(RegistryStoreFile, AFileThatIsNoSoundStoreIsReportedAndLeftAsItIs) {
  struct Case {
    const char* what;
    std::function<void(const std::string& file)> spoil;
    LONG error;
  } cases[] = {
      {"text", [](const std::string& file) { WriteFile(file, std::string(8192, 't')); },
       ERROR_BADDB},
      {"another program's database",
       [](const std::string& file) {
         sqlite3* db = nullptr;
         sqlite3_open(file.c_str(), &db);
         sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr,
                      nullptr);
         sqlite3_close(db);
       },
       ERROR_BADDB},
      {"a store with damaged pages",
       [](const std::string& file) {
         // Written by another process and checkpointed, so that all of it
         // is in the file itself.
         RunInChild([](ChildChecks&) {
           for (int i = 0; i < 50; ++i) {
             ScopedKey key;
             Create(HKEY_LOCAL_MACHINE, ("SOFTWARE\\K" + std::to_string(i)).c_str(), &key);
             SetText(key.get(), "v", std::string(200, 'v'));
           }
         });
         sqlite3* db = nullptr;
         sqlite3_open(file.c_str(), &db);
         sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
         sqlite3_close(db);
         std::string bytes = FileBytes(file);
         for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = 0x55;
         WriteFile(file, bytes);
       },
       ERROR_REGISTRY_CORRUPT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    opossvc::testing::TempRegistry registry;
    c.spoil(registry.store_path());
    const std::string before = FileBytes(registry.store_path());
    ScopedKey key;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\K1", &key), c.error);
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", &key), c.error);
    EXPECT_EQ(SetText(HKEY_LOCAL_MACHINE, "v", "x"), c.error);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE"), c.error);
    EXPECT_EQ(FileBytes(registry.store_path()), before) << "the file was changed";
  }
}

// A write that does not fit fails as a whole; what was there stays readable.
TEST(RegistryStoreFile, AWriteThatDoesNotFitFailsAndKeepsTheStore) {
  enum class Limit { kFullFileSystem, kFileSizeLimit };
  for (Limit limit : {Limit::kFullFileSystem, Limit::kFileSizeLimit}) {
    SCOPED_TRACE(limit == Limit::kFullFileSystem ? "file system full" : "file size limit");
    opossvc::testing::TempRegistry registry;
    std::string report = RunInChild([&](ChildChecks& checks) {
      signal(SIGXFSZ, SIG_IGN);
      if (limit == Limit::kFullFileSystem) {
        // A small file system of our own, seen by this process alone.
        std::string mount_point = registry.root() + "/small";
        std::filesystem::create_directory(mount_point);
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=256k") != 0) {
          checks.Expect(false, "skip: no private mounts here");
          return;
        }
        setenv("OPOS_ROOT", mount_point.c_str(), 1);
      }
      ScopedKey key;
      checks.ExpectCode(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Full", &key), ERROR_SUCCESS, "create");
      checks.ExpectCode(SetText(key.get(), "Keep", "1"), ERROR_SUCCESS, "a write that fits");
      if (limit == Limit::kFileSizeLimit) {
        std::string file = std::string(std::getenv("OPOS_ROOT")) + "/registry.db";
        rlim_t largest = 0;
        for (const char* suffix : {"", "-wal", "-shm"}) {
          std::error_code ignored;
          largest = std::max<rlim_t>(largest, std::filesystem::file_size(file + suffix, ignored));
        }
        rlimit size_limit{largest + 8192, largest + 8192};
        setrlimit(RLIMIT_FSIZE, &size_limit);
      }
      LONG big = SetBytes(key.get(), "Big", REG_BINARY, std::string(1 << 20, 'b'));
      if (limit == Limit::kFullFileSystem) {
        checks.ExpectCode(big, ERROR_DISK_FULL, "a write that does not fit");
      } else {
        checks.Expect(big == ERROR_DISK_FULL || big == ERROR_REGISTRY_IO_FAILED,
                      "a write past the size limit: got " + std::to_string(big));
      }
      checks.Expect(ReadBytes(key.get(), "Keep") == "1\0"s, "the store still reads");
      checks.Expect(!ReadBytes(key.get(), "Big"), "nothing of the failed write");
      ScopedKey again;
      checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Full", &again), ERROR_SUCCESS,
                        "reopen");
    });
    if (report == "skip: no private mounts here\n") continue;
    EXPECT_EQ(report, "");
  }
}

TEST(RegistryStoreFile, RootsFollowOposRootWhileHandlesStayWithTheirStore) {
  opossvc::testing::TempRegistry first;
  ScopedKey in_first;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\First", &in_first), ERROR_SUCCESS);
  ASSERT_EQ(SetText(in_first.get(), "v", "first"), ERROR_SUCCESS);
  {
    opossvc::testing::TempRegistry second;
    ScopedKey key;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\First", &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Second", &key), ERROR_SUCCESS);
    EXPECT_EQ(ReadBytes(in_first.get(), "v"), "first\0"s);
    ASSERT_EQ(SetText(in_first.get(), "w", "still first"), ERROR_SUCCESS);
  }
  ScopedKey key;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Second", &key), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\First", &key), ERROR_SUCCESS);
  EXPECT_EQ(ReadBytes(key.get(), "w"), "still first\0"s);
}

TEST(RegistryStoreFile, AStoreReplacedOnDiskIsReopened) {
  opossvc::testing::TempRegistry registry;
  ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Old", "v", "old"), ERROR_SUCCESS);
  std::filesystem::remove_all(registry.root());
  std::filesystem::create_directory(registry.root());
  ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", "v", "new"), ERROR_SUCCESS);
  EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Old"));
  EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", "v"), "new\0"s);
}

TEST(TempRegistry, SetsOposRootForItsLifetimeAndRemovesItsFolder) {
  for (std::optional<std::string> outer : {std::optional<std::string>(), std::optional<std::string>("/outer")}) {
    ScopedEnv env("OPOS_ROOT", outer);
    std::string folder;
    {
      opossvc::testing::TempRegistry registry;
      folder = registry.root();
      EXPECT_EQ(std::getenv("OPOS_ROOT"), folder);
      ASSERT_EQ(registry.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", "n", 0x01020304u),
                ERROR_SUCCESS);
      ASSERT_EQ(registry.SetBinary(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", "b", {0, 1, 2}),
                ERROR_SUCCESS);
      DWORD type = 0;
      EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", "n", &type),
                "\x04\x03\x02\x01"s);
      EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
      EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", "b"), "\0\1\2"s);
      EXPECT_TRUE(std::filesystem::exists(registry.store_path()));

      // A forked copy that is destroyed leaves the folder alone.
      EXPECT_EQ(RunInChild([&](ChildChecks&) { registry.~TempRegistry(); }), "");
      EXPECT_TRUE(std::filesystem::exists(folder));
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    const char* now = std::getenv("OPOS_ROOT");
    EXPECT_EQ(now == nullptr ? std::optional<std::string>() : std::optional<std::string>(now), outer);
  }
}

}  // namespace
}  // namespace opossvc::registry_test
