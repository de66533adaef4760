#include "tests/support/recording_svc.h"

#include <algorithm>
#include <utility>

namespace opossvc::testing {

void NoticeLog::Add(Notice notice) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (notice.kind == Notice::kData) bytes_of_[notice.who] += notice.bytes.size();
    notices_.push_back(std::move(notice));
  }
  changed_.notify_all();
}

void NoticeLog::CountBytes(const void* who, size_t count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_of_[who] += count;
  }
  changed_.notify_all();
}

std::vector<Notice> NoticeLog::All() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return notices_;
}

size_t NoticeLog::BytesOf(const void* who) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = bytes_of_.find(who);
  return it == bytes_of_.end() ? 0 : it->second;
}

std::string NoticeLog::TakeBytesOf(const void* who) {
  std::string bytes;
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(notices_, [&](const Notice& n) {
    if (n.who != who || n.kind != Notice::kData) return false;
    bytes += n.bytes;
    return true;
  });
  return bytes;
}

bool NoticeLog::WaitUntil(const std::function<bool(const std::vector<Notice>&)>& predicate,
                          std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return predicate(notices_); });
}

bool NoticeLog::WaitForBytes(const void* who, size_t count,
                             std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    const auto it = bytes_of_.find(who);
    return it != bytes_of_.end() && it->second >= count;
  });
}

void RecordingSvc::Log(Notice::Kind kind, long a, long b, long c, std::string bytes) {
  log_->Add({kind, a, b, c, std::move(bytes), this});
}

// Kept data is logged before on_data may change the block; counted data after on_data, so that a
// waiter for the count sees what on_data did with it.
void RecordingSvc::DataUpdate(unsigned char* data, long length) {
  if (!keep_data) {
    if (on_data) on_data(this, data, length);
    log_->CountBytes(this, static_cast<size_t>(length));
    return;
  }
  Log(Notice::kData, length, 0, 0,
      std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
  if (on_data) on_data(this, data, length);
}

void RecordingSvc::OutputDataComplete(long outputId) {
  Log(Notice::kComplete, outputId);
  if (on_complete) on_complete(this, outputId);
}

std::vector<Notice> RecordingSvc::Notices() const {
  std::vector<Notice> mine = log_->All();
  std::erase_if(mine, [this](const Notice& n) { return n.who != this; });
  return mine;
}

std::vector<Notice> RecordingSvc::Notices(Notice::Kind kind) const {
  std::vector<Notice> mine = Notices();
  std::erase_if(mine, [kind](const Notice& n) { return n.kind != kind; });
  return mine;
}

std::vector<long> RecordingSvc::Values(Notice::Kind kind) const {
  std::vector<long> values;
  for (const Notice& n : Notices(kind)) values.push_back(n.a);
  return values;
}

std::string RecordingSvc::Received() const {
  std::string bytes;
  for (const Notice& n : Notices(Notice::kData)) bytes += n.bytes;
  return bytes;
}

bool RecordingSvc::WaitForReceived(size_t count, std::chrono::milliseconds timeout) const {
  return log_->WaitForBytes(this, count, timeout);
}

bool RecordingSvc::WaitForNotice(Notice::Kind kind, size_t count,
                                 std::chrono::milliseconds timeout) const {
  return log_->WaitUntil(
      [this, kind, count](const std::vector<Notice>& all) {
        return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const Notice& n) {
                 return n.who == this && n.kind == kind;
               })) >= count;
      },
      timeout);
}

bool RecordingSvc::WaitForValue(Notice::Kind kind, long value,
                                std::chrono::milliseconds timeout) const {
  return log_->WaitUntil(
      [&](const std::vector<Notice>& all) {
        return std::any_of(all.begin(), all.end(), [&](const Notice& n) {
          return n.who == this && n.kind == kind && n.a == value;
        });
      },
      timeout);
}

}  // namespace opossvc::testing
