// Shared pieces of the reliability tests: child processes that report
// progress through a pipe, counts of the process's descriptors and threads,
// and a service object that records what the driver hands it.
#ifndef OPOSSVC_TESTS_RELIABILITY_RELIABILITY_HELPERS_H_
#define OPOSSVC_TESTS_RELIABILITY_RELIABILITY_HELPERS_H_

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <opossvc/svcbase.h>

namespace opossvc::reliability {

inline constexpr std::chrono::milliseconds kDeadline{20000};

// A child process that runs `body(ack)` and then _exits(0); `ack(n)` sends
// the number n to the parent once the step it stands for is complete.
class AckingChild {
 public:
  explicit AckingChild(const std::function<void(const std::function<void(uint32_t)>&)>& body);
  ~AckingChild();
  AckingChild(const AckingChild&) = delete;
  AckingChild& operator=(const AckingChild&) = delete;

  // The next acknowledged number; nothing when the child ended (or the
  // deadline passed) first.
  std::optional<uint32_t> NextAck(std::chrono::milliseconds timeout = kDeadline);
  // SIGKILL, then reaps the child. Returns the numbers acknowledged but not
  // yet taken with NextAck, in order (the pipe is drained after the kill).
  std::vector<uint32_t> Kill();

 private:
  pid_t pid_ = -1;
  int read_fd_ = -1;
};

// Entries of /proc/self/fd and /proc/self/task.
int OpenDescriptorCount();
int ThreadCount();

// Waits until `condition` holds, testing it again and again; false when the
// deadline passes first. For state that offers nothing to wait on
// (descriptor and thread counts, bytes a pty has read).
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kDeadline);

// A service object that keeps the driver's notifications: the bytes of
// DataUpdate in order, completed output ids, and port errors.
class CollectingSvc : public CSvcBase {
 public:
  void DataUpdate(unsigned char* data, long length) override;
  void OutputDataComplete(long outputId) override;
  void PortError(long code) override;

  std::string Received() const;
  std::vector<long> Completed() const;
  std::vector<long> Errors() const;
  // Waits until `condition` holds; it is tested again after every change.
  bool WaitFor(const std::function<bool(const CollectingSvc&)>& condition,
               std::chrono::milliseconds timeout = kDeadline) const;

 private:
  void Change(const std::function<void()>& change);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string received_;         // guarded by mutex_
  std::vector<long> completed_;  // guarded by mutex_
  std::vector<long> errors_;     // guarded by mutex_
  uint64_t version_ = 0;         // guarded by mutex_; counts every change
};

}  // namespace opossvc::reliability

#endif  // OPOSSVC_TESTS_RELIABILITY_RELIABILITY_HELPERS_H_
