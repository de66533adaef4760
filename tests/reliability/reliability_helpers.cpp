#include "tests/reliability/reliability_helpers.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace opossvc::reliability {
namespace {

// The entries of a /proc folder; `skip` of them are the listing's own.
int CountEntries(const char* folder, int skip) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - skip;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// One whole number from the pipe; nothing at its end or on time-out.
std::optional<uint32_t> ReadNumber(int fd, int timeout_ms) {
  uint32_t value = 0;
  size_t have = 0;
  while (have < sizeof(value)) {
    pollfd p = {fd, POLLIN, 0};
    const int ready = poll(&p, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    const ssize_t n = read(fd, reinterpret_cast<char*>(&value) + have, sizeof(value) - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    have += static_cast<size_t>(n);
  }
  return value;
}

}  // namespace

AckingChild::AckingChild(
    const std::function<void(const std::function<void(uint32_t)>&)>& body) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    close(fds[0]);
    const int out = fds[1];
    body([out](uint32_t n) {
      if (!WriteAll(out, &n, sizeof(n))) _exit(3);
    });
    _exit(0);
  }
  close(fds[1]);
  read_fd_ = fds[0];
}

AckingChild::~AckingChild() {
  if (pid_ > 0) Kill();
  if (read_fd_ >= 0) close(read_fd_);
}

std::optional<uint32_t> AckingChild::NextAck(std::chrono::milliseconds timeout) {
  return ReadNumber(read_fd_, static_cast<int>(timeout.count()));
}

std::vector<uint32_t> AckingChild::Kill() {
  std::vector<uint32_t> rest;
  if (pid_ <= 0) return rest;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  // The write end is closed now: the drain ends at what the child sent.
  while (auto n = ReadNumber(read_fd_, 1000)) rest.push_back(*n);
  return rest;
}

int OpenDescriptorCount() { return CountEntries("/proc/self/fd", 1); }  // the DIR's own
int ThreadCount() { return CountEntries("/proc/self/task", 0); }

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

void CollectingSvc::Change(const std::function<void()>& change) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
    ++version_;
  }
  changed_.notify_all();
}

void CollectingSvc::DataUpdate(unsigned char* data, long length) {
  Change([&] { received_.append(reinterpret_cast<const char*>(data), static_cast<size_t>(length)); });
}
void CollectingSvc::OutputDataComplete(long outputId) {
  Change([&] { completed_.push_back(outputId); });
}
void CollectingSvc::PortError(long code) {
  Change([&] { errors_.push_back(code); });
}

std::string CollectingSvc::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}
std::vector<long> CollectingSvc::Completed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return completed_;
}
std::vector<long> CollectingSvc::Errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

bool CollectingSvc::WaitFor(const std::function<bool(const CollectingSvc&)>& condition,
                            std::chrono::milliseconds timeout) const {
  // The condition reads through the getters, which lock: it runs unlocked,
  // and a change made meanwhile shows in the version.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    const uint64_t seen = version_;
    lock.unlock();
    if (condition(*this)) return true;
    lock.lock();
    if (!changed_.wait_until(lock, deadline, [&] { return version_ != seen; })) {
      lock.unlock();
      return condition(*this);
    }
  }
}

}  // namespace opossvc::reliability
