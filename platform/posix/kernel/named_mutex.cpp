// System-wide named mutexes: a robust, process-shared, recursive pthread
// mutex in a POSIX shared-memory object named after the mutex.
//
// The kernel marks a robust mutex whose owner thread died (however it died),
// and the next locker gets EOWNERDEAD: that is WAIT_ABANDONED. A thread of
// this process that ends while owning gives the mutex up itself, flagging it
// abandoned in the shared block, so that its handle is signalled only after
// the mutex is free.
//
// As a Win32 name does, the name lasts while some process holds a handle to
// the mutex, owned or not. A process with handles open marks the segment
// with a shared open-file-description lock (ofd_lock.h), which the kernel
// drops when the process ends, however it ends. Creating, opening, and a
// process's last close are serialised by flock() on the segment, which the
// kernel also drops at death:
//   - the last close in a process drops its mark and, when no other process
//     has one, unlinks the name;
//   - an open that finds a segment with content and no mark unlinks it: its
//     holders died (or its creator died half-way), so that mutex is gone and
//     the name is free for a new one, which a create then makes;
//   - an open that finds its segment unlinked under it (no links left)
//     starts over with whatever the name holds now;
//   - the first open in a process also unlinks every other segment that
//     nobody holds, so that a name whose last holder was killed does not
//     keep its memory until the name is used again.
// A name is unlinked only while nobody marks it, and marks are taken only
// under the flock of a still-linked segment, so no process can be left
// holding a mutex that others can no longer reach by its name.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/sync.h>

#include "platform/posix/files/errno_map.h"
#include "platform/posix/files/ofd_lock.h"
#include "platform/posix/kernel/mutex_object.h"

namespace opossvc::detail {
namespace {

constexpr uint32_t kMagic = 0x4f4d5832;  // layout version 2
// Each retry follows a close or a reclaim of the name by another process, so
// retries are only bounded against a file system that misreports links.
constexpr int kOpenAttempts = 1000;
// The byte whose shared lock marks a process that holds handles.
constexpr off_t kPresenceByte = 0;
// OpenSystemMutex's own marker for "the name changed under us: retry".
constexpr DWORD kRetry = 0xFFFFFFFFu;
// Encoded names longer than this are shortened to a prefix and a hash.
constexpr size_t kLongestEncodedName = 160;
constexpr char kShmPrefix[] = "opossvc-mutex-";
// Where the C library keeps shared-memory objects on Linux.
constexpr char kShmDirectory[] = "/dev/shm";

struct SharedBlock {
  std::atomic<uint32_t> magic;  // kMagic once initialised
  pthread_mutex_t mutex;
  // A taker that got the mutex abandoned and had to give it back unused (a
  // failed wait-all attempt), or an owner thread that ended: the next taker
  // hears WAIT_ABANDONED. Guarded by `mutex`.
  uint32_t abandoned;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free);

// Holds flock(LOCK_EX) on a descriptor for a scope.
class ScopedFlock {
 public:
  explicit ScopedFlock(int fd) : fd_(fd) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~ScopedFlock() { flock(fd_, LOCK_UN); }
  ScopedFlock(const ScopedFlock&) = delete;
  ScopedFlock& operator=(const ScopedFlock&) = delete;

 private:
  int fd_;
};

bool InitBlock(SharedBlock* block) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
            pthread_mutex_init(&block->mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  if (!ok) return false;
  block->abandoned = 0;
  block->magic.store(kMagic, std::memory_order_release);
  return true;
}

uint64_t Fnv1a(const std::string& s) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : s) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

// Whether the segment behind `fd` has been unlinked (or cannot be looked at).
bool Unlinked(int fd) {
  struct stat st;
  return fstat(fd, &st) != 0 || st.st_nlink == 0;
}

class SystemMutex final : public MutexObject, public std::enable_shared_from_this<SystemMutex> {
 public:
  // Made for one handle, with this process's presence mark taken.
  SystemMutex(std::string shm_name, int fd, SharedBlock* block)
      : shm_name_(std::move(shm_name)), fd_(fd), block_(block), process_(getpid()) {}

  ~SystemMutex() override {
    if (getpid() == process_) {
      std::lock_guard<std::mutex> lock(name_mutex_);
      if (handles_ > 0) LeaveName();  // made, but its handle was never given out
    }
    munmap(block_, sizeof(SharedBlock));
    close(fd_);
  }

  // Records the ownership of a lock that OpenSystemMutex took for the
  // calling thread.
  void AdoptLock() { Acquired(false); }

  void OnClose() override {
    std::lock_guard<std::mutex> lock(name_mutex_);
    if (handles_ == 0) return;
    // A forked child's copy never holds the mark (the parent's is shared).
    if (--handles_ == 0 && getpid() == process_) LeaveName();
  }

  bool ReopenByName() override {
    std::lock_guard<std::mutex> lock(name_mutex_);
    // A forked child opens the name afresh, with a mark of its own.
    if (getpid() != process_ || unnamed_) return false;
    if (handles_ == 0 && !RejoinName()) return false;
    ++handles_;
    return true;
  }

  bool Ready() override OPOSSVC_REQUIRES(g_wait_lock) { return true; }
  bool IsPolled() const override { return true; }

  Grant Take() override OPOSSVC_REQUIRES(g_wait_lock) {
    switch (pthread_mutex_trylock(&block_->mutex)) {
      case 0:
        return Acquired(false);
      case EOWNERDEAD:
        pthread_mutex_consistent(&block_->mutex);
        return Acquired(true);
      default:  // EBUSY; EAGAIN (recursion limit); ENOTRECOVERABLE
        return Grant::kNone;
    }
  }

  void Untake(Grant grant) override OPOSSVC_REQUIRES(g_wait_lock) {
    if (grant == Grant::kAbandoned) block_->abandoned = 1;
    if (ReleaseOneLevel()) WakeWaiters();
  }

  // An unbounded wait blocks in the system's lock, which hands the mutex
  // over the moment it is released (or its owner dies). Bounded waits use
  // the polling loop instead, which keeps time by the monotonic clock (the
  // system's timed lock would measure it on the adjustable real-time clock).
  std::optional<DWORD> WaitAlone(DWORD milliseconds) override {
    if (milliseconds != INFINITE) return std::nullopt;
    switch (pthread_mutex_lock(&block_->mutex)) {
      case 0:
        return Acquired(false) == Grant::kAbandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0;
      case EOWNERDEAD:
        pthread_mutex_consistent(&block_->mutex);
        Acquired(true);
        return WAIT_ABANDONED_0;
      default:  // ENOTRECOVERABLE; EAGAIN (recursion limit)
        SetLastError(ERROR_GEN_FAILURE);
        return WAIT_FAILED;
    }
  }

  bool Release() override {
    if (owner_.load(std::memory_order_relaxed) != CurrentThreadSerial()) {
      SetLastError(ERROR_NOT_OWNER);
      return false;
    }
    if (ReleaseOneLevel()) {
      // Waiters of this process in mixed wait sets need not wait for their
      // next poll.
      MutexLock lock(g_wait_lock);
      WakeWaiters();
    }
    return true;
  }

  // Runs on the owner thread as it ends: give the mutex up, flagged.
  void OnThreadExit() override {
    if (owner_.load(std::memory_order_relaxed) != CurrentThreadSerial()) return;
    block_->abandoned = 1;
    while (!ReleaseOneLevel()) {
    }
    MutexLock lock(g_wait_lock);
    WakeWaiters();
  }

 private:
  // This process's last handle has closed: drop the mark, and the name with
  // it when no other process holds one. Needs name_mutex_.
  void LeaveName() {
    ScopedFlock lock(fd_);
    if (!unnamed_ && !ByteLockedElsewhere(fd_, kPresenceByte)) {
      shm_unlink(shm_name_.c_str());
      unnamed_ = true;
    }
    DropByteLocks(fd_, kPresenceByte, 1);
  }

  // A handle is wanted again after this process's last one closed (the
  // object lived on for its owner thread): take the mark again if the name
  // still stands for this mutex. Needs name_mutex_.
  bool RejoinName() {
    ScopedFlock lock(fd_);
    if (Unlinked(fd_)) {
      unnamed_ = true;
      return false;
    }
    if (!ByteLockedElsewhere(fd_, kPresenceByte)) {
      // The other holders have ended since: the mutex went with them.
      shm_unlink(shm_name_.c_str());
      unnamed_ = true;
      return false;
    }
    return TakeSharedByteLock(fd_, kPresenceByte) == ERROR_SUCCESS;
  }

  // Bookkeeping after this thread got the pthread mutex.
  Grant Acquired(bool owner_died) {
    bool abandoned = owner_died || block_->abandoned != 0;
    block_->abandoned = 0;
    const uint64_t self = CurrentThreadSerial();
    if (owner_died || owner_.load(std::memory_order_relaxed) != self) {
      // A first acquisition by this thread. After an owner death the
      // pthread count restarts at 1, whatever this process believed.
      depth_ = 1;
      owner_.store(self, std::memory_order_relaxed);
      CurrentThreadState().owned_mutexes.push_back(shared_from_this());
    } else {
      ++depth_;
    }
    return abandoned ? Grant::kAbandoned : Grant::kSignaled;
  }

  // Gives up one level of the calling owner's ownership; true when that
  // was the last and the mutex is now free.
  bool ReleaseOneLevel() {
    bool last = --depth_ == 0;
    if (last) owner_.store(0, std::memory_order_relaxed);
    pthread_mutex_unlock(&block_->mutex);
    if (last) ForgetOwnedMutex(this);
    return last;
  }

  const std::string shm_name_;
  const int fd_;
  SharedBlock* const block_;
  const pid_t process_;  // the process whose mark fd_ carries
  // The handles of this process open on the mutex (the mark is held while
  // there are any), and whether the name no longer stands for this mutex.
  // Taken before the segment's flock.
  std::mutex name_mutex_;
  int handles_ = 1;       // guarded by name_mutex_
  bool unnamed_ = false;  // guarded by name_mutex_
  // This process's view of the owner: the owning thread's serial (0: none
  // here) and its recursion depth. Written only by the owning thread while
  // it holds block_->mutex; other threads read owner_ only to learn that
  // they are not the owner.
  std::atomic<uint64_t> owner_{0};
  DWORD depth_ = 0;
};

// What one attempt to create or open found, under the segment's flock.
struct Joined {
  DWORD error = ERROR_SUCCESS;  // kRetry: the name changed under us
  SharedBlock* block = nullptr;
  bool created = false;
  bool owned = false;  // the calling thread took the new mutex
};

SharedBlock* MapBlock(int fd, DWORD* error) {
  void* map = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map != MAP_FAILED) return static_cast<SharedBlock*>(map);
  *error = Win32ErrorFromErrno(errno);
  return nullptr;
}

Joined Join(int fd, const std::string& shm_name, bool create, bool initially_owned) {
  Joined joined;
  ScopedFlock lock(fd);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    joined.error = Win32ErrorFromErrno(errno);
    return joined;
  }
  if (st.st_nlink == 0) {
    joined.error = kRetry;
    return joined;
  }
  const bool held = ByteLockedElsewhere(fd, kPresenceByte);
  if (!held && st.st_size != 0) {
    // Nobody holds a handle: the mutex that had the name is gone.
    shm_unlink(shm_name.c_str());
    joined.error = create ? kRetry : ERROR_FILE_NOT_FOUND;
    return joined;
  }
  if (!held && !create) {
    // Empty: a creator is on its way (it finds the name as it is once it
    // has the flock), or died before it made anything.
    joined.error = ERROR_FILE_NOT_FOUND;
    return joined;
  }
  if (!held && ftruncate(fd, sizeof(SharedBlock)) != 0) {
    joined.error = Win32ErrorFromErrno(errno);
    return joined;
  }
  SharedBlock* block = MapBlock(fd, &joined.error);
  if (block == nullptr) return joined;
  if (held) {
    if (static_cast<size_t>(st.st_size) < sizeof(SharedBlock) ||
        block->magic.load(std::memory_order_acquire) != kMagic) {
      joined.error = ERROR_INVALID_HANDLE;  // not one of ours
    }
  } else if (!InitBlock(new (block) SharedBlock)) {
    joined.error = ERROR_NO_SYSTEM_RESOURCES;
  }
  if (joined.error == ERROR_SUCCESS) joined.error = TakeSharedByteLock(fd, kPresenceByte);
  if (joined.error != ERROR_SUCCESS) {
    munmap(block, sizeof(SharedBlock));
    return joined;
  }
  joined.block = block;
  joined.created = !held;
  // Taken before any other process can see the block, so the creator's
  // initial ownership is never lost to a quicker opener. Nobody else can
  // hold a fresh block: a try-lock suffices and can never wait while the
  // caller holds the named-object table.
  joined.owned = joined.created && initially_owned && pthread_mutex_trylock(&block->mutex) == 0;
  return joined;
}

// Unlinks the segments of this layout that no process holds, left by
// processes that died holding the last handles of their names; those names
// would otherwise keep their memory until someone used them again. Runs once
// in each process. Empty segments and other layouts are left alone: their
// creators may be on their way, or follow other rules.
void SweepAbandonedNames() {
  static std::atomic<pid_t> swept_by{0};
  const pid_t self = getpid();
  if (swept_by.exchange(self) == self) return;
  DIR* dir = opendir(kShmDirectory);
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    if (std::strncmp(entry->d_name, kShmPrefix, sizeof(kShmPrefix) - 1) != 0) continue;
    const std::string shm_name = std::string("/") + entry->d_name;
    int fd = shm_open(shm_name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) continue;
    {
      ScopedFlock lock(fd);
      struct stat st;
      uint32_t magic = 0;
      if (fstat(fd, &st) == 0 && st.st_nlink > 0 &&
          static_cast<size_t>(st.st_size) >= sizeof(SharedBlock) &&
          pread(fd, &magic, sizeof(magic), offsetof(SharedBlock, magic)) == sizeof(magic) &&
          magic == kMagic && !ByteLockedElsewhere(fd, kPresenceByte)) {
        shm_unlink(shm_name.c_str());
      }
    }
    close(fd);
  }
  closedir(dir);
}

}  // namespace

std::string SystemMutexShmName(const ObjectName& name) {
  std::string encoded;
  for (unsigned char c : name.base) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
        c == '_' || c == '-') {
      encoded += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof(hex), "%%%02X", c);
      encoded += hex;
    }
  }
  if (encoded.size() > kLongestEncodedName) {
    char hash[20];
    std::snprintf(hash, sizeof(hash), "~%016llx",
                  static_cast<unsigned long long>(Fnv1a(name.base)));
    encoded = encoded.substr(0, kLongestEncodedName - 20) + hash;
  }
  return std::string("/") + kShmPrefix + (name.global ? "g-" : "l-") + encoded;
}

std::shared_ptr<MutexObject> OpenSystemMutex(const ObjectName& name, bool create,
                                             bool initially_owned, bool* created) {
  *created = false;
  SweepAbandonedNames();
  const std::string shm_name = SystemMutexShmName(name);
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    int fd = shm_open(shm_name.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0) {
      SetLastError(Win32ErrorFromErrno(errno));
      return nullptr;
    }
    const Joined joined = Join(fd, shm_name, create, initially_owned);
    if (joined.error == ERROR_SUCCESS) {
      *created = joined.created;
      auto mutex = std::make_shared<SystemMutex>(shm_name, fd, joined.block);
      if (joined.owned) mutex->AdoptLock();
      return mutex;
    }
    close(fd);
    if (joined.error != kRetry) {
      SetLastError(joined.error);
      return nullptr;
    }
  }
  SetLastError(ERROR_GEN_FAILURE);
  return nullptr;
}

}  // namespace opossvc::detail
