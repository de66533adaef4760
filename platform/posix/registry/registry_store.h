// The registry's persistent store: one SQLite database, $OPOS_ROOT/registry.db.
//
// Keys are rows with a never-reused id (the predefined roots have the fixed
// ids of registry_schema.h), values belong to a key and keep their order of
// creation. Names and classes are UTF-8 and value data is in its stored form
// (registry_text.h): the store knows no code page. Every
// write is one IMMEDIATE transaction (in a write group, below, a savepoint of
// the group's one), so a process killed in the middle of a write leaves the
// store as it was before it, and several processes may use
// the store at once (WAL mode; a busy store is waited for up to kBusyTimeout).
// Commits are atomic but not synced one by one; Flush makes everything
// written so far durable. Deleting works on a full disk: a writer keeps
// "registry.db-reserve" beside the store (store_reserve.h).
//
// Writers and readers. The processes that may write the store (its owner,
// root) open the store itself; it and its log files are private to them
// (store_files.h), since whoever may open a file may hold locks on it, and
// a lock on the log index stops every write. After each commit a writer
// publishes a snapshot beside the store (registry_snapshot.h), on a thread
// of its own (snapshot_publisher.h); the other users read the latest
// snapshot, immutable, with no locks, and so can neither block a writer nor
// see part of a write. A reader sees a commit once it is published, a
// moment after the writer, and at once after the writer's Flush.
//
// Opening, in order of preference:
//   read-write  when this process may write the file and its folder; a
//               writer that finds no snapshot publishes one before it goes
//               on, and then makes the store private;
//   snapshot    when a snapshot is there: the latest one, reopened when a
//               newer one replaces it;
//   read-only   a store without a snapshot that this process may read
//               (written by an earlier version, or in a folder that its
//               writer may not write): "mode=ro", which needs the -wal and
//               -shm files; writers keep them (persistent WAL);
//   immutable   when those files are missing and cannot be made, and the
//               database holds no log: the file alone is read, until a
//               writer makes a log, which sends the next call back to
//               read-only;
//   empty       when there is no store file yet (or an empty one that we may
//               not initialise): the roots exist and hold nothing. The file
//               is made ($OPOS_ROOT too, mode 0755, when its parent exists)
//               by the first write.
// A store file that exists but that this process may neither write nor
// read, with no snapshot beside it, gives ERROR_ACCESS_DENIED. In a folder
// that other users may write, a store whose files are symbolic links is
// refused: ERROR_CANT_ACCESS_FILE.
// A file that is not a store, or a store of a newer format, is left as it is:
// ERROR_BADDB; damage found while reading is ERROR_REGISTRY_CORRUPT. A store
// of format 1 is migrated when it is opened read-write
// (registry_migration.h); until then, and when the migration fails, it is
// not used: ERROR_BADDB for a process that may not write it, the
// migration's error for one that may.
//
// Write groups (registry_write_group.h): BeginGroup opens one transaction
// that the calling thread's writes join (a value as one statement, any
// other write as a savepoint, so a failed write is undone alone) until
// EndGroup; the keys that the group changed take the time of its commit.
// Other threads' calls wait for the group to end: they would otherwise read
// or write inside it.
//
// Thread safety: each store has one connection, guarded by its own mutex
// and used by one call at a time. A thread inside a read snapshot scope
// (platform/internal/registry_read_snapshot.h) keeps one read transaction
// open on it across its calls, and holds the connection for the scope: the
// other threads' calls wait until the scope ends. Around fork() every
// connection is closed (SQLite connections and their locks do not survive
// into a child), and reopened by the next call in the parent and in the
// child; a snapshot held then ends there, and the holder's next read takes
// a new one.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_STORE_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_STORE_H_

#include <pthread.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/types.h>

#include "platform/internal/mutex.h"
#include "platform/posix/registry/registry_list_cursors.h"
#include "platform/posix/registry/registry_names.h"
#include "platform/posix/registry/registry_schema.h"
#include "platform/posix/registry/snapshot_publisher.h"

namespace opossvc::detail {

class SqliteConnection;

inline constexpr int kBusyTimeoutMs = 10000;

struct SubkeyEntry {
  std::string name;
  std::string class_name;
  FILETIME written{};
};

struct ValueEntry {
  std::string name;
  DWORD type = 0;
  std::string data;
};

// Lengths as Windows counts them: names and classes in UTF-16 code units,
// without the terminator, and data in bytes as stored.
struct KeyInfo {
  std::string class_name;
  DWORD subkeys = 0;
  DWORD max_subkey_name = 0;
  DWORD max_subkey_class = 0;
  DWORD values = 0;
  DWORD max_value_name = 0;
  DWORD max_value_data = 0;
  FILETIME written{};
};

class RegistryStore : public std::enable_shared_from_this<RegistryStore> {
 public:
  // The store that OPOS_ROOT names now. The same object is handed out while
  // OPOS_ROOT and the file it opened stay the same.
  static std::shared_ptr<RegistryStore> Current();

  explicit RegistryStore(std::string folder);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  const std::string& file() const { return file_; }

  // Reads. A key that is gone answers ERROR_KEY_DELETED; a missing name
  // below an existing key ERROR_FILE_NOT_FOUND; an index past the end
  // ERROR_NO_MORE_ITEMS.
  LONG CheckKey(KeyId id) OPOSSVC_EXCLUDES(mu_);
  LONG Open(KeyId from, const KeyPath& path, KeyId* id) OPOSSVC_EXCLUDES(mu_);
  // The names of the keys along `path` below `from` as they were created,
  // letter case and all, one per name of the path.
  LONG StoredNames(KeyId from, const KeyPath& path, std::vector<std::string>* names)
      OPOSSVC_EXCLUDES(mu_);
  // Listing by index: asking for the index after the one asked last (for
  // the same key, through any handle) continues where that answer was
  // found, as long as the store has not changed since.
  LONG Subkey(KeyId id, DWORD index, SubkeyEntry* out) OPOSSVC_EXCLUDES(mu_);
  LONG QueryValue(KeyId id, const RegistryName& name, DWORD* type, std::string* data)
      OPOSSVC_EXCLUDES(mu_);
  LONG Value(KeyId id, DWORD index, ValueEntry* out) OPOSSVC_EXCLUDES(mu_);
  LONG Info(KeyId id, KeyInfo* out) OPOSSVC_EXCLUDES(mu_);

  // ERROR_SUCCESS when this process can write the store (making it if
  // needed), else why not (ERROR_ACCESS_DENIED for a read-only store).
  LONG CanWrite() OPOSSVC_EXCLUDES(mu_);

  // Writes, one transaction each. `path` names are created as needed and
  // only the last one gets `class_name`; *created tells whether it was new.
  LONG Create(KeyId from, const KeyPath& path, std::string_view class_name, KeyId* id,
              bool* created) OPOSSVC_EXCLUDES(mu_);
  LONG SetValue(KeyId id, const RegistryName& name, DWORD type, std::string_view data)
      OPOSSVC_EXCLUDES(mu_);
  LONG DeleteValue(KeyId id, const RegistryName& name) OPOSSVC_EXCLUDES(mu_);
  // Deletes the key that `path` names below `from` (`from` itself when the
  // path is empty): ERROR_ACCESS_DENIED for a fixed key or a key with
  // subkeys.
  LONG DeleteKey(KeyId from, const KeyPath& path) OPOSSVC_EXCLUDES(mu_);
  // Deletes the subkeys and values of that key, and with `delete_target` the
  // key itself too. A fixed key cannot go (ERROR_ACCESS_DENIED, and nothing
  // is deleted): neither as the target nor below it.
  LONG DeleteTree(KeyId from, const KeyPath& path, bool delete_target) OPOSSVC_EXCLUDES(mu_);
  LONG Flush() OPOSSVC_EXCLUDES(mu_);

  // Ends the calling thread's read snapshot of this store, if it holds one,
  // and lets the other threads' calls go on.
  void EndReadSnapshot() OPOSSVC_EXCLUDES(mu_);
  // A write group of the calling thread; see above. EndGroup commits (or
  // rolls back) the group of the calling thread: ERROR_INVALID_FUNCTION when
  // it has none, ERROR_CANTWRITE when the connection was closed under it.
  LONG BeginGroup() OPOSSVC_EXCLUDES(mu_);
  LONG EndGroup(bool commit) OPOSSVC_EXCLUDES(mu_);

 private:
  friend class StoreCache;
  class Transaction;
  class Call;
  enum class Mode { kClosed, kEmpty, kReadWrite, kSnapshot, kReadOnly, kImmutable };

  // Whether the file it has open is still the one at its path; always, for
  // the thread whose write group or read snapshot it holds.
  bool StillNamesItsFile() OPOSSVC_EXCLUDES(mu_);
  void CloseConnection() OPOSSVC_REQUIRES(mu_);

  // Waits while another thread's write group is open.
  void WaitForOtherGroups() OPOSSVC_REQUIRES(mu_);
  // Waits until no other thread holds a read snapshot or a write group of
  // this store: the connection is then the calling thread's for the call.
  void AwaitOthers() OPOSSVC_REQUIRES(mu_);
  // Readable, and inside a read snapshot scope the scope's snapshot begun.
  LONG EnsureReadable() OPOSSVC_REQUIRES(mu_);
  LONG EnsureOpen() OPOSSVC_REQUIRES(mu_);
  // Waits while another thread holds a snapshot; to `begin` one, also while
  // calls that waited for the last one have not had their turn.
  void AwaitTurn(bool begin) OPOSSVC_REQUIRES(mu_);
  // Ends the read transaction of a snapshot, before a write or a reopen.
  void EndRead() OPOSSVC_REQUIRES(mu_);
  LONG EnsureWritable() OPOSSVC_REQUIRES(mu_);
  LONG OpenForReading() OPOSSVC_REQUIRES(mu_);
  LONG OpenReadWrite() OPOSSVC_REQUIRES(mu_);
  LONG OpenSnapshot() OPOSSVC_REQUIRES(mu_);
  LONG OpenReadOnly() OPOSSVC_REQUIRES(mu_);
  LONG OpenEmpty() OPOSSVC_REQUIRES(mu_);
  LONG PrepareFiles() OPOSSVC_REQUIRES(mu_);
  bool FilesWritable() const;
  // Publishes a snapshot when the writer finds none, and makes the store
  // private once there is one.
  void ShareWithReaders() OPOSSVC_REQUIRES(mu_);
  void RememberFile() OPOSSVC_REQUIRES(mu_);

  // The deletes, each run once; the public ones run them again with the
  // reserve given back when the disk is full.
  LONG DeleteValueOnce(KeyId id, const RegistryName& name) OPOSSVC_EXCLUDES(mu_);
  LONG DeleteKeyOnce(KeyId from, const KeyPath& path) OPOSSVC_EXCLUDES(mu_);
  LONG DeleteTreeOnce(KeyId from, const KeyPath& path, bool delete_target) OPOSSVC_EXCLUDES(mu_);
  template <class Delete>
  LONG WithReserve(Delete run) OPOSSVC_EXCLUDES(mu_);

  LONG Alive(KeyId id) OPOSSVC_REQUIRES(mu_);
  // The child of `parent` named `name`, and its name as stored when asked
  // for: ERROR_FILE_NOT_FOUND when there is none.
  LONG FindChild(KeyId parent, const RegistryName& name, KeyId* child, std::string* stored)
      OPOSSVC_REQUIRES(mu_);
  void RememberChild(std::string key, KeyId child, std::string_view name) OPOSSVC_REQUIRES(mu_);
  void ForgetGroupKeys() OPOSSVC_REQUIRES(mu_);
  // Sets the key's time at the commit of the calling thread's group.
  void AddTouched(KeyId id) OPOSSVC_REQUIRES(mu_);
  LONG Resolve(KeyId from, const KeyPath& path, KeyId* id,
               std::vector<std::string>* names = nullptr) OPOSSVC_REQUIRES(mu_);
  bool DataVersion(unsigned* version) OPOSSVC_REQUIRES(mu_);
  // Entry `index` of a key's subkeys or values, from a nearby cursor where
  // the store is unchanged since it was left.
  template <class Entry>
  LONG ListEntry(KeyId id, DWORD index, Entry* out) OPOSSVC_REQUIRES(mu_);
  LONG Touch(KeyId id) OPOSSVC_REQUIRES(mu_);
  LONG Touch(KeyId id, int64_t when) OPOSSVC_REQUIRES(mu_);
  // Sets a value of a live key, changing one row; ERROR_KEY_DELETED when
  // the key is gone. `in_group`: the calling thread's write group is open.
  LONG UpsertValue(KeyId id, const RegistryName& name, DWORD type, std::string_view data,
                   bool in_group) OPOSSVC_REQUIRES(mu_);
  // The highest place (seq) among a key's values; 0 for none.
  LONG LastValuePlace(KeyId id, int64_t* place) OPOSSVC_REQUIRES(mu_);
  // Whether the calling thread holds the read snapshot.
  bool HoldsSnapshot() const OPOSSVC_REQUIRES(mu_);
  // Whether the calling thread holds the open write group; InOwnGroup: and
  // its transaction is still open on the connection.
  bool OwnsGroup() const OPOSSVC_REQUIRES(mu_);
  bool InOwnGroup() OPOSSVC_REQUIRES(mu_);
  // Whether the key is one that cannot be deleted (registry_schema.h).
  LONG IsFixed(KeyId id, bool* fixed) OPOSSVC_REQUIRES(mu_);
  LONG ParentOf(KeyId id, KeyId* parent) OPOSSVC_REQUIRES(mu_);
  LONG RemoveKeyRow(KeyId id) OPOSSVC_REQUIRES(mu_);

  const std::string folder_;
  const std::string file_;

  Mutex mu_;
  Mode mode_ OPOSSVC_GUARDED_BY(mu_) = Mode::kClosed;
  std::unique_ptr<SqliteConnection> connection_ OPOSSVC_GUARDED_BY(mu_);
  // The thread whose read snapshot holds the connection, when held_; the
  // other threads' calls wait on turn_ until it ends. reading_ tells
  // whether its read transaction is open on connection_ (a write of the
  // holder ends it; its next read begins another).
  // A snapshot begins only when no call waits (waiting_), so that a
  // thread that runs one lookup after another lets the others in between.
  bool held_ OPOSSVC_GUARDED_BY(mu_) = false;
  pthread_t holder_ OPOSSVC_GUARDED_BY(mu_){};
  bool reading_ OPOSSVC_GUARDED_BY(mu_) = false;
  int waiting_ OPOSSVC_GUARDED_BY(mu_) = 0;
  std::condition_variable turn_;
  // Where recent listings stopped; valid for this connection only.
  ListCursors cursors_ OPOSSVC_GUARDED_BY(mu_);
  // Identity of the open file (read-write, read-only, immutable), or of the
  // file found blank when the store was opened empty: a change reopens.
  bool have_identity_ OPOSSVC_GUARDED_BY(mu_) = false;
  dev_t device_ OPOSSVC_GUARDED_BY(mu_) = 0;
  ino_t inode_ OPOSSVC_GUARDED_BY(mu_) = 0;
  off_t size_ OPOSSVC_GUARDED_BY(mu_) = 0;
  int64_t mtime_ns_ OPOSSVC_GUARDED_BY(mu_) = 0;
  // Identity of the snapshot open in snapshot mode.
  dev_t snapshot_device_ OPOSSVC_GUARDED_BY(mu_) = 0;
  ino_t snapshot_inode_ OPOSSVC_GUARDED_BY(mu_) = 0;

  // The thread whose write group is open, if any; group_lost_ when the
  // connection was closed under it.
  bool group_open_ OPOSSVC_GUARDED_BY(mu_) = false;
  bool group_lost_ OPOSSVC_GUARDED_BY(mu_) = false;
  std::thread::id group_owner_ OPOSSVC_GUARDED_BY(mu_);
  // Keys that the open group changed: their time is set at its commit.
  std::vector<KeyId> group_touched_ OPOSSVC_GUARDED_BY(mu_);
  // Inside the group no other connection changes the store, so the keys it
  // found or made stay as they were until it deletes keys: their ids by
  // parent id and upper-case name (with the name as stored; kNoKey for a
  // name found missing), and the ids known to be alive.
  struct GroupChild {
    KeyId id;
    std::string name;
  };
  std::map<std::string, GroupChild, std::less<>> group_children_ OPOSSVC_GUARDED_BY(mu_);
  std::unordered_set<KeyId> group_alive_ OPOSSVC_GUARDED_BY(mu_);
  // The place (seq) that the next new value of a key takes, for the keys
  // the group wrote values to.
  std::unordered_map<KeyId, int64_t> group_next_place_ OPOSSVC_GUARDED_BY(mu_);
  std::condition_variable group_ended_;

  // Asked by each commit of the read-write connection; its lock is taken
  // after mu_.
  SnapshotPublisher publisher_;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_STORE_H_
