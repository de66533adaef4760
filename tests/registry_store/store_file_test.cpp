// The store file itself: where it is made, what happens when it is missing,
// damaged, foreign or full, and which store a call uses.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

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
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(RegistryStoreFile, BeforeTheFirstWriteTheRootsAreEmptyAndNoFileIsMade) {
  opossvc::testing::TempRegistry registry;
  ScopedKey key;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", &key, KEY_READ), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(registry.store_path()));
  EXPECT_EQ(RunInChild([](ChildChecks& checks) {
              ScopedKey made;
              checks.ExpectCode(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Late", &made), ERROR_SUCCESS,
                                "child creates");
            }),
            "");
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Late", &key, KEY_READ), ERROR_SUCCESS)
      << "a store made by another process is seen at once";
}

TEST(RegistryStoreFile, TheFirstWriteMakesTheFolderAndFilesOthersMayRead) {
  opossvc::testing::TempRegistry registry;
  WriteFile(registry.root() + "/plain", "not a folder");
  struct {
    const char* what;
    std::string root;
    LONG create;
  } cases[] = {
      {"folder below an existing one", registry.root() + "/made", ERROR_SUCCESS},
      {"parent folder missing", registry.root() + "/absent/store", ERROR_PATH_NOT_FOUND},
      {"root names a file", registry.root() + "/plain", ERROR_PATH_NOT_FOUND},
  };
  mode_t old_mask = umask(077);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnv root("OPOS_ROOT", c.root);
    ScopedKey key;
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", &key), c.create);
    EXPECT_EQ(SetText(HKEY_LOCAL_MACHINE, "v", "x"), c.create);
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", &key),
              c.create == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    if (c.create != ERROR_SUCCESS) continue;
    EXPECT_EQ(ModeOf(c.root), 0755u);
    for (const char* file : {"/registry.db", "/registry.db-wal", "/registry.db-shm"}) {
      EXPECT_EQ(ModeOf(c.root + file), 0644u) << file;
    }
  }
  umask(old_mask);
  EXPECT_FALSE(std::filesystem::exists(registry.root() + "/absent"));
}

TEST(RegistryStoreFile, AFileThatIsNoSoundStoreIsReportedAndLeftAsItIs) {
  auto sqlite = [](const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
  };
  struct {
    const char* what;
    std::function<void(const std::string& file)> spoil;
    LONG error;
  } cases[] = {
      {"text", [](const std::string& file) { WriteFile(file, std::string(8192, 't')); },
       ERROR_BADDB},
      {"another program's database",
       [&](const std::string& file) { sqlite(file, "CREATE TABLE t(x); INSERT INTO t VALUES(1)"); },
       ERROR_BADDB},
      {"a store with damaged pages",
       [&](const std::string& file) {
         RunInChild([](ChildChecks&) {
           for (int i = 0; i < 50; ++i) {
             ScopedKey key;
             Create(HKEY_LOCAL_MACHINE, ("SOFTWARE\\K" + std::to_string(i)).c_str(), &key);
             SetText(key.get(), "v", std::string(200, 'v'));
           }
         });
         sqlite(file, "PRAGMA wal_checkpoint(TRUNCATE)");  // all of it into the file
         std::string bytes = FileBytes(file);
         for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = 0x55;
         WriteFile(file, bytes);
       },
       ERROR_REGISTRY_CORRUPT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    opossvc::testing::TempRegistry registry;
    c.spoil(registry.store_path());
    const std::string before = FileBytes(registry.store_path());
    ScopedKey key;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\K1", &key), c.error);
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", &key), c.error);
    EXPECT_EQ(SetText(HKEY_LOCAL_MACHINE, "v", "x"), c.error);
    EXPECT_EQ(FileBytes(registry.store_path()), before) << "the file was changed";
  }
}

// Mounts a small file system of its own on `folder`, seen by this process
// alone; false where mounting is not allowed.
bool MountSmallFileSystem(const std::string& folder, const char* size) {
  std::filesystem::create_directory(folder);
  return unshare(CLONE_NEWNS) == 0 &&
         mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("tmpfs", folder.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
}

// A write that does not fit fails as a whole; what was there stays readable.
TEST(RegistryStoreFile, AWriteThatDoesNotFitFailsAndKeepsTheStore) {
  for (bool full_file_system : {true, false}) {
    SCOPED_TRACE(full_file_system ? "file system full" : "file size limit");
    opossvc::testing::TempRegistry registry;
    std::string report = RunInChild([&](ChildChecks& checks) {
      signal(SIGXFSZ, SIG_IGN);
      std::string root = registry.root();
      if (full_file_system) {
        // A small file system of our own, seen by this process alone.
        root += "/small";
        if (!MountSmallFileSystem(root, "256k")) {
          checks.Expect(false, "skip");
          return;
        }
        setenv("OPOS_ROOT", root.c_str(), 1);
      }
      ScopedKey key;
      checks.ExpectCode(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Full", &key), ERROR_SUCCESS, "create");
      checks.ExpectCode(SetText(key.get(), "Keep", "1"), ERROR_SUCCESS, "a write that fits");
      if (!full_file_system) {
        rlim_t largest = 0;
        for (const char* file : {"/registry.db", "/registry.db-wal", "/registry.db-shm"}) {
          std::error_code ignored;
          largest = std::max<rlim_t>(largest, std::filesystem::file_size(root + file, ignored));
        }
        rlimit size_limit{largest + 8192, largest + 8192};
        setrlimit(RLIMIT_FSIZE, &size_limit);
      }
      LONG big = SetBytes(key.get(), "Big", REG_BINARY, std::string(1 << 20, 'b'));
      // A file size limit is no full disk: SQLite reports it as an I/O error.
      checks.Expect(big == ERROR_DISK_FULL || (!full_file_system && big == ERROR_REGISTRY_IO_FAILED),
                    "a write that does not fit: got " + std::to_string(big));
      checks.Expect(ReadBytes(key.get(), "Keep") == "1\0"s, "the store still reads");
      checks.Expect(!ReadBytes(key.get(), "Big"), "nothing of the failed write");
    });
    if (report != "skip\n") {
      EXPECT_EQ(report, "");
    }
  }
}

// Deleting frees space in the store, so it must work when the disk is full:
// the store keeps space in reserve for it.
TEST(RegistryStoreFile, DeletingWorksOnAFullDisk) {
  opossvc::testing::TempRegistry registry;
  std::string report = RunInChild([&](ChildChecks& checks) {
    const std::string root = registry.root() + "/small";
    if (!MountSmallFileSystem(root, "2m")) {
      checks.Expect(false, "skip");
      return;
    }
    setenv("OPOS_ROOT", root.c_str(), 1);
    ScopedKey key;
    checks.ExpectCode(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Full\\Tree\\Below", &key),
                      ERROR_SUCCESS, "create");
    checks.ExpectCode(SetBytes(key.get(), "Big", REG_BINARY, std::string(256 << 10, 'b')),
                      ERROR_SUCCESS, "a value that fits");
    checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Full", &key), ERROR_SUCCESS, "open");
    checks.ExpectCode(SetText(key.get(), "Keep", "1"), ERROR_SUCCESS, "a second value");
    // Someone else takes the rest of the disk.
    std::ofstream filler(root + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
    checks.ExpectCode(SetText(key.get(), "More", std::string(8192, 'm')), ERROR_DISK_FULL,
                      "the disk is full");
    checks.ExpectCode(RegDeleteValueA(key.get(), "Keep"), ERROR_SUCCESS, "delete a value");
    checks.ExpectCode(RegDeleteTreeA(key.get(), "Tree"), ERROR_SUCCESS, "delete a tree");
    checks.ExpectCode(RegFlushKey(key.get()), ERROR_SUCCESS, "flush");
    checks.Expect(SubkeyNames(key.get()).empty() && ValueNames(key.get()).empty(),
                  "what was deleted is gone");
  });
  if (report != "skip\n") {
    EXPECT_EQ(report, "");
  }
}

// More than SQLite holds in one value: refused as too long, not taken for a
// damaged store. The bytes are never touched, so they need no memory.
TEST(RegistryStoreFile, AValueLongerThanTheStoreTakesIsRefusedAsSuch) {
  opossvc::testing::TempRegistry registry;
  ScopedKey key;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Huge", &key), ERROR_SUCCESS);
  constexpr size_t kHuge = size_t{3} << 30;  // past SQLite's largest limit, 2^31 - 1
  void* bytes = mmap(nullptr, kHuge, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(bytes, MAP_FAILED);
  EXPECT_EQ(RegSetValueExA(key.get(), "v", 0, REG_BINARY, static_cast<const BYTE*>(bytes),
                           static_cast<DWORD>(kHuge)),
            ERROR_INVALID_PARAMETER);
  munmap(bytes, kHuge);
  EXPECT_EQ(SetText(key.get(), "after", "x"), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key.get()), std::vector<std::string>{"after"});
}

TEST(RegistryStoreFile, RootsFollowOposRootWhileHandlesStayWithTheirStore) {
  opossvc::testing::TempRegistry first;
  ScopedKey in_first;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\First", &in_first), ERROR_SUCCESS);
  {
    opossvc::testing::TempRegistry second;
    ScopedKey key;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\First", &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Second", &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(in_first.get(), "v", "first"), ERROR_SUCCESS);
  }
  EXPECT_FALSE(first.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Second"));
  EXPECT_EQ(first.GetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\First", "v"), "first\0"s);

  // A store file replaced on disk is opened anew.
  std::filesystem::remove_all(first.root());
  std::filesystem::create_directory(first.root());
  ASSERT_EQ(first.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", "n", 0x01020304u), ERROR_SUCCESS);
  EXPECT_FALSE(first.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\First"));
  EXPECT_EQ(first.GetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", "n"), "\x04\x03\x02\x01"s);
}

TEST(TempRegistry, SetsOposRootForItsLifetimeAndRemovesItsFolder) {
  for (std::optional<std::string> outer : {std::optional<std::string>(), std::optional("/outer"s)}) {
    ScopedEnv env("OPOS_ROOT", outer);
    std::string folder;
    {
      opossvc::testing::TempRegistry registry;
      folder = registry.root();
      EXPECT_EQ(std::getenv("OPOS_ROOT"), folder);
      ASSERT_EQ(registry.SetBinary(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", "b", {0, 1}), ERROR_SUCCESS);
      EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", "b"), "\0\1"s);
      EXPECT_EQ(RunInChild([&](ChildChecks&) { registry.~TempRegistry(); }), "");
      EXPECT_TRUE(std::filesystem::exists(folder)) << "a forked copy leaves the folder alone";
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    const char* now = std::getenv("OPOS_ROOT");
    EXPECT_EQ(now ? std::optional<std::string>(now) : std::nullopt, outer);
  }
}

}  // namespace
}  // namespace opossvc::registry_test
