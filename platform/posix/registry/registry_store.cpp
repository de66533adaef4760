#include "platform/posix/registry/registry_store.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <new>
#include <utility>
#include <vector>

#include <opossvc/win32/errors.h>

#include "platform/posix/text/ansi_codepage.h"
#include "platform/posix/files/environment.h"
#include "platform/posix/registry/read_snapshot_scope.h"
#include "platform/posix/registry/registry_migration.h"
#include "platform/posix/registry/registry_snapshot.h"
#include "platform/posix/registry/registry_text.h"
#include "platform/posix/registry/sqlite_connection.h"
#include "platform/posix/registry/store_reserve.h"
#include "platform/posix/registry/store_files.h"

namespace opossvc::detail {
namespace {

// Other users reach the snapshot, and drive C:, through the folder.
constexpr mode_t kFolderMode = 0755;
// SQLite's own checkpoint after a commit that leaves the log this long,
// which the commit hook stands in for.
constexpr int kCheckpointFrames = 1000;

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeEpochOffset = 11644473600LL;

// The statements of a connection, by slot.
enum Sql : size_t {
  kKeyAlive,
  kFindChild,
  kFindChildName,
  kChildAt,
  kChildFrom,
  kInsertKey,
  kTouchKey,
  kParentOf,
  kHasChild,
  kDeleteKeyRow,
  kDeleteKeyValues,
  kDeleteDescendantValues,
  kDeleteDescendants,
  kKeyRow,
  kSubkeyStats,
  kSubkeyClasses,
  kValueStats,
  kFixedKey,
  kValueByName,
  kValueAt,
  kValueFrom,
  kSetValue,
  kSetValueAt,
  kLastValuePlace,
  kDeleteValue,
  kBegin,
  kCommit,
  kRollback,
  kBeginRead,
  kSavepoint,
  kRelease,
  kRollbackTo,
};

constexpr const char* kSqlText[] = {
    "SELECT 1 FROM reg_key WHERE id = ?1",
    "SELECT id FROM reg_key WHERE parent = ?1 AND upper = ?2",
    "SELECT id, name FROM reg_key WHERE parent = ?1 AND upper = ?2",
    "SELECT name, class, written, upper FROM reg_key WHERE parent = ?1 "
    "ORDER BY upper LIMIT 1 OFFSET ?2",
    // The entry at a known place (?3 = 0) or the one after it (?3 = 1).
    "SELECT name, class, written, upper FROM reg_key WHERE parent = ?1 "
    "AND upper >= ?2 ORDER BY upper LIMIT 1 OFFSET ?3",
    "INSERT INTO reg_key(parent, name, upper, class, written) VALUES(?1, ?2, ?3, ?4, ?5)",
    "UPDATE reg_key SET written = ?2 WHERE id = ?1",
    "SELECT parent FROM reg_key WHERE id = ?1",
    "SELECT 1 FROM reg_key WHERE parent = ?1 LIMIT 1",
    "DELETE FROM reg_key WHERE id = ?1",
    "DELETE FROM reg_value WHERE key_id = ?1",
    "DELETE FROM reg_value WHERE key_id IN (WITH RECURSIVE below(id) AS ("
    "SELECT id FROM reg_key WHERE parent = ?1 UNION ALL "
    "SELECT reg_key.id FROM reg_key JOIN below ON reg_key.parent = below.id) SELECT id FROM below)",
    "DELETE FROM reg_key WHERE id IN (WITH RECURSIVE below(id) AS ("
    "SELECT id FROM reg_key WHERE parent = ?1 UNION ALL "
    "SELECT reg_key.id FROM reg_key JOIN below ON reg_key.parent = below.id) SELECT id FROM below)",
    "SELECT class, written FROM reg_key WHERE id = ?1",
    // A key's upper-case form has as many UTF-16 units as its name.
    "SELECT count(*), coalesce(max(length(upper)), 0) / 2 FROM reg_key WHERE parent = ?1",
    "SELECT class FROM reg_key WHERE parent = ?1 AND class <> ''",
    "SELECT count(*), coalesce(max(length(upper)), 0) / 2, coalesce(max(length(data)), 0) "
    "FROM reg_value WHERE key_id = ?1",
    "SELECT 1 FROM reg_key WHERE id = ?1 AND parent = ?2 AND upper = ?3",
    "SELECT type, data FROM reg_value WHERE key_id = ?1 AND upper = ?2",
    "SELECT name, type, data, seq FROM reg_value WHERE key_id = ?1 ORDER BY seq LIMIT 1 OFFSET ?2",
    "SELECT name, type, data, seq FROM reg_value WHERE key_id = ?1 AND seq >= ?2 "
    "ORDER BY seq LIMIT 1 OFFSET ?3",
    // Overwriting keeps the value's place and the letter case of its name.
    "INSERT INTO reg_value(key_id, seq, name, upper, type, data) VALUES(?1, "
    "(SELECT coalesce(max(seq), 0) + 1 FROM reg_value WHERE key_id = ?1), ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key_id, upper) DO UPDATE SET type = excluded.type, data = excluded.data",
    "INSERT INTO reg_value(key_id, seq, name, upper, type, data) VALUES(?1, ?6, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key_id, upper) DO UPDATE SET type = excluded.type, data = excluded.data",
    "SELECT coalesce(max(seq), 0) FROM reg_value WHERE key_id = ?1",
    "DELETE FROM reg_value WHERE key_id = ?1 AND upper = ?2",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "BEGIN",
    // One write inside a write group.
    "SAVEPOINT one_write",
    "RELEASE one_write",
    "ROLLBACK TO one_write",
};
static_assert(sizeof kSqlText / sizeof kSqlText[0] == kRollbackTo + 1);

int64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<int64_t>(now.tv_sec) + kFileTimeEpochOffset) * 10000000LL + now.tv_nsec / 100;
}

FILETIME ToFileTime(int64_t value) {
  auto bits = static_cast<uint64_t>(value);
  return FILETIME{static_cast<DWORD>(bits), static_cast<DWORD>(bits >> 32)};
}

DWORD ToDword(int64_t value) {
  return value < 0 ? 0 : value > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<DWORD>(value);
}

std::string ReservePath(const std::string& file) { return file + "-reserve"; }

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool Writable(const std::string& path) {
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// The path as a "file:" URI, for opens that need URI parameters.
std::string FileUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

// Whether a read-only open failed because the -wal/-shm files are missing
// and cannot be made.
bool LogUnavailable(SqliteConnection& connection) {
  int code = sqlite3_extended_errcode(connection.db());
  return (code & 0xff) == SQLITE_CANTOPEN || (code & 0xff) == SQLITE_READONLY;
}

// Runs after each commit of a read-write connection, its write lock given
// back: the commit is published, and the log checkpointed as SQLite's own
// hook, which this one replaces, would.
int AfterCommit(void* publisher, sqlite3* db, const char* name, int frames) {
  static_cast<SnapshotPublisher*>(publisher)->Request();
  if (frames >= kCheckpointFrames) {
    sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  }
  return SQLITE_OK;
}

bool SameFile(const std::string& path, dev_t device, ino_t inode) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

// Rows of the listing statements: kChildAt and kChildFrom, kValueAt and
// kValueFrom.
void ReadSubkey(const Statement& row, SubkeyEntry* out, ListPosition* position) {
  out->name.assign(row.Text(0));
  out->class_name.assign(row.Text(1));
  out->written = ToFileTime(row.Int(2));
  position->key.assign(row.Blob(3));
}

void ReadValue(const Statement& row, ValueEntry* out, ListPosition* position) {
  out->name.assign(row.Text(0));
  out->type = static_cast<DWORD>(row.Int(1));
  out->data.assign(row.Blob(2));
  position->seq = row.Int(3);
}

}  // namespace

// The process's stores: the current one, and all that are alive, which
// fork() handling must reach. Never destroyed, so that handles closed from
// static destructors still find it.
class StoreCache {
 public:
  static StoreCache& Get() {
    static StoreCache* cache = new StoreCache;
    return *cache;
  }

  std::shared_ptr<RegistryStore> Current() OPOSSVC_EXCLUDES(mu_) {
    std::string folder = OposRoot();
    MutexLock lock(mu_);
    if (current_ && current_->folder_ == folder && current_->StillNamesItsFile()) return current_;
    auto store = std::make_shared<RegistryStore>(std::move(folder));
    std::erase_if(stores_, [](const std::weak_ptr<RegistryStore>& s) { return s.expired(); });
    stores_.push_back(store);
    current_ = store;
    return store;
  }

 private:
  StoreCache() {
    pthread_atfork(&PrepareFork, &AfterForkInParent, &AfterForkInChild);
    atexit(&PublishAtExit);
  }

  // Runs in the forking thread just before fork(): with every store locked,
  // its connection closed and no snapshot being made, neither process
  // inherits SQLite state or a publication's lock.
  static void PrepareFork() OPOSSVC_NO_THREAD_SAFETY_ANALYSIS {
    StoreCache& cache = Get();
    cache.mu_.Lock();
    for (const std::weak_ptr<RegistryStore>& weak : cache.stores_) {
      if (std::shared_ptr<RegistryStore> store = weak.lock()) {
        store->mu_.Lock();
        store->CloseConnection();
        store->publisher_.PrepareFork();
        cache.forking_.push_back(std::move(store));
      }
    }
  }

  static void AfterFork(bool child) OPOSSVC_NO_THREAD_SAFETY_ANALYSIS {
    StoreCache& cache = Get();
    for (auto it = cache.forking_.rbegin(); it != cache.forking_.rend(); ++it) {
      RegistryStore& store = **it;
      if (child) {
        store.publisher_.AfterForkInChild();
        // Its holder and the calls that waited are threads of the parent.
        store.held_ = false;
        store.waiting_ = 0;
      } else {
        store.publisher_.AfterForkInParent();
      }
      store.mu_.Unlock();
    }
    cache.forking_.clear();
    cache.mu_.Unlock();
  }
  static void AfterForkInParent() { AfterFork(false); }
  static void AfterForkInChild() { AfterFork(true); }

  // What the process committed reaches the readers before it ends.
  static void PublishAtExit() {
    StoreCache& cache = Get();
    std::vector<std::shared_ptr<RegistryStore>> stores;
    {
      MutexLock lock(cache.mu_);
      for (const std::weak_ptr<RegistryStore>& weak : cache.stores_) {
        if (std::shared_ptr<RegistryStore> store = weak.lock()) stores.push_back(std::move(store));
      }
    }
    for (const std::shared_ptr<RegistryStore>& store : stores) store->publisher_.PublishPending();
  }

  Mutex mu_;  // acquired before any store's mutex
  std::shared_ptr<RegistryStore> current_ OPOSSVC_GUARDED_BY(mu_);
  std::vector<std::weak_ptr<RegistryStore>> stores_ OPOSSVC_GUARDED_BY(mu_);
  // Stores locked by PrepareFork, unlocked by AfterFork.
  std::vector<std::shared_ptr<RegistryStore>> forking_ OPOSSVC_GUARDED_BY(mu_);
};

// One write transaction; rolled back unless committed. Inside a write group
// (a transaction already open) it is a savepoint of the group's.
class RegistryStore::Transaction {
 public:
  explicit Transaction(SqliteConnection& connection) : connection_(connection) {}
  ~Transaction() {
    if (!open_) return;
    if (nested_) {
      for (Sql slot : {kRollbackTo, kRelease}) {
        Statement statement(connection_, slot, kSqlText[slot]);
        if (statement.status() == ERROR_SUCCESS) statement.Step();
      }
    } else if (!sqlite3_get_autocommit(connection_.db())) {
      Statement rollback(connection_, kRollback, kSqlText[kRollback]);
      if (rollback.status() == ERROR_SUCCESS) rollback.Step();
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  LONG Begin() {
    nested_ = !sqlite3_get_autocommit(connection_.db());
    return Run(nested_ ? kSavepoint : kBegin, true);
  }
  // Leaves the transaction open for the caller, who ends it.
  void Release() { open_ = false; }
  LONG Commit() { return Run(nested_ ? kRelease : kCommit, false); }

 private:
  LONG Run(Sql slot, bool opens) {
    Statement statement(connection_, slot, kSqlText[slot]);
    if (statement.status() != ERROR_SUCCESS) return statement.status();
    int result = statement.Step();
    if (result != SQLITE_DONE) return statement.Error(result);
    open_ = opens;
    return ERROR_SUCCESS;
  }

  SqliteConnection& connection_;
  bool open_ = false;
  bool nested_ = false;
};

// The store's mutex for one call, taken once no other thread holds a read
// snapshot of the store.
class OPOSSVC_SCOPED_CAPABILITY RegistryStore::Call {
 public:
  explicit Call(RegistryStore& store) OPOSSVC_ACQUIRE(store.mu_) : store_(store) { Enter(); }
  ~Call() OPOSSVC_RELEASE() { store_.mu_.Unlock(); }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

 private:
  void Enter() OPOSSVC_NO_THREAD_SAFETY_ANALYSIS {
    store_.mu_.Lock();
    store_.AwaitTurn(false);
  }

  RegistryStore& store_;
};

std::shared_ptr<RegistryStore> RegistryStore::Current() { return StoreCache::Get().Current(); }

RegistryStore::RegistryStore(std::string folder)
    : folder_(std::move(folder)),
      file_(folder_ + (folder_ == "/" ? "" : "/") + "registry.db"),
      publisher_(file_) {}

RegistryStore::~RegistryStore() = default;

bool RegistryStore::StillNamesItsFile() {
  MutexLock lock(mu_);
  if (!have_identity_) return true;
  // The calling thread's write group or read snapshot stays on this store
  // to its end, whatever happens to the file meanwhile.
  if (OwnsGroup() || HoldsSnapshot()) return true;
  struct stat st {};
  if (stat(file_.c_str(), &st) != 0) return false;
  return st.st_dev == device_ && st.st_ino == inode_;
}

void RegistryStore::CloseConnection() {
  reading_ = false;  // closing ends the transaction
  if (group_open_) group_lost_ = true;
  ForgetGroupKeys();
  cursors_.Clear();
  connection_.reset();
  mode_ = Mode::kClosed;
  have_identity_ = false;
}

void RegistryStore::RememberFile() {
  struct stat st {};
  have_identity_ = stat(file_.c_str(), &st) == 0;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  size_ = st.st_size;
  mtime_ns_ = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// ---------------------------------------------------------------------------
// Opening

void RegistryStore::WaitForOtherGroups() {
  while (group_open_ && group_owner_ != std::this_thread::get_id()) mu_.Wait(group_ended_);
}

LONG RegistryStore::EnsureReadable() {
  for (;;) {
    AwaitOthers();
    // Inside the calling thread's write group or read snapshot the connection
    // stays as it is.
    if ((group_open_ && !group_lost_) || reading_) return ERROR_SUCCESS;
    if (LONG error = EnsureOpen()) return error;
    if (!InReadSnapshot()) return ERROR_SUCCESS;
    AwaitTurn(true);
    // Another call may have closed the connection (before a fork) or begun a
    // write group meanwhile.
    if (mode_ != Mode::kClosed && !group_open_) break;
  }
  Statement begin(*connection_, kBeginRead, kSqlText[kBeginRead]);
  if (begin.status() != ERROR_SUCCESS) return begin.status();
  if (int result = begin.Step(); result != SQLITE_DONE) return begin.Error(result);
  reading_ = true;
  held_ = true;
  holder_ = pthread_self();
  JoinReadSnapshot(shared_from_this());
  return ERROR_SUCCESS;
}

void RegistryStore::AwaitOthers() {
  for (;;) {
    AwaitTurn(false);  // waits only while another thread holds a snapshot
    if (!group_open_ || group_owner_ == std::this_thread::get_id()) return;
    WaitForOtherGroups();
  }
}

void RegistryStore::AwaitTurn(bool begin) {
  for (;;) {
    if (held_ && !HoldsSnapshot()) {
      ++waiting_;
      while (held_) mu_.Wait(turn_);
      if (--waiting_ == 0) turn_.notify_all();
    } else if (begin && !held_ && waiting_ > 0) {
      mu_.Wait(turn_);
    } else {
      return;
    }
  }
}

void RegistryStore::EndRead() {
  if (!reading_) return;
  reading_ = false;
  // A read transaction has nothing to commit; ending it cannot fail short
  // of a broken connection, which the next call finds.
  if (sqlite3_get_autocommit(connection_->db())) return;
  Statement commit(*connection_, kCommit, kSqlText[kCommit]);
  if (commit.status() == ERROR_SUCCESS) commit.Step();
}

void RegistryStore::EndReadSnapshot() {
  MutexLock lock(mu_);
  if (!HoldsSnapshot()) return;
  EndRead();
  held_ = false;
  turn_.notify_all();
}

LONG RegistryStore::EnsureOpen() {
  switch (mode_) {
    case Mode::kReadWrite:
      return ERROR_SUCCESS;
    case Mode::kSnapshot:
      if (SameFile(SnapshotFile(file_), snapshot_device_, snapshot_inode_)) return ERROR_SUCCESS;
      break;
    case Mode::kReadOnly:
      // A writer now publishes: read that, and no longer the store itself.
      if (!Exists(SnapshotFile(file_))) return ERROR_SUCCESS;
      break;
    case Mode::kImmutable:
      // A writer made a log: the file alone no longer tells everything.
      if (!Exists(LogFile(file_)) && !Exists(SnapshotFile(file_))) return ERROR_SUCCESS;
      break;
    case Mode::kEmpty: {
      struct stat st {};
      bool exists = stat(file_.c_str(), &st) == 0;
      if (!exists && !have_identity_) return ERROR_SUCCESS;
      int64_t mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
      if (exists && have_identity_ && st.st_dev == device_ && st.st_ino == inode_ &&
          st.st_size == size_ && mtime_ns == mtime_ns_) {
        return ERROR_SUCCESS;  // still the blank file we could not initialise
      }
      break;
    }
    case Mode::kClosed:
      break;
  }
  CloseConnection();
  return OpenForReading();
}

LONG RegistryStore::EnsureWritable() {
  AwaitOthers();
  // The group's connection stays, whatever happens to the file meanwhile;
  // a lost group's writes go through one by one.
  if (group_open_ && !group_lost_) return ERROR_SUCCESS;
  // A write begins a transaction of its own.
  EndRead();
  if (mode_ == Mode::kReadWrite) return ERROR_SUCCESS;
  // Decide before giving up the connection we read with.
  if (LONG error = CheckForLinks(folder_, file_)) return error;
  if (LONG error = PrepareFiles()) return error;
  if (!FilesWritable()) return ERROR_ACCESS_DENIED;
  CloseConnection();
  return OpenReadWrite();
}

LONG RegistryStore::CanWrite() {
  Call call(*this);
  if (mode_ == Mode::kReadWrite) return ERROR_SUCCESS;
  return EnsureWritable();
}

LONG RegistryStore::OpenForReading() {
  if (LONG error = CheckForLinks(folder_, file_)) return error;
  struct stat st {};
  if (stat(file_.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return OpenEmpty();
    return Win32ErrorFromStoreErrno(errno, ERROR_CANTOPEN);
  }
  if (FilesWritable()) return OpenReadWrite();
  return Exists(SnapshotFile(file_)) ? OpenSnapshot() : OpenReadOnly();
}

// Makes $OPOS_ROOT (when its parent exists) and an empty store file.
LONG RegistryStore::PrepareFiles() {
  if (mkdir(folder_.c_str(), kFolderMode) == 0) {
    chmod(folder_.c_str(), kFolderMode);  // whatever the umask
  } else if (errno != EEXIST) {
    return Win32ErrorFromStoreErrno(errno, ERROR_CANTOPEN);
  }
  int fd = open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kStoreMode);
  if (fd >= 0) {
    fchmod(fd, kStoreMode);  // whatever the umask
    close(fd);
  } else if (errno != EEXIST) {
    return Win32ErrorFromStoreErrno(errno, ERROR_CANTOPEN);
  }
  return ERROR_SUCCESS;
}

// The file itself, and the folder or else the log files that SQLite writes
// beside it.
bool RegistryStore::FilesWritable() const {
  if (!Writable(file_)) return false;
  if (Writable(folder_)) return true;
  return Writable(file_ + "-wal") && Writable(file_ + "-shm");
}

LONG RegistryStore::OpenReadWrite() {
  std::unique_ptr<SqliteConnection> connection;
  if (LONG error = SqliteConnection::Open(file_, SQLITE_OPEN_READWRITE, &connection)) return error;
  sqlite3_busy_timeout(connection->db(), kBusyTimeoutMs);
  sqlite3_wal_hook(connection->db(), &AfterCommit, &publisher_);
  Schema schema;
  if (LONG error = ReadSchema(*connection, &schema)) return error;
  if (schema == Schema::kForeign) return ERROR_BADDB;
  // Made here, before SQLite makes them, where they cannot be links that
  // another user put in their place.
  MakeBeside(LogFile(file_), file_);
  MakeBeside(LogIndexFile(file_), file_);
  // Keep -wal and -shm after the last connection closes, so that readers
  // who may not create them can still open the store.
  int persist = 1;
  if (int result =
          sqlite3_file_control(connection->db(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist)) {
    return connection->ErrorFor(result);
  }
  std::string journal;
  if (LONG error = connection->QueryText("PRAGMA journal_mode = WAL", &journal)) return error;
  if (journal != "wal") return ERROR_CANTWRITE;
  // Temporary tables (the keys of a tree being deleted) stay in memory: a
  // full disk must not stop a delete.
  if (LONG error = connection->Execute("PRAGMA synchronous = NORMAL; "
                                       "PRAGMA journal_size_limit = 1048576; "
                                       "PRAGMA temp_store = MEMORY")) {
    return error;
  }
  if (schema != Schema::kCurrent) {
    // Another process may be making the schema, or migrating, at the same
    // time.
    Transaction transaction(*connection);
    if (LONG error = transaction.Begin()) return error;
    if (LONG error = ReadSchema(*connection, &schema)) return error;
    if (schema == Schema::kForeign) return ERROR_BADDB;
    if (schema == Schema::kBlank) {
      if (LONG error = CreateSchema(*connection)) return error;
    } else if (schema == Schema::kFirstFormat) {
      if (LONG error = MigrateFirstFormat(*connection, ActiveCodePage())) return error;
    }
    if (LONG error = transaction.Commit()) return error;
  }
  connection_ = std::move(connection);
  mode_ = Mode::kReadWrite;
  RememberFile();
  FillReserve(ReservePath(file_));
  ShareWithReaders();
  return ERROR_SUCCESS;
}

// Failures leave the snapshot as it was: the store stays as readable as its
// modes were, and the next commit publishes again.
void RegistryStore::ShareWithReaders() {
  const std::string snapshot = SnapshotFile(file_);
  if (!Exists(snapshot)) {
    publisher_.PublishNow(false);
  } else if (!SnapshotCurrent(file_)) {
    publisher_.Request();
  }
  if (Exists(snapshot)) MakePrivate(file_);
}

LONG RegistryStore::OpenSnapshot() {
  const std::string snapshot = SnapshotFile(file_);
  // Known before it is opened: a newer one renamed in between is opened by
  // the next call.
  struct stat st {};
  if (stat(snapshot.c_str(), &st) != 0) return Win32ErrorFromStoreErrno(errno, ERROR_CANTOPEN);
  std::unique_ptr<SqliteConnection> connection;
  if (LONG error = SqliteConnection::Open(FileUri(snapshot) + "?mode=ro&immutable=1",
                                          SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, &connection)) {
    return error;
  }
  Schema schema;
  if (LONG error = ReadSchema(*connection, &schema)) return error;
  if (schema != Schema::kCurrent) return ERROR_BADDB;
  connection_ = std::move(connection);
  mode_ = Mode::kSnapshot;
  RememberFile();
  snapshot_device_ = st.st_dev;
  snapshot_inode_ = st.st_ino;
  return ERROR_SUCCESS;
}

LONG RegistryStore::OpenReadOnly() {
  const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
  std::unique_ptr<SqliteConnection> connection;
  if (LONG error = SqliteConnection::Open(FileUri(file_) + "?mode=ro", flags, &connection)) {
    return error;
  }
  sqlite3_busy_timeout(connection->db(), kBusyTimeoutMs);
  Mode mode = Mode::kReadOnly;
  Schema schema;
  LONG error = ReadSchema(*connection, &schema);
  if (error != ERROR_SUCCESS && LogUnavailable(*connection)) {
    // Without -shm and -wal the file alone can be read, but only while it
    // has no log that holds newer data.
    struct stat wal {};
    if (stat((file_ + "-wal").c_str(), &wal) == 0 && wal.st_size > 0) return ERROR_ACCESS_DENIED;
    connection.reset();
    error = SqliteConnection::Open(FileUri(file_) + "?mode=ro&immutable=1", flags, &connection);
    if (error != ERROR_SUCCESS) return error;
    mode = Mode::kImmutable;
    error = ReadSchema(*connection, &schema);
  }
  if (error != ERROR_SUCCESS) return error;
  // A store of format 1 waits for a process that may migrate it.
  if (schema == Schema::kForeign || schema == Schema::kFirstFormat) return ERROR_BADDB;
  if (schema == Schema::kBlank) {
    LONG empty = OpenEmpty();
    RememberFile();  // reopen once the blank file changes
    return empty;
  }
  connection_ = std::move(connection);
  mode_ = mode;
  RememberFile();
  return ERROR_SUCCESS;
}

// No store yet: an in-memory one with the fixed keys alone answers the reads.
LONG RegistryStore::OpenEmpty() {
  std::unique_ptr<SqliteConnection> connection;
  if (LONG error = SqliteConnection::Open(":memory:", SQLITE_OPEN_READWRITE, &connection)) {
    return error;
  }
  if (LONG error = CreateSchema(*connection)) return error;
  connection_ = std::move(connection);
  mode_ = Mode::kEmpty;
  have_identity_ = false;
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Building blocks; every one needs an open connection.

LONG RegistryStore::Alive(KeyId id) {
  const bool grouped = InOwnGroup();
  if (grouped && group_alive_.count(id) != 0) return ERROR_SUCCESS;
  Statement query(*connection_, kKeyAlive, kSqlText[kKeyAlive]);
  if (query.status() != ERROR_SUCCESS) return query.status();
  query.Bind(1, id);
  int result = query.Step();
  if (result == SQLITE_ROW) {
    if (grouped) group_alive_.insert(id);
    return ERROR_SUCCESS;
  }
  if (result == SQLITE_DONE) return ERROR_KEY_DELETED;
  return query.Error(result);
}

namespace {

// A child's name under its parent, as the group's key cache knows it.
std::string ChildKey(KeyId parent, std::string_view upper) {
  std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
  key.append(upper);
  return key;
}

}  // namespace

LONG RegistryStore::FindChild(KeyId parent, const RegistryName& name, KeyId* child,
                              std::string* stored) {
  const bool grouped = InOwnGroup();
  std::string key;
  if (grouped) {
    key = ChildKey(parent, name.key);
    if (auto it = group_children_.find(key); it != group_children_.end()) {
      if (it->second.id == kNoKey) return ERROR_FILE_NOT_FOUND;
      *child = it->second.id;
      if (stored != nullptr) *stored = it->second.name;
      return ERROR_SUCCESS;
    }
  }
  // The group remembers the stored name too, which costs it nothing more.
  const Sql slot = grouped || stored != nullptr ? kFindChildName : kFindChild;
  Statement find(*connection_, slot, kSqlText[slot]);
  if (find.status() != ERROR_SUCCESS) return find.status();
  find.Bind(1, parent);
  find.BindBlob(2, name.key);
  int result = find.Step();
  if (result == SQLITE_DONE) {
    // Asked again when the key is created next.
    if (grouped) RememberChild(std::move(key), kNoKey, {});
    return ERROR_FILE_NOT_FOUND;
  }
  if (result != SQLITE_ROW) return find.Error(result);
  *child = find.Int(0);
  if (stored != nullptr) stored->assign(find.Text(1));
  if (grouped) RememberChild(std::move(key), *child, find.Text(1));
  return ERROR_SUCCESS;
}

void RegistryStore::AddTouched(KeyId id) {
  if (group_touched_.empty() || group_touched_.back() != id) group_touched_.push_back(id);
}

void RegistryStore::RememberChild(std::string key, KeyId child, std::string_view name) {
  group_children_.insert_or_assign(std::move(key), GroupChild{child, std::string(name)});
  if (child != kNoKey) group_alive_.insert(child);
}

void RegistryStore::ForgetGroupKeys() {
  group_children_.clear();
  group_alive_.clear();
  group_next_place_.clear();
}

LONG RegistryStore::Resolve(KeyId from, const KeyPath& path, KeyId* id,
                            std::vector<std::string>* names) {
  if (path.empty()) {
    if (LONG error = Alive(from)) return error;
    *id = from;
    return ERROR_SUCCESS;
  }
  KeyId current = from;
  std::string stored;
  for (size_t i = 0; i < path.names.size(); ++i) {
    LONG error = FindChild(current, path.names[i], &current, names != nullptr ? &stored : nullptr);
    if (error == ERROR_SUCCESS) {
      if (names != nullptr) names->push_back(stored);
      continue;
    }
    if (error != ERROR_FILE_NOT_FOUND) return error;
    // Nothing below a key that is gone: say so rather than "not found".
    if (i == 0) {
      if (LONG gone = Alive(from)) return gone;
    }
    return ERROR_FILE_NOT_FOUND;
  }
  *id = current;
  return ERROR_SUCCESS;
}

// The data version of the snapshot read last, which changes with every
// commit to the file, by this connection or any other.
bool RegistryStore::DataVersion(unsigned* version) {
  return sqlite3_file_control(connection_->db(), "main", SQLITE_FCNTL_DATA_VERSION, version) ==
         SQLITE_OK;
}

LONG RegistryStore::Touch(KeyId id) { return Touch(id, Now()); }

LONG RegistryStore::Touch(KeyId id, int64_t when) {
  Statement update(*connection_, kTouchKey, kSqlText[kTouchKey]);
  if (update.status() != ERROR_SUCCESS) return update.status();
  update.Bind(1, id);
  update.Bind(2, when);
  int result = update.Step();
  return result == SQLITE_DONE ? ERROR_SUCCESS : update.Error(result);
}

LONG RegistryStore::IsFixed(KeyId id, bool* fixed) {
  if (IsRootId(id)) {
    *fixed = true;
    return ERROR_SUCCESS;
  }
  const RegistryName software = MakeName(kSoftwareName);
  Statement query(*connection_, kFixedKey, kSqlText[kFixedKey]);
  if (query.status() != ERROR_SUCCESS) return query.status();
  query.Bind(1, id);
  query.Bind(2, kLocalMachineId);
  query.BindBlob(3, software.key);
  int result = query.Step();
  if (result != SQLITE_ROW && result != SQLITE_DONE) return query.Error(result);
  *fixed = result == SQLITE_ROW;
  return ERROR_SUCCESS;
}

LONG RegistryStore::ParentOf(KeyId id, KeyId* parent) {
  Statement query(*connection_, kParentOf, kSqlText[kParentOf]);
  if (query.status() != ERROR_SUCCESS) return query.status();
  query.Bind(1, id);
  int result = query.Step();
  if (result == SQLITE_ROW) {
    *parent = query.Int(0);
    return ERROR_SUCCESS;
  }
  return result == SQLITE_DONE ? ERROR_KEY_DELETED : query.Error(result);
}

// Removes one key row and its values; the caller has made sure it has no
// subkeys left.
LONG RegistryStore::RemoveKeyRow(KeyId id) {
  for (Sql slot : {kDeleteKeyValues, kDeleteKeyRow}) {
    Statement remove(*connection_, slot, kSqlText[slot]);
    if (remove.status() != ERROR_SUCCESS) return remove.status();
    remove.Bind(1, id);
    int result = remove.Step();
    if (result != SQLITE_DONE) return remove.Error(result);
  }
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Reads

LONG RegistryStore::CheckKey(KeyId id) {
  Call call(*this);
  if (LONG error = EnsureReadable()) return error;
  return Alive(id);
}

LONG RegistryStore::Open(KeyId from, const KeyPath& path, KeyId* id) {
  Call call(*this);
  if (LONG error = EnsureReadable()) return error;
  return Resolve(from, path, id);
}

LONG RegistryStore::StoredNames(KeyId from, const KeyPath& path, std::vector<std::string>* names) {
  Call call(*this);
  if (LONG error = EnsureReadable()) return error;
  KeyId id = 0;
  names->clear();
  return Resolve(from, path, &id, names);
}

// Subkeys and values are listed by index. An index just after the one asked
// last (or the same) continues from the cursor left then, when the snapshot
// read now has the cursor's data version; any other index is counted from
// the start, and leaves a cursor for the next call.

// What tells the two listings apart: their statements and how a row and a
// cursor's place are read and bound.
template <class Entry>
struct Listing;

template <>
struct Listing<SubkeyEntry> {
  static constexpr ListKind kKind = ListKind::kSubkeys;
  static constexpr Sql kAt = kChildAt;
  static constexpr Sql kFrom = kChildFrom;
  // Binds the place after the key id; returns the next parameter's number.
  static int BindPlace(Statement& query, const ListPosition& place) {
    query.BindBlob(2, place.key);
    return 3;
  }
  static void Read(const Statement& row, SubkeyEntry* out, ListPosition* place) {
    ReadSubkey(row, out, place);
  }
};

template <>
struct Listing<ValueEntry> {
  static constexpr ListKind kKind = ListKind::kValues;
  static constexpr Sql kAt = kValueAt;
  static constexpr Sql kFrom = kValueFrom;
  static int BindPlace(Statement& query, const ListPosition& place) {
    query.Bind(2, place.seq);
    return 3;
  }
  static void Read(const Statement& row, ValueEntry* out, ListPosition* place) {
    ReadValue(row, out, place);
  }
};

template <class Entry>
LONG RegistryStore::ListEntry(KeyId id, DWORD index, Entry* out) {
  using L = Listing<Entry>;
  ListPosition position;
  unsigned version = 0;
  if (const ListCursor* cursor = cursors_.Near(id, L::kKind, index)) {
    const unsigned expected = cursor->version;
    bool found = false;
    {
      // Bound to the cursor's strings: done with before the cursor moves on.
      Statement query(*connection_, L::kFrom, kSqlText[L::kFrom]);
      if (query.status() != ERROR_SUCCESS) return query.status();
      query.Bind(1, id);
      const int next = L::BindPlace(query, cursor->position);
      query.Bind(next, static_cast<int64_t>(index - cursor->index));
      int result = query.Step();
      if (result != SQLITE_ROW && result != SQLITE_DONE) return query.Error(result);
      if (DataVersion(&version) && version == expected) {
        // Unchanged since the cursor's entry was read: the key is still there.
        if (result == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
        L::Read(query, out, &position);
        found = true;
      }
    }
    if (found) {
      cursors_.Remember(id, L::kKind, index, version, std::move(position));
      return ERROR_SUCCESS;
    }
  }
  {
    Statement query(*connection_, L::kAt, kSqlText[L::kAt]);
    if (query.status() != ERROR_SUCCESS) return query.status();
    query.Bind(1, id);
    query.Bind(2, static_cast<int64_t>(index));
    int result = query.Step();
    if (result != SQLITE_ROW) {
      if (result != SQLITE_DONE) return query.Error(result);
      if (LONG error = Alive(id)) return error;
      return ERROR_NO_MORE_ITEMS;
    }
    L::Read(query, out, &position);
    if (!DataVersion(&version)) return ERROR_SUCCESS;
  }
  cursors_.Remember(id, L::kKind, index, version, std::move(position));
  return ERROR_SUCCESS;
}

LONG RegistryStore::Subkey(KeyId id, DWORD index, SubkeyEntry* out) {
  Call call(*this);
  if (LONG error = EnsureReadable()) return error;
  return ListEntry(id, index, out);
}

LONG RegistryStore::QueryValue(KeyId id, const RegistryName& name, DWORD* type,
                               std::string* data) {
  Call call(*this);
  if (LONG error = EnsureReadable()) return error;
  Statement query(*connection_, kValueByName, kSqlText[kValueByName]);
  if (query.status() != ERROR_SUCCESS) return query.status();
  query.Bind(1, id);
  query.BindBlob(2, name.key);
  int result = query.Step();
  if (result == SQLITE_ROW) {
    *type = static_cast<DWORD>(query.Int(0));
    data->assign(query.Blob(1));
    return ERROR_SUCCESS;
  }
  if (result != SQLITE_DONE) return query.Error(result);
  if (LONG error = Alive(id)) return error;
  return ERROR_FILE_NOT_FOUND;
}

LONG RegistryStore::Value(KeyId id, DWORD index, ValueEntry* out) {
  Call call(*this);
  if (LONG error = EnsureReadable()) return error;
  return ListEntry(id, index, out);
}

LONG RegistryStore::Info(KeyId id, KeyInfo* out) {
  Call call(*this);
  if (LONG error = EnsureReadable()) return error;
  // One snapshot for all the queries: a transaction of their own unless
  // the caller's snapshot is open.
  const bool own = sqlite3_get_autocommit(connection_->db()) != 0;
  if (own) {
    if (LONG error = connection_->Execute("BEGIN")) return error;
  }
  struct EndInfoRead {
    SqliteConnection& connection;
    bool own;
    ~EndInfoRead() {
      if (own) connection.Execute("COMMIT");
    }
  } end_read{*connection_, own};

  Statement key(*connection_, kKeyRow, kSqlText[kKeyRow]);
  if (key.status() != ERROR_SUCCESS) return key.status();
  key.Bind(1, id);
  int result = key.Step();
  if (result == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (result != SQLITE_ROW) return key.Error(result);
  out->class_name.assign(key.Text(0));
  out->written = ToFileTime(key.Int(1));

  Statement subkeys(*connection_, kSubkeyStats, kSqlText[kSubkeyStats]);
  if (subkeys.status() != ERROR_SUCCESS) return subkeys.status();
  subkeys.Bind(1, id);
  result = subkeys.Step();
  if (result != SQLITE_ROW) return subkeys.Error(result);
  out->subkeys = ToDword(subkeys.Int(0));
  out->max_subkey_name = ToDword(subkeys.Int(1));

  // Classes are rare; those there are get counted one by one.
  Statement classes(*connection_, kSubkeyClasses, kSqlText[kSubkeyClasses]);
  if (classes.status() != ERROR_SUCCESS) return classes.status();
  classes.Bind(1, id);
  size_t max_class = 0;
  while ((result = classes.Step()) == SQLITE_ROW) {
    max_class = std::max(max_class, Utf16Length(classes.Text(0)));
  }
  if (result != SQLITE_DONE) return classes.Error(result);
  out->max_subkey_class = ToDword(static_cast<int64_t>(max_class));

  Statement values(*connection_, kValueStats, kSqlText[kValueStats]);
  if (values.status() != ERROR_SUCCESS) return values.status();
  values.Bind(1, id);
  result = values.Step();
  if (result != SQLITE_ROW) return values.Error(result);
  out->values = ToDword(values.Int(0));
  out->max_value_name = ToDword(values.Int(1));
  out->max_value_data = ToDword(values.Int(2));
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Writes

LONG RegistryStore::Create(KeyId from, const KeyPath& path, std::string_view class_name,
                           KeyId* id, bool* created) {
  Call call(*this);
  *created = false;
  if (LONG error = EnsureWritable()) return error;
  // In the calling thread's write group a key made with one row needs no
  // savepoint: that insert is whole or undone by SQLite alone.
  const bool grouped = InOwnGroup();
  size_t missing = path.names.size();
  if (grouped) {
    if (LONG error = Alive(from)) return error;
    KeyId found = from;
    for (size_t i = 0; i < path.names.size(); ++i, --missing) {
      LONG error = FindChild(found, path.names[i], &found, nullptr);
      if (error == ERROR_FILE_NOT_FOUND) break;
      if (error != ERROR_SUCCESS) return error;
    }
  }
  const bool one_row = grouped && missing <= 1;
  Transaction transaction(*connection_);
  KeyId current = from;
  bool made = false;
  auto insert_missing = [&]() OPOSSVC_REQUIRES(mu_) -> LONG {
    if (!one_row) {
      if (LONG error = transaction.Begin()) return error;
      if (LONG error = Alive(from)) return error;
    }
    int64_t now = Now();
    for (size_t i = 0; i < path.names.size(); ++i) {
      const RegistryName& name = path.names[i];
      {
        LONG error = FindChild(current, name, &current, nullptr);
        if (error == ERROR_SUCCESS) continue;
        if (error != ERROR_FILE_NOT_FOUND) return error;
      }
      bool last = i + 1 == path.names.size();
      Statement insert(*connection_, kInsertKey, kSqlText[kInsertKey]);
      if (insert.status() != ERROR_SUCCESS) return insert.status();
      insert.Bind(1, current);
      insert.Bind(2, name.text);
      insert.BindBlob(3, name.key);
      insert.Bind(4, last ? class_name : std::string_view());
      insert.Bind(5, now);
      int result = insert.Step();
      if (result != SQLITE_DONE) {
        if (one_row && sqlite3_get_autocommit(connection_->db())) group_lost_ = true;
        return insert.Error(result);
      }
      if (grouped) {
        AddTouched(current);
      } else if (LONG error = Touch(current)) {
        return error;
      }
      const KeyId parent = current;
      current = sqlite3_last_insert_rowid(connection_->db());
      made = last;
      if (grouped) RememberChild(ChildKey(parent, name.key), current, name.text);
    }
    return one_row ? ERROR_SUCCESS : transaction.Commit();
  };
  if (LONG error = insert_missing()) {
    // The savepoint given up takes back the keys that the group learnt of.
    if (grouped && !one_row) ForgetGroupKeys();
    return error;
  }
  *id = current;
  *created = made;
  return ERROR_SUCCESS;
}

LONG RegistryStore::SetValue(KeyId id, const RegistryName& name, DWORD type,
                             std::string_view data) {
  Call call(*this);
  if (LONG error = EnsureWritable()) return error;
  // In the calling thread's write group the write is one statement, whole
  // or undone by SQLite alone, and the key's time is set once, at the
  // group's commit.
  if (InOwnGroup()) {
    LONG error = UpsertValue(id, name, type, data, /*in_group=*/true);
    if (error == ERROR_SUCCESS) {
      AddTouched(id);
    } else if (sqlite3_get_autocommit(connection_->db())) {
      group_lost_ = true;  // SQLite gave the whole transaction up
    }
    return error;
  }
  Transaction transaction(*connection_);
  if (LONG error = transaction.Begin()) return error;
  if (LONG error = UpsertValue(id, name, type, data, /*in_group=*/false)) return error;
  if (LONG error = Touch(id)) return error;
  return transaction.Commit();
}

LONG RegistryStore::UpsertValue(KeyId id, const RegistryName& name, DWORD type,
                                std::string_view data, bool in_group) {
  if (LONG error = Alive(id)) return error;
  // The group knows each key's next place after the first value it writes
  // there, and spares every later write the search for the last one. A place
  // not taken (the value existed) leaves a gap, which orders nothing wrong.
  int64_t place = 0;
  if (in_group) {
    auto it = group_next_place_.find(id);
    if (it == group_next_place_.end()) {
      int64_t last = 0;
      if (LONG error = LastValuePlace(id, &last)) return error;
      it = group_next_place_.emplace(id, last + 1).first;
    }
    place = it->second++;
  }
  const Sql slot = in_group ? kSetValueAt : kSetValue;
  Statement upsert(*connection_, slot, kSqlText[slot]);
  if (upsert.status() != ERROR_SUCCESS) return upsert.status();
  upsert.Bind(1, id);
  upsert.Bind(2, name.text);
  upsert.BindBlob(3, name.key);
  upsert.Bind(4, static_cast<int64_t>(type));
  upsert.BindBlob(5, data);
  if (in_group) upsert.Bind(6, place);
  int result = upsert.Step();
  return result == SQLITE_DONE ? ERROR_SUCCESS : upsert.Error(result);
}

LONG RegistryStore::LastValuePlace(KeyId id, int64_t* place) {
  Statement query(*connection_, kLastValuePlace, kSqlText[kLastValuePlace]);
  if (query.status() != ERROR_SUCCESS) return query.status();
  query.Bind(1, id);
  int result = query.Step();
  if (result != SQLITE_ROW) return query.Error(result);
  *place = query.Int(0);
  return ERROR_SUCCESS;
}

bool RegistryStore::HoldsSnapshot() const {
  return held_ && pthread_equal(holder_, pthread_self());
}

bool RegistryStore::OwnsGroup() const {
  return group_open_ && !group_lost_ && group_owner_ == std::this_thread::get_id();
}

bool RegistryStore::InOwnGroup() {
  return OwnsGroup() && !sqlite3_get_autocommit(connection_->db());
}

LONG RegistryStore::DeleteValueOnce(KeyId id, const RegistryName& name) {
  Call call(*this);
  if (LONG error = EnsureWritable()) return error;
  Transaction transaction(*connection_);
  if (LONG error = transaction.Begin()) return error;
  if (LONG error = Alive(id)) return error;
  Statement remove(*connection_, kDeleteValue, kSqlText[kDeleteValue]);
  if (remove.status() != ERROR_SUCCESS) return remove.status();
  remove.Bind(1, id);
  remove.BindBlob(2, name.key);
  int result = remove.Step();
  if (result != SQLITE_DONE) return remove.Error(result);
  if (sqlite3_changes(connection_->db()) == 0) return ERROR_FILE_NOT_FOUND;
  if (LONG error = Touch(id)) return error;
  return transaction.Commit();
}

LONG RegistryStore::DeleteKeyOnce(KeyId from, const KeyPath& path) {
  Call call(*this);
  // Missing keys and roots are told apart before asking for write access.
  if (LONG error = EnsureReadable()) return error;
  KeyId target = 0;
  bool fixed = false;
  if (LONG error = Resolve(from, path, &target)) return error;
  if (LONG error = IsFixed(target, &fixed)) return error;
  if (fixed) return ERROR_ACCESS_DENIED;
  if (LONG error = EnsureWritable()) return error;

  Transaction transaction(*connection_);
  if (LONG error = transaction.Begin()) return error;
  ForgetGroupKeys();  // what the group found may go now
  if (LONG error = Resolve(from, path, &target)) return error;
  {
    Statement children(*connection_, kHasChild, kSqlText[kHasChild]);
    if (children.status() != ERROR_SUCCESS) return children.status();
    children.Bind(1, target);
    int result = children.Step();
    if (result == SQLITE_ROW) return ERROR_ACCESS_DENIED;
    if (result != SQLITE_DONE) return children.Error(result);
  }
  KeyId parent = 0;
  if (LONG error = ParentOf(target, &parent)) return error;
  if (LONG error = RemoveKeyRow(target)) return error;
  if (LONG error = Touch(parent)) return error;
  return transaction.Commit();
}

LONG RegistryStore::DeleteTreeOnce(KeyId from, const KeyPath& path, bool delete_target) {
  Call call(*this);
  if (LONG error = EnsureReadable()) return error;
  KeyId target = 0;
  bool fixed = false;
  if (LONG error = Resolve(from, path, &target)) return error;
  if (LONG error = IsFixed(target, &fixed)) return error;
  // HKEY_LOCAL_MACHINE holds the one fixed key that is not a root.
  if ((delete_target && fixed) || target == kLocalMachineId) return ERROR_ACCESS_DENIED;
  if (LONG error = EnsureWritable()) return error;

  Transaction transaction(*connection_);
  if (LONG error = transaction.Begin()) return error;
  ForgetGroupKeys();  // what the group found may go now
  if (LONG error = Resolve(from, path, &target)) return error;
  // Values before keys: the value query finds them through the key rows.
  for (Sql slot : {kDeleteDescendantValues, kDeleteDescendants}) {
    Statement remove(*connection_, slot, kSqlText[slot]);
    if (remove.status() != ERROR_SUCCESS) return remove.status();
    remove.Bind(1, target);
    int result = remove.Step();
    if (result != SQLITE_DONE) return remove.Error(result);
  }
  if (delete_target) {
    KeyId parent = 0;
    if (LONG error = ParentOf(target, &parent)) return error;
    if (LONG error = RemoveKeyRow(target)) return error;
    if (LONG error = Touch(parent)) return error;
  } else {
    Statement remove(*connection_, kDeleteKeyValues, kSqlText[kDeleteKeyValues]);
    if (remove.status() != ERROR_SUCCESS) return remove.status();
    remove.Bind(1, target);
    int result = remove.Step();
    if (result != SQLITE_DONE) return remove.Error(result);
    if (LONG error = Touch(target)) return error;
  }
  return transaction.Commit();
}

// A delete that found the disk full runs again once the reserve is given
// back (see store_reserve.h). The log is then checkpointed into the store
// file and emptied, which returns its space, and the reserve is filled
// again from what that left; both only as far as they can be.
template <class Delete>
LONG RegistryStore::WithReserve(Delete run) {
  LONG error = run();
  if (error != ERROR_DISK_FULL || !ReleaseReserve(ReservePath(file_))) return error;
  error = run();
  {
    Call call(*this);
    // Busy while another connection reads, or short of room: then the log
    // is emptied by a later checkpoint.
    if (mode_ == Mode::kReadWrite) connection_->Execute("PRAGMA wal_checkpoint(TRUNCATE)");
  }
  FillReserve(ReservePath(file_));
  return error;
}

LONG RegistryStore::DeleteValue(KeyId id, const RegistryName& name) {
  return WithReserve([&] { return DeleteValueOnce(id, name); });
}

LONG RegistryStore::DeleteKey(KeyId from, const KeyPath& path) {
  return WithReserve([&] { return DeleteKeyOnce(from, path); });
}

LONG RegistryStore::DeleteTree(KeyId from, const KeyPath& path, bool delete_target) {
  return WithReserve([&] { return DeleteTreeOnce(from, path, delete_target); });
}

// Commits are not synced one by one (synchronous=NORMAL), but each is in
// the log: syncing the log makes every commit so far durable. It writes
// nothing, so a full disk cannot stop it.
LONG RegistryStore::Flush() {
  Call call(*this);
  AwaitOthers();
  if (mode_ != Mode::kReadWrite) {
    // A store we may not write holds nothing of ours to flush.
    if (!Exists(file_) || !FilesWritable()) return ERROR_SUCCESS;
    if (LONG error = EnsureWritable()) return error;
  }
  sqlite3_file* log = nullptr;
  if (int result =
          sqlite3_file_control(connection_->db(), "main", SQLITE_FCNTL_JOURNAL_POINTER, &log)) {
    return connection_->ErrorFor(result);
  }
  if (log != nullptr && log->pMethods != nullptr) {  // no log: nothing to sync
    if (LONG error = connection_->ErrorFor(log->pMethods->xSync(log, SQLITE_SYNC_NORMAL))) {
      return error;
    }
  }
  // What is durable reaches the readers, durably too. A copy that cannot be
  // made now (a full disk) is made again later (SnapshotPublisher) and does
  // not make the key's own data any less durable.
  publisher_.PublishNow(true);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Write groups

LONG RegistryStore::BeginGroup() {
  Call call(*this);
  AwaitOthers();
  if (group_open_) return ERROR_INVALID_FUNCTION;  // the caller's own, still open
  if (LONG error = EnsureWritable()) return error;
  Transaction transaction(*connection_);
  if (LONG error = transaction.Begin()) return error;
  transaction.Release();
  ForgetGroupKeys();
  group_open_ = true;
  group_lost_ = false;
  group_owner_ = std::this_thread::get_id();
  return ERROR_SUCCESS;
}

LONG RegistryStore::EndGroup(bool commit) {
  MutexLock lock(mu_);
  if (!group_open_ || group_owner_ != std::this_thread::get_id()) return ERROR_INVALID_FUNCTION;
  LONG error = group_lost_ ? ERROR_CANTWRITE : ERROR_SUCCESS;
  if (!group_lost_) {
    // The keys that the group changed take the time of its commit.
    std::sort(group_touched_.begin(), group_touched_.end());
    group_touched_.erase(std::unique(group_touched_.begin(), group_touched_.end()),
                         group_touched_.end());
    const int64_t now = Now();
    for (size_t i = 0; commit && i < group_touched_.size() && error == ERROR_SUCCESS; ++i) {
      error = Touch(group_touched_[i], now);
    }
    if (error != ERROR_SUCCESS) commit = false;
    if (LONG ended = connection_->Execute(commit ? "COMMIT" : "ROLLBACK"); error == ERROR_SUCCESS) {
      error = ended;
    }
    // A commit that failed leaves the transaction open on some errors.
    if (error != ERROR_SUCCESS && !sqlite3_get_autocommit(connection_->db())) {
      connection_->Execute("ROLLBACK");
    }
  }
  group_open_ = false;
  group_lost_ = false;
  group_touched_.clear();
  ForgetGroupKeys();
  group_owner_ = std::thread::id();
  group_ended_.notify_all();
  return error;
}

}  // namespace opossvc::detail
