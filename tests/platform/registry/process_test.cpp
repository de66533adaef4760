// Several processes on one store: concurrent writers, and a reader that may
// not write the store.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opossvc/testing/temp_registry.h>
#include <opossvc/util.h>

#include "platform/internal/registry_read_snapshot.h"
#include "tests/platform/registry/registry_test_support.h"

namespace opossvc::registry_test {
namespace {

using std::string_literals::operator""s;

constexpr char kBase[] = "SOFTWARE\\Processes";

// Opens every file of the store in `folder` that this process may read and
// takes every lock it can on each: a shared flock, and read locks on every
// byte for the process and for the open file description. The files stay
// open.
void HoldEveryLock(const std::string& folder, ChildChecks& checks) {
  int held = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind("registry.db", 0) != 0) continue;
    int fd = open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    struct flock every_byte {};
    every_byte.l_type = F_RDLCK;
    every_byte.l_whence = SEEK_SET;
    held += flock(fd, LOCK_SH | LOCK_NB) == 0;
    held += fcntl(fd, F_SETLK, &every_byte) == 0;
    held += fcntl(fd, F_OFD_SETLK, &every_byte) == 0;
  }
  checks.Expect(held > 0, "no lock taken");
}

TEST(RegistryProcesses, TwoWritersAtOnceLoseNothing) {
  constexpr int kWrites = 150;
  opossvc::testing::TempRegistry registry;
  ScopedKey base;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kBase, &base), ERROR_SUCCESS);
  Pipe start;  // closed by the parent: both writers go at once
  auto writer = [&start](int id) {
    return [&start, id](ChildChecks& checks) {
      start.Reader().Receive();
      ScopedKey shared;
      checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, kBase, &shared), ERROR_SUCCESS, "open");
      for (int n = 0; n < kWrites; ++n) {
        std::string tag = std::to_string(id) + "_" + std::to_string(n);
        ScopedKey own;
        checks.ExpectCode(SetText(shared.get(), ("v" + tag).c_str(), tag), ERROR_SUCCESS, tag);
        checks.ExpectCode(Create(shared.get(), ("P" + std::to_string(id) + "\\" + tag).c_str(),
                                 &own),
                          ERROR_SUCCESS, tag);
      }
    };
  };
  ChildProcess first(writer(0)), second(writer(1));
  start.Reader();
  EXPECT_EQ(first.Wait(), "");
  EXPECT_EQ(second.Wait(), "");

  EXPECT_EQ(ValueNames(base.get()).size(), 2u * kWrites);
  for (int id = 0; id < 2; ++id) {
    ScopedKey own;
    ASSERT_EQ(Open(base.get(), ("P" + std::to_string(id)).c_str(), &own), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(own.get()).size(), static_cast<size_t>(kWrites));
    for (int n = 0; n < kWrites; ++n) {
      std::string tag = std::to_string(id) + "_" + std::to_string(n);
      ASSERT_EQ(ReadBytes(base.get(), ("v" + tag).c_str()), tag + '\0');
    }
  }
}

// Inside a read snapshot another process's commit stays unseen until the
// snapshot ends; the thread's own writes and every read call still work,
// and a write shows at once.
TEST(RegistryProcesses, AReadSnapshotHidesOtherProcessesCommits) {
  opossvc::testing::TempRegistry registry;
  ScopedKey key;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kBase, &key), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key.get(), "Port", "COM1"), ERROR_SUCCESS);
  Pipe go, done;
  ChildProcess writer([&](ChildChecks& checks) {
    go.Reader();
    done.Writer();
    go.Receive();
    ScopedKey child;
    checks.ExpectCode(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Processes\\New", &child),
                      ERROR_SUCCESS, "create");
    checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, kBase, &child), ERROR_SUCCESS, "open");
    checks.ExpectCode(SetText(child.get(), "Port", "COM2"), ERROR_SUCCESS, "write");
    done.Send();
  });
  go.Writer();
  done.Reader();
  {
    opossvc::detail::RegistryReadSnapshot snapshot;
    opossvc::detail::RegistryReadSnapshot nested;
    EXPECT_EQ(ReadBytes(key.get(), "Port"), "COM1\0"s);
    go.Send();
    ASSERT_TRUE(done.Receive());
    EXPECT_EQ(ReadBytes(key.get(), "Port"), "COM1\0"s);
    EXPECT_TRUE(SubkeyNames(key.get()).empty());
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 1u);
    EXPECT_EQ(SetText(key.get(), "Own", "x"), ERROR_SUCCESS);
    EXPECT_EQ(ReadBytes(key.get(), "Own"), "x\0"s);
  }
  EXPECT_EQ(ReadBytes(key.get(), "Port"), "COM2\0"s);
  EXPECT_EQ(SubkeyNames(key.get()), std::vector<std::string>{"New"});
  EXPECT_EQ(writer.Wait(), "");
}

// Configuration written by root, read by a service object running as an
// ordinary user: everything reads, nothing writes, no file is made, and no
// lock that the reader takes stops a write.
TEST(RegistryProcesses, AnOrdinaryUserReadsAStoreThatRootWrote) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a reader as another user";
  constexpr uid_t kNobody = 65534;
  constexpr char kDevice[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S1";
  opossvc::testing::TempRegistry registry;
  ASSERT_EQ(chmod(registry.root().c_str(), 0755), 0);
  ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, kDevice, "Port", "COM0"), ERROR_SUCCESS);

  const std::string root = registry.root();
  // `hold` (parent to reader) and `resume` (reader to parent), when given,
  // let a writer change the value while the reader stays open.
  auto reader = [&](std::string expected, Pipe* hold, Pipe* resume) {
    return [=](ChildChecks& checks) {
      setgroups(0, nullptr);
      if (!checks.Expect(setgid(kNobody) == 0 && setuid(kNobody) == 0, "drop privileges")) return;
      ScopedKey key, other;
      DWORD disposition = 0;
      checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, kDevice, &key, KEY_READ), ERROR_SUCCESS, "open");
      checks.Expect(ReadBytes(key.get(), "Port") == expected + '\0', "read a value");
      checks.ExpectCode(Create(HKEY_LOCAL_MACHINE, kDevice, &other, &disposition, KEY_READ),
                        ERROR_SUCCESS, "create-open an existing key for reading");
      checks.Expect(disposition == REG_OPENED_EXISTING_KEY, "disposition");
      checks.ExpectCode(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", &other, nullptr, KEY_READ),
                        ERROR_ACCESS_DENIED, "create a key");
      checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, kDevice, &other, KEY_WRITE), ERROR_ACCESS_DENIED,
                        "open for writing");
      checks.ExpectCode(Open(HKEY_LOCAL_MACHINE, kDevice, &other, MAXIMUM_ALLOWED), ERROR_SUCCESS,
                        "open for what may be had");
      checks.ExpectCode(SetText(other.get(), "Port", "X"), ERROR_ACCESS_DENIED, "write via it");
      checks.ExpectCode(SetText(HKEY_LOCAL_MACHINE, "x", "y"), ERROR_ACCESS_DENIED, "write a root");
      checks.ExpectCode(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDevice), ERROR_ACCESS_DENIED, "delete");
      checks.ExpectCode(RegFlushKey(key.get()), ERROR_SUCCESS, "flush");
      if (hold != nullptr) {
        HoldEveryLock(root, checks);
        resume->Writer().Send();
        hold->Reader().Receive();
        checks.Expect(ReadBytes(key.get(), "Port") == "COM2\0"s, "see a later write");
      }
    };
  };

  {
    SCOPED_TRACE("a writer has the store open, the newest data only in its log");
    const std::string update = registry.root() + "/update.reg";
    std::ofstream(update) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" << kDevice
                          << "]\r\n\"Port\"=\"COM2\"\r\n";
    Pipe ready, go;
    ChildProcess writer([&](ChildChecks& checks) {
      ready.Writer();
      go.Reader();
      checks.ExpectCode(registry.SetString(HKEY_LOCAL_MACHINE, kDevice, "Port", "COM1"),
                        ERROR_SUCCESS, "set");
      checks.ExpectCode(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS, "flush");
      ready.Send();
      go.Receive();
      // The reader now holds every lock it can take.
      checks.Expect(ImportRegistry(update.c_str()) == OPOSSVC_IMPORT_WRITTEN, "import");
      checks.ExpectCode(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS, "flush after import");
      ready.Send();
      go.Receive();
    });
    Pipe hold, resume;  // made after the writer's fork: a reader that ends early ends `resume`
    ASSERT_TRUE(ready.Reader().Receive());
    ChildProcess child(reader("COM1", &hold, &resume));
    ASSERT_TRUE(resume.Reader().Receive());
    go.Writer().Send();
    ASSERT_TRUE(ready.Receive());
    hold.Writer().Send();
    EXPECT_EQ(child.Wait(), "");
    go.Send();
    EXPECT_EQ(writer.Wait(), "");
  }
  // Ours is the last connection: the next fork closes it, which moves the
  // log into the file itself.
  ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, kDevice, "Port", "COM2"), ERROR_SUCCESS);
  EXPECT_EQ(RunInChild(reader("COM2", nullptr, nullptr)), "") << "no process has it open";
  // Without its log files the store is still readable.
  std::filesystem::remove(registry.store_path() + "-wal");
  std::filesystem::remove(registry.store_path() + "-shm");
  EXPECT_EQ(RunInChild(reader("COM2", nullptr, nullptr)), "") << "no log files";
  for (const auto& entry : std::filesystem::directory_iterator(registry.root())) {
    struct stat st {};
    ASSERT_EQ(stat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << entry.path() << " was made by the reader";
  }
}

}  // namespace
}  // namespace opossvc::registry_test
