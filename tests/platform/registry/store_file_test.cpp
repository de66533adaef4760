// The store file itself: where it is made, what happens when it is missing,
// damaged, foreign or full, and which store a call uses.
#include <gtest/gtest.h>

#include <sched.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include <opossvc/testing/temp_registry.h>

#include "tests/platform/registry/registry_test_support.h"
#include "tests/support/process_usage.h"

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

// Runs SQL on a file with SQLite itself; the first column of the last row
// that it gives, or 0.
int64_t Sql(const std::string& file, const char* sql) {
  sqlite3* db = nullptr;
  int64_t value = 0;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(
      db, sql,
      [](void* out, int, char** row, char**) {
        *static_cast<int64_t*>(out) = row[0] != nullptr ? std::atoll(row[0]) : 0;
        return 0;
      },
      &value, nullptr);
  sqlite3_close(db);
  return value;
}

// A store as the first format wrote it: the callers' bytes as they came,
// with a device key `device` below Scanner, and key ids given up to 12.
void WriteFirstFormatStore(const std::string& file, const std::string& device) {
  Sql(file, R"sql(
    PRAGMA journal_mode = WAL;
    CREATE TABLE reg_key(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,
      name TEXT NOT NULL, fold TEXT NOT NULL, sortkey TEXT NOT NULL, class TEXT NOT NULL,
      written INTEGER NOT NULL);
    CREATE UNIQUE INDEX reg_key_by_name ON reg_key(parent, fold);
    CREATE INDEX reg_key_by_order ON reg_key(parent, sortkey, fold);
    CREATE TABLE reg_value(key_id INTEGER NOT NULL, seq INTEGER NOT NULL, name TEXT NOT NULL,
      fold TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key_id, fold));
    CREATE UNIQUE INDEX reg_value_by_order ON reg_value(key_id, seq);
    CREATE TABLE reg_meta(name TEXT PRIMARY KEY, value INTEGER NOT NULL);
    INSERT INTO reg_meta VALUES('flushes', 0);
    INSERT INTO reg_key VALUES (1, 0, 'HKEY_CLASSES_ROOT', 'a', 'a', '', 0),
      (2, 0, 'HKEY_CURRENT_USER', 'b', 'b', '', 0), (3, 0, 'HKEY_LOCAL_MACHINE', 'c', 'c', '', 0),
      (4, 0, 'HKEY_USERS', 'd', 'd', '', 0), (5, 3, 'SOFTWARE', 'software', 'S', '', 0),
      (6, 5, 'OLEforRetail', 'oleforretail', 'O', '', 0),
      (7, 6, 'ServiceOPOS', 'serviceopos', 'S', 'Klass', 0),
      (8, 7, 'Scanner', 'scanner', 'S', '', 0),
      (12, 8, 'Gone', 'gone', 'G', '', 0);
    DELETE FROM reg_key WHERE id = 12;
    PRAGMA application_id = 1330664263;
    PRAGMA user_version = 1;
  )sql");
  // The device and its values, with the caller's bytes in names and data.
  const std::string sql = "INSERT INTO reg_key VALUES (9, 8, '" + device + "', 'x', 'x', '', 0);" +
                          "INSERT INTO reg_value VALUES (9, 1, 'Port', 'port', 1, '" + device +
                          "'), (9, 2, 'Raw', 'raw', 3, X'835C');";
  Sql(file, sql.c_str());
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// The roots and HKLM\SOFTWARE need no file and cannot be deleted, nor can
// all below a root: refused whole, where Windows deletes what it can first.
TEST(RegistryStoreFile, TheFixedKeysNeedNoFileAndStay) {
  opossvc::testing::TempRegistry registry;
  ScopedKey key;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", &key, KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), std::vector<std::string>{"SOFTWARE"});
  EXPECT_TRUE(SubkeyNames(key.get()).empty());
  EXPECT_TRUE(SubkeyNames(HKEY_CURRENT_USER).empty());
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
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "software"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Late", &key, KEY_READ), ERROR_SUCCESS);
}

// Whatever the umask: the store is its owner's alone, the snapshot for all.
TEST(RegistryStoreFile, TheFirstWriteMakesTheFolderAPrivateStoreAndASnapshot) {
  opossvc::testing::TempRegistry registry;
  WriteFile(registry.root() + "/plain", "not a folder");
  std::tuple<const char*, std::string, LONG> cases[] = {
      {"folder below an existing one", registry.root() + "/made", ERROR_SUCCESS},
      {"parent folder missing", registry.root() + "/absent/store", ERROR_PATH_NOT_FOUND},
      {"root names a file", registry.root() + "/plain", ERROR_PATH_NOT_FOUND},
  };
  mode_t old_mask = umask(077);
  for (const auto& [what, folder, create] : cases) {
    SCOPED_TRACE(what);
    ScopedEnv root("OPOS_ROOT", folder);
    ScopedKey key;
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", &key), create);
    EXPECT_EQ(SetText(HKEY_LOCAL_MACHINE, "v", "x"), create);
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", &key),
              create == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    if (create != ERROR_SUCCESS) continue;
    EXPECT_EQ(ModeOf(folder), 0755u);
    for (const char* file :
         {"/registry.db", "/registry.db-wal", "/registry.db-shm", "/registry.db-publish"}) {
      EXPECT_EQ(ModeOf(folder + file), 0600u) << file;
    }
    EXPECT_EQ(ModeOf(folder + "/registry.db-snapshot"), 0644u);
  }
  umask(old_mask);
  EXPECT_FALSE(std::filesystem::exists(registry.root() + "/absent"));
}

// Where other users may write the folder, a store file that is a symbolic
// link could lead the owner's writes into any file of their choosing.
TEST(RegistryStoreFile, LinksAreFollowedOnlyInAFolderThatOthersMayNotWrite) {
  opossvc::testing::TempRegistry registry;
  const std::string real = registry.root() + "/real", victim = registry.root() + "/victim";
  std::filesystem::create_directory(real);
  {
    ScopedEnv root("OPOS_ROOT", real);
    ASSERT_EQ(SetText(HKEY_LOCAL_MACHINE, "v", "real"), ERROR_SUCCESS);
  }
  WriteFile(victim, "precious");
  std::tuple<const char*, mode_t, const char*, std::string, LONG> cases[] = {
      {"the store, where its owner alone writes", 0755, "registry.db", real + "/registry.db",
       ERROR_SUCCESS},
      {"the store, where all may write", 01777, "registry.db", registry.root() + "/made",
       ERROR_CANT_ACCESS_FILE},
      {"its log, planted before the first write", 01777, "registry.db-wal", victim,
       ERROR_CANT_ACCESS_FILE},
      {"its log index, where a group may write", 0775, "registry.db-shm", victim,
       ERROR_CANT_ACCESS_FILE},
  };
  int n = 0;
  for (const auto& [what, mode, name, target, result] : cases) {
    SCOPED_TRACE(what);
    const std::string folder = registry.root() + "/case" + std::to_string(n++);
    std::filesystem::create_directory(folder);
    ASSERT_EQ(chmod(folder.c_str(), mode), 0);
    ASSERT_EQ(symlink(target.c_str(), (folder + "/" + name).c_str()), 0);
    const std::string before = FileBytes(target);
    ScopedEnv root("OPOS_ROOT", folder);
    EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "v", nullptr, nullptr, nullptr, nullptr),
              result);
    EXPECT_EQ(SetText(HKEY_LOCAL_MACHINE, "w", "x"), result);
    if (result != ERROR_SUCCESS) {
      EXPECT_TRUE(FileBytes(target) == before) << "the link's target was written";
    }
  }
}

TEST(RegistryStoreFile, AFileThatIsNoSoundStoreIsReportedAndLeftAsItIs) {
  std::tuple<const char*, std::function<void(const std::string& file)>, LONG> cases[] = {
      {"text", [](const std::string& file) { WriteFile(file, std::string(8192, 't')); },
       ERROR_BADDB},
      {"another program's database",
       [](const std::string& file) { Sql(file, "CREATE TABLE t(x); INSERT INTO t VALUES(1)"); },
       ERROR_BADDB},
      {"a store with damaged pages",
       [](const std::string& file) {
         RunInChild([](ChildChecks&) {
           for (int i = 0; i < 50; ++i) {
             ScopedKey key;
             Create(HKEY_LOCAL_MACHINE, ("SOFTWARE\\K" + std::to_string(i)).c_str(), &key);
             SetText(key.get(), "v", std::string(200, 'v'));
           }
         });
         Sql(file, "PRAGMA wal_checkpoint(TRUNCATE)");  // all of it into the file
         std::string bytes = FileBytes(file);
         for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = 0x55;
         WriteFile(file, bytes);
       },
       ERROR_REGISTRY_CORRUPT},
  };
  for (const auto& [what, spoil, error] : cases) {
    SCOPED_TRACE(what);
    opossvc::testing::TempRegistry registry;
    spoil(registry.store_path());
    const std::string before = FileBytes(registry.store_path());
    ScopedKey key;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\K1", &key), error);
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", &key), error);
    EXPECT_EQ(SetText(HKEY_LOCAL_MACHINE, "v", "x"), error);
    EXPECT_EQ(FileBytes(registry.store_path()), before) << "the file was changed";
  }
}

// The first format kept the callers' bytes. The store is migrated by the
// first process that may write it, in its code page, and only where every
// text decodes in it; otherwise the file stays as it was.
TEST(RegistryStoreFile, AStoreOfTheFirstFormatIsMigratedOnlyWhereItsTextDecodes) {
  constexpr char kScanner[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner";
  // The device's name and "Port" data as the first format kept them, OPOS_CODEPAGE of the first
  // process that opens the store, the result and the name read back in UTF-8.
  const std::tuple<const char*, std::string, const char*, LONG, std::string> cases[] = {
      {"ASCII, whatever the code page", "Scanner1", "932", ERROR_SUCCESS, "Scanner1"},
      {"UTF-8 under UTF-8", "\xC3\x84rger", "65001", ERROR_SUCCESS, "\xC3\x84rger"},
      {"Shift-JIS under 932", "\x83\x41", "932", ERROR_SUCCESS, "\xE3\x82\xA2"},  // ア
      {"Shift-JIS under UTF-8", "\x83\x41", "65001", ERROR_NO_UNICODE_TRANSLATION, ""},
      {"a name split at a trail byte 0x5C", "\x83", "932", ERROR_NO_UNICODE_TRANSLATION, ""},
  };
  for (const auto& [what, kept, opener, result, utf8] : cases) {
    SCOPED_TRACE(what);
    opossvc::testing::TempRegistry registry;
    WriteFirstFormatStore(registry.store_path(), kept);
    ASSERT_EQ(chmod(registry.root().c_str(), 0755), 0);
    ASSERT_EQ(chmod(registry.store_path().c_str(), 0644), 0);
    if (geteuid() == 0 && result == ERROR_SUCCESS) {
      EXPECT_EQ(RunInChild([&](ChildChecks& checks) {
                  ScopedKey key;
                  checks.Expect(setgid(65534) == 0 && setuid(65534) == 0, "drop privileges");
                  checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, kScanner, &key, KEY_READ),
                                    ERROR_BADDB, "a reader may not migrate it");
                }),
                "");
    }
    ScopedKey scanner;
    {
      ScopedEnv codepage("OPOS_CODEPAGE", std::string(opener));
      EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, kScanner, &scanner, KEY_READ), result);
    }
    if (result != ERROR_SUCCESS) {
      EXPECT_EQ(Sql(registry.store_path(), "PRAGMA user_version"), 1);
      EXPECT_EQ(Sql(registry.store_path(), "SELECT count(*) FROM reg_key"), 9);
      continue;
    }
    EXPECT_EQ(Sql(registry.store_path(), "PRAGMA user_version"), 2);
    EXPECT_EQ(SubkeyNames(scanner.get()), std::vector<std::string>{utf8});
    ScopedKey device;
    ASSERT_EQ(Open(scanner.get(), utf8.c_str(), &device), ERROR_SUCCESS);
    EXPECT_EQ(ReadBytes(device.get(), "Port"), utf8) << "string data converts";
    EXPECT_EQ(ReadBytes(device.get(), "Raw"), "\x83\x5C") << "binary data does not";
    ScopedKey root;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail", &root), ERROR_SUCCESS);
    char name[16], klass[8];
    DWORD name_size = sizeof name, class_size = sizeof klass;
    EXPECT_EQ(RegEnumKeyExA(root.get(), 0, name, &name_size, nullptr, klass, &class_size, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(klass, "Klass");
    ScopedKey made;
    ASSERT_EQ(Create(scanner.get(), "New", &made), ERROR_SUCCESS);
    EXPECT_EQ(Sql(registry.store_path(), "SELECT max(id) FROM reg_key"), 13)
        << "ids given before are not given again";
  }
}

// On a full disk a write fails whole and what was there stays readable.
// Deleting frees space, so it must still work: the store keeps space in
// reserve for it.
TEST(RegistryStoreFile, AFullDiskFailsWritesWholeAndStillDeletes) {
  opossvc::testing::TempRegistry registry;
  std::string report = RunInChild([&](ChildChecks& checks) {
    // A small file system of its own, seen by this process alone, where mounting is allowed.
    const std::string root = registry.root() + "/small";
    std::filesystem::create_directory(root);
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", root.c_str(), "tmpfs", 0, "size=2m") != 0) {
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
    checks.Expect(ReadBytes(key.get(), "Keep") == "1\0"s, "the store still reads");
    checks.Expect(!ReadBytes(key.get(), "More"), "nothing of the failed write");
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
  if (opossvc::testing::kSanitized) GTEST_SKIP() << "a sanitizer would shadow 3 GiB of value";
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

  // A store file replaced on disk is opened anew. Flushed, the store (one
  // object for the handle, one for the root keys) has nothing left to
  // publish while its folder goes.
  ASSERT_EQ(RegFlushKey(in_first.get()), ERROR_SUCCESS);
  ASSERT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  std::filesystem::remove_all(first.root());
  std::filesystem::create_directory(first.root());
  ASSERT_EQ(first.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", "n", 0x01020304u), ERROR_SUCCESS);
  EXPECT_FALSE(first.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\First"));
  EXPECT_EQ(first.GetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", "n"), "\x04\x03\x02\x01"s);
}

}  // namespace
}  // namespace opossvc::registry_test
