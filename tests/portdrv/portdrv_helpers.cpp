#include "tests/portdrv/portdrv_helpers.h"

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

std::vector<Notice> NoticeLog::All() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return notices_;
}

size_t NoticeLog::BytesOf(const void* who) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = bytes_of_.find(who);
  return it == bytes_of_.end() ? 0 : it->second;
}

bool NoticeLog::WaitForBytes(const void* who, size_t count,
                             std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    const auto it = bytes_of_.find(who);
    return it != bytes_of_.end() && it->second >= count;
  });
}

bool NoticeLog::WaitUntil(const std::function<bool(const std::vector<Notice>&)>& predicate,
                          std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return predicate(notices_); });
}

void RecordingSvc::Log(Notice::Kind kind, long a, long b, long c, std::string bytes) {
  Notice notice;
  notice.kind = kind;
  notice.a = a;
  notice.b = b;
  notice.c = c;
  notice.bytes = std::move(bytes);
  notice.who = this;
  log_->Add(std::move(notice));
}

void RecordingSvc::DataUpdate(unsigned char* data, long length) {
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

void WriteDevice(TempRegistry& registry, const DeviceEntry& entry) {
  const std::string key =
      "SOFTWARE\\OLEforRetail\\ServiceOPOS\\" + entry.device_class + "\\" + entry.name;
  registry.SetString(HKEY_LOCAL_MACHINE, key, "Port", entry.port);
  for (const auto& [name, value] : entry.values) {
    registry.SetDword(HKEY_LOCAL_MACHINE, key, name, value);
  }
}

void WriteConfig(TempRegistry& registry, const std::map<std::string, DWORD>& values,
                 const std::string& configuration) {
  const std::string key = "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\" + configuration;
  registry.CreateKey(HKEY_LOCAL_MACHINE, key);
  for (const auto& [name, value] : values) {
    registry.SetDword(HKEY_LOCAL_MACHINE, key, name, value);
  }
}

void WriteFastConfig(TempRegistry& registry) {
  WriteConfig(registry, {{"IdleSleep", 1}, {"InputSleep", 1}});
}

}  // namespace opossvc::testing
