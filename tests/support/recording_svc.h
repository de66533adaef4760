// A service object that records what the serial driver hands it, for the driver tests.
#ifndef OPOSSVC_TESTS_SUPPORT_RECORDING_SVC_H_
#define OPOSSVC_TESTS_SUPPORT_RECORDING_SVC_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <opossvc/svcbase.h>

#include "tests/support/patience.h"

namespace opossvc::testing {

// A pause of the driver's threads far longer than any test waits.
inline constexpr DWORD kLongPause = 600000;

// One notification, in the order received.
struct Notice {
  enum Kind { kData, kComplete, kError, kPower } kind = kData;
  long a = 0;  // DataUpdate length, output id, error code, power kind
  long b = 0;  // PowerReport new state
  long c = 0;  // PowerReport old state
  std::string bytes;
  const void* who = nullptr;
};

// An ordered log of the notifications of one or more service objects. Byte counts are kept with
// the notices under one lock, so a waiter that wakes on a count sees every notice that made it up.
class NoticeLog {
 public:
  void Add(Notice notice);
  // Counts data that is not kept as a notice.
  void CountBytes(const void* who, size_t count);
  std::vector<Notice> All() const;
  size_t BytesOf(const void* who) const;
  // Removes the data notices of `who` and returns their bytes; BytesOf goes on counting them.
  std::string TakeBytesOf(const void* who);
  // Waits until `predicate` holds for the log (it runs under the log's lock); false at the
  // deadline.
  bool WaitUntil(const std::function<bool(const std::vector<Notice>&)>& predicate,
                 std::chrono::milliseconds timeout = kPatience) const;
  bool WaitForBytes(const void* who, size_t count, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Notice> notices_;             // guarded by mutex_
  std::map<const void*, size_t> bytes_of_;  // guarded by mutex_
};

class RecordingSvc : public CSvcBase {
 public:
  explicit RecordingSvc(NoticeLog* log = nullptr) : log_(log != nullptr ? log : &own_log_) {}
  using CSvcBase::PowerReport;

  void DataUpdate(unsigned char* data, long length) override;
  void OutputDataComplete(long outputId) override;
  void PortError(long code) override { Log(Notice::kError, code); }
  void PowerReport(long kind, int newState, int oldState) override {
    Log(Notice::kPower, kind, newState, oldState);
  }

  // Run inside DataUpdate and OutputDataComplete (see DataUpdate for the order). Set them before
  // the port opens.
  std::function<void(RecordingSvc*, unsigned char*, long)> on_data;
  // False: data is only counted and handed to on_data, so that a long run keeps its memory flat.
  bool keep_data = true;
  std::function<void(RecordingSvc*, long)> on_complete;

  const NoticeLog& log() const { return *log_; }
  // Every byte received through DataUpdate, in order, and their count. TakeReceived forgets the
  // bytes it returns, so that a long run keeps its memory flat.
  std::string Received() const;
  std::string TakeReceived() { return log_->TakeBytesOf(this); }
  size_t ReceivedCount() const { return log_->BytesOf(this); }
  std::vector<Notice> Notices() const;
  std::vector<Notice> Notices(Notice::Kind kind) const;
  // The first value of each notice of `kind`: output ids, error codes.
  std::vector<long> Values(Notice::Kind kind) const;
  bool WaitForReceived(size_t count, std::chrono::milliseconds timeout = kPatience) const;
  bool WaitForNotice(Notice::Kind kind, size_t count = 1,
                     std::chrono::milliseconds timeout = kPatience) const;
  // Waits for a notice of `kind` whose first value is `value`.
  bool WaitForValue(Notice::Kind kind, long value,
                    std::chrono::milliseconds timeout = kPatience) const;

 private:
  void Log(Notice::Kind kind, long a, long b = 0, long c = 0, std::string bytes = {});

  NoticeLog own_log_;
  NoticeLog* log_;
};

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTS_SUPPORT_RECORDING_SVC_H_
