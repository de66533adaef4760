// System-wide named mutexes: a robust, process-shared, recursive pthread
// mutex in a POSIX shared-memory object named after the mutex.
//
// The kernel marks a robust mutex whose owner thread died (however it died),
// and the next locker gets EOWNERDEAD: that is WAIT_ABANDONED. A thread of
// this process that ends while owning gives the mutex up itself, flagging it
// abandoned in the shared block, so that its handle is signalled only after
// the mutex is free.
//
// The shared block is created and initialised under flock() on the shared
// memory object, so a creator that dies half-way leaves a block that the
// next user initialises again. Each process that maps the block counts
// itself in `users`; the last one to let go unlinks the name, marking the
// block dead first so that a process that opened it in the meantime retries
// with a fresh one. A process killed while holding the name leaves its count
// behind; the name then stays (correct, merely not cleaned up).
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <new>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/sync.h>

#include "platform/posix/kernel/mutex_object.h"

namespace opossvc::detail {
namespace {

constexpr uint32_t kMagic = 0x4f4d5831;  // layout version 1
constexpr uint32_t kDead = 0xdead0001;
constexpr int kOpenAttempts = 8;
// OpenSystemMutex's own marker for "the name was unlinked under us: retry".
constexpr DWORD kRetry = 0xFFFFFFFFu;
// Encoded names longer than this are shortened to a prefix and a hash.
constexpr size_t kLongestEncodedName = 160;

struct SharedBlock {
  std::atomic<uint32_t> magic;  // kMagic once initialised, kDead once unlinked
  std::atomic<uint32_t> users;  // processes that map the block; changed under flock
  pthread_mutex_t mutex;
  // A taker that got the mutex abandoned and had to give it back unused (a
  // failed wait-all attempt), or an owner thread that ended: the next taker
  // hears WAIT_ABANDONED. Guarded by `mutex`.
  uint32_t abandoned;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free);

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
      return ERROR_DISK_FULL;
    default:
      return ERROR_GEN_FAILURE;
  }
}

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
  block->users.store(0, std::memory_order_relaxed);
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

class SystemMutex final : public MutexObject, public std::enable_shared_from_this<SystemMutex> {
 public:
  SystemMutex(std::string shm_name, int fd, SharedBlock* block)
      : shm_name_(std::move(shm_name)), fd_(fd), block_(block), process_(getpid()) {}

  ~SystemMutex() override {
    // A forked child's copy of the object does not hold a count of its own.
    if (getpid() == process_) {
      ScopedFlock lock(fd_);
      if (block_->users.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        block_->magic.store(kDead, std::memory_order_release);
        shm_unlink(shm_name_.c_str());
      }
    }
    munmap(block_, sizeof(SharedBlock));
    close(fd_);
  }

  // Records the ownership of a lock that OpenSystemMutex took for the
  // calling thread.
  void AdoptLock() { Acquired(false); }

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
      WaitLockHolder lock;
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
    WaitLockHolder lock;
    WakeWaiters();
  }

 private:
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
  const pid_t process_;  // the process that counted itself in block_->users
  // This process's view of the owner: the owning thread's serial (0: none
  // here) and its recursion depth. Written only by the owning thread while
  // it holds block_->mutex; other threads read owner_ only to learn that
  // they are not the owner.
  std::atomic<uint64_t> owner_{0};
  DWORD depth_ = 0;
};

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
  return std::string("/opossvc-mutex-") + (name.global ? "g-" : "l-") + encoded;
}

std::shared_ptr<MutexObject> OpenSystemMutex(const ObjectName& name, bool create,
                                             bool initially_owned, bool* created) {
  *created = false;
  const std::string shm_name = SystemMutexShmName(name);
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    int fd = shm_open(shm_name.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0) {
      SetLastError(ErrorFromErrno(errno));
      return nullptr;
    }
    void* map = MAP_FAILED;
    bool initialised = false;
    bool owned = false;
    DWORD error = ERROR_SUCCESS;
    {
      ScopedFlock lock(fd);
      struct stat st;
      if (fstat(fd, &st) != 0) {
        error = ErrorFromErrno(errno);
      } else if (static_cast<size_t>(st.st_size) < sizeof(SharedBlock) && !create) {
        // Not yet created, or its creator died before it was.
        error = ERROR_FILE_NOT_FOUND;
      } else if (static_cast<size_t>(st.st_size) < sizeof(SharedBlock) &&
                 ftruncate(fd, sizeof(SharedBlock)) != 0) {
        error = ErrorFromErrno(errno);
      } else {
        map = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) error = ErrorFromErrno(errno);
      }
      if (map != MAP_FAILED) {
        auto* block = static_cast<SharedBlock*>(map);
        uint32_t magic = block->magic.load(std::memory_order_acquire);
        if (magic == kDead) {
          error = kRetry;
        } else if (magic == kMagic) {
          block->users.fetch_add(1, std::memory_order_acq_rel);
          initialised = true;
        } else if (magic != 0) {
          error = ERROR_INVALID_HANDLE;  // not one of ours
        } else if (!create) {
          error = ERROR_FILE_NOT_FOUND;
        } else if (!InitBlock(new (map) SharedBlock)) {
          error = ERROR_NO_SYSTEM_RESOURCES;
        } else {
          block->users.fetch_add(1, std::memory_order_acq_rel);
          initialised = true;
          *created = true;
          // Taken before any other process can see the block, so the
          // creator's initial ownership is never lost to a quicker opener.
          // Nobody else can hold a fresh block: a try-lock suffices and can
          // never wait while the caller holds the named-object table.
          owned = initially_owned && pthread_mutex_trylock(&block->mutex) == 0;
        }
      }
    }
    if (initialised) {
      auto mutex = std::make_shared<SystemMutex>(shm_name, fd, static_cast<SharedBlock*>(map));
      if (owned) mutex->AdoptLock();
      return mutex;
    }
    if (map != MAP_FAILED) munmap(map, sizeof(SharedBlock));
    close(fd);
    if (error != kRetry) {
      SetLastError(error);
      return nullptr;
    }
  }
  SetLastError(ERROR_GEN_FAILURE);
  return nullptr;
}

}  // namespace opossvc::detail
