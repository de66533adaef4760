// Several processes on one store: concurrent writers, a key deleted by
// another process, writers killed in the middle of a write, and a reader
// that may not write the store.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <opossvc/testing/temp_registry.h>

#include "tests/registry_store/registry_test_support.h"

namespace opossvc::registry_test {
namespace {

using std::string_literals::operator""s;

constexpr char kBase[] = "SOFTWARE\\Processes";

// The store's own consistency check, on a connection of its own.
std::string IntegrityCheck(const std::string& file) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return result;
}

TEST(RegistryProcesses, AKeyDeletedByAnotherProcessAnswersKeyDeleted) {
  opossvc::testing::TempRegistry registry;
  ScopedKey held;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed\\Leaf", &held), ERROR_SUCCESS);
  ASSERT_EQ(SetText(held.get(), "v", "x"), ERROR_SUCCESS);
  EXPECT_EQ(RunInChild([](ChildChecks& checks) {
              checks.ExpectCode(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed"),
                                ERROR_SUCCESS, "child deletes the tree");
            }),
            "");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(held.get(), "v", nullptr, nullptr, nullptr, &size),
            ERROR_KEY_DELETED);
  ScopedKey again;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed\\Leaf", &again), ERROR_SUCCESS);
  EXPECT_EQ(SetText(held.get(), "v", "y"), ERROR_KEY_DELETED) << "the new key is another key";
  EXPECT_EQ(ReadBytes(again.get(), "v"), std::nullopt);
}

TEST(RegistryProcesses, TwoWritersAtOnceLoseNothing) {
  constexpr int kWrites = 150;
  opossvc::testing::TempRegistry registry;
  ScopedKey base;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kBase, &base), ERROR_SUCCESS);

  Pipe start;  // closed by the parent: both writers go at once
  auto writer = [&start](int id) {
    return [&start, id](ChildChecks& checks) {
      start.KeepReadEnd();
      start.ReadByte();
      ScopedKey shared;
      if (!checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, kBase, &shared), ERROR_SUCCESS, "open")) {
        return;
      }
      for (int n = 0; n < kWrites; ++n) {
        std::string tag = std::to_string(id) + "_" + std::to_string(n);
        checks.ExpectCode(SetText(shared.get(), ("v" + tag).c_str(), tag), ERROR_SUCCESS,
                          "set v" + tag);
        ScopedKey own;
        checks.ExpectCode(Create(shared.get(), ("P" + std::to_string(id) + "\\K" + tag).c_str(),
                                 &own),
                          ERROR_SUCCESS, "create K" + tag);
      }
    };
  };
  ChildProcess first(writer(0));
  ChildProcess second(writer(1));
  start.KeepReadEnd();
  EXPECT_EQ(first.Wait(), "");
  EXPECT_EQ(second.Wait(), "");

  std::vector<std::string> values = ValueNames(base.get());
  EXPECT_EQ(values.size(), 2u * kWrites);
  for (int id = 0; id < 2; ++id) {
    ScopedKey own;
    ASSERT_EQ(Open(base.get(), ("P" + std::to_string(id)).c_str(), &own), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(own.get()).size(), static_cast<size_t>(kWrites));
    for (int n = 0; n < kWrites; ++n) {
      std::string tag = std::to_string(id) + "_" + std::to_string(n);
      ASSERT_EQ(ReadBytes(base.get(), ("v" + tag).c_str()), tag + '\0');
    }
  }
  EXPECT_EQ(IntegrityCheck(registry.store_path()), "ok");
}

// A writer killed at an arbitrary point: every write it made is either
// wholly in the store or not at all.
TEST(RegistryProcesses, AKilledWriterLeavesEachWriteWholeOrAbsent) {
  constexpr int kRounds = 30;
  constexpr size_t kBlobSize = 256 * 1024;
  constexpr int kTreeKeys = 12;
  opossvc::testing::TempRegistry registry;
  {
    ScopedKey base;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kBase, &base), ERROR_SUCCESS);
    ASSERT_EQ(SetBytes(base.get(), "Blob", REG_BINARY, std::string(kBlobSize, 'a')),
              ERROR_SUCCESS);
  }
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    Pipe progress;  // a byte before each write
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      progress.KeepWriteEnd();
      ScopedKey base;
      Open(HKEY_LOCAL_MACHINE, kBase, &base);
      for (int n = 0;; ++n) {
        progress.WriteByte();
        SetBytes(base.get(), "Blob", REG_BINARY, std::string(kBlobSize, n % 2 ? 'b' : 'a'));
        for (int k = 0; k < kTreeKeys; ++k) {
          ScopedKey leaf;
          Create(base.get(), ("Tree\\N" + std::to_string(k)).c_str(), &leaf);
        }
        ScopedKey tree;
        Open(base.get(), "Tree", &tree);
        SetText(tree.get(), "Complete", "yes");
        progress.WriteByte();
        RegDeleteTreeA(base.get(), "Tree");  // one write: all or nothing
      }
    }
    progress.KeepReadEnd();
    for (int n = 0; n < 1 + round % 5; ++n) progress.ReadByte();
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    ScopedKey base;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, kBase, &base), ERROR_SUCCESS);
    std::optional<std::string> blob = ReadBytes(base.get(), "Blob");
    ASSERT_TRUE(blob.has_value());
    ASSERT_EQ(blob->size(), kBlobSize);
    EXPECT_TRUE(*blob == std::string(kBlobSize, 'a') || *blob == std::string(kBlobSize, 'b'))
        << "a blob of mixed contents";
    ScopedKey tree;
    if (Open(base.get(), "Tree", &tree) == ERROR_SUCCESS && ReadBytes(tree.get(), "Complete")) {
      EXPECT_EQ(SubkeyNames(tree.get()).size(), static_cast<size_t>(kTreeKeys))
          << "a tree deleted in part";
    }
  }
  EXPECT_EQ(IntegrityCheck(registry.store_path()), "ok");
}

// Configuration written by root, read by a service object running as an
// ordinary user: everything reads, nothing writes, nothing is created.
TEST(RegistryProcesses, AnOrdinaryUserReadsAStoreThatRootWrote) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a reader as another user";
  constexpr uid_t kNobody = 65534;
  constexpr char kDevice[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S1";
  opossvc::testing::TempRegistry registry;
  ASSERT_EQ(chmod(registry.root().c_str(), 0755), 0);
  ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, kDevice, "Port", "COM0"), ERROR_SUCCESS);

  auto reader = [&](const char* situation, Pipe* hold, Pipe* resume) {
    return [=](ChildChecks& checks) {
      if (hold != nullptr) hold->KeepReadEnd();
      if (resume != nullptr) resume->KeepWriteEnd();
      setgroups(0, nullptr);
      if (!checks.Expect(setgid(kNobody) == 0 && setuid(kNobody) == 0, "drop privileges")) return;
      std::string where = std::string(situation) + ": ";
      ScopedKey key;
      checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, kDevice, &key, KEY_READ), ERROR_SUCCESS,
                        where + "open for reading");
      checks.Expect(ReadBytes(key.get(), "Port") == "COM1\0"s, where + "read a value");
      checks.Expect(SubkeyNames(HKEY_LOCAL_MACHINE) == std::vector<std::string>{"SOFTWARE"},
                    where + "list the root");
      DWORD disposition = 0;
      ScopedKey created;
      checks.ExpectCode(Create(HKEY_LOCAL_MACHINE, kDevice, &created, &disposition, KEY_READ),
                        ERROR_SUCCESS, where + "create-open an existing key for reading");
      checks.Expect(disposition == REG_OPENED_EXISTING_KEY, where + "disposition");
      checks.ExpectCode(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", &created, nullptr, KEY_READ),
                        ERROR_ACCESS_DENIED, where + "create a new key");
      checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, kDevice, &created, KEY_ALL_ACCESS),
                        ERROR_ACCESS_DENIED, where + "open for writing");
      checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, kDevice, &created, MAXIMUM_ALLOWED),
                        ERROR_SUCCESS, where + "open for what may be had");
      checks.ExpectCode(SetText(created.get(), "Port", "COM2"), ERROR_ACCESS_DENIED,
                        where + "write through a read-only handle");
      checks.ExpectCode(SetText(HKEY_LOCAL_MACHINE, "x", "y"), ERROR_ACCESS_DENIED,
                        where + "write through a root");
      checks.ExpectCode(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_ACCESS_DENIED,
                        where + "delete a tree");
      checks.ExpectCode(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDevice), ERROR_ACCESS_DENIED,
                        where + "delete a key");
      checks.ExpectCode(RegFlushKey(key.get()), ERROR_SUCCESS, where + "flush");
      if (hold != nullptr) {
        // The writer changes the value while this reader stays open.
        resume->WriteByte();
        hold->ReadByte();
        checks.Expect(ReadBytes(key.get(), "Port") == "COM3\0"s, where + "see a later write");
      }
    };
  };

  {
    SCOPED_TRACE("a writer has the store open, with data only in its log");
    Pipe writer_ready, writer_go, reader_hold, reader_resume;
    ChildProcess writer([&](ChildChecks& checks) {
      writer_ready.KeepWriteEnd();
      writer_go.KeepReadEnd();
      checks.ExpectCode(registry.SetString(HKEY_LOCAL_MACHINE, kDevice, "Port", "COM1"),
                        ERROR_SUCCESS, "writer sets");
      writer_ready.WriteByte();
      writer_go.ReadByte();
      checks.ExpectCode(registry.SetString(HKEY_LOCAL_MACHINE, kDevice, "Port", "COM3"),
                        ERROR_SUCCESS, "writer sets again");
      writer_ready.WriteByte();
      writer_go.ReadByte();
    });
    writer_ready.KeepReadEnd();
    writer_go.KeepWriteEnd();
    ASSERT_TRUE(writer_ready.ReadByte());
    ChildProcess child(reader("live writer", &reader_hold, &reader_resume));
    reader_hold.KeepWriteEnd();
    reader_resume.KeepReadEnd();
    ASSERT_TRUE(reader_resume.ReadByte());
    writer_go.WriteByte();
    ASSERT_TRUE(writer_ready.ReadByte());
    reader_hold.WriteByte();
    EXPECT_EQ(child.Wait(), "");
    writer_go.WriteByte();
    EXPECT_EQ(writer.Wait(), "");
  }
  ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, kDevice, "Port", "COM1"), ERROR_SUCCESS);
  {
    SCOPED_TRACE("no process has the store open");
    EXPECT_EQ(RunInChild(reader("no writer", nullptr, nullptr)), "");
  }
  {
    SCOPED_TRACE("the log files are gone");
    // No process has the store open: the last fork closed ours.
    std::filesystem::remove(registry.store_path() + "-wal");
    std::filesystem::remove(registry.store_path() + "-shm");
    EXPECT_EQ(RunInChild(reader("no log files", nullptr, nullptr)), "");
  }
  for (const auto& entry : std::filesystem::directory_iterator(registry.root())) {
    struct stat st {};
    ASSERT_EQ(stat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << entry.path() << " was made by the reader";
  }
  EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, kDevice, "Port"), "COM1\0"s);
}

}  // namespace
}  // namespace opossvc::registry_test
