// Shared pieces of the driver tests: a service object that records its
// notifications, and registry seeding for port settings.
#ifndef OPOSSVC_TESTS_PORTDRV_PORTDRV_HELPERS_H_
#define OPOSSVC_TESTS_PORTDRV_PORTDRV_HELPERS_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <opossvc/portdrv.h>
#include <opossvc/svcbase.h>
#include <opossvc/testing/temp_registry.h>

namespace opossvc::testing {

inline constexpr std::chrono::milliseconds kDeadline{10000};
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

// A shared, ordered log of the notifications of several service objects.
// Byte counts are kept with the notices under one lock, so a waiter that
// wakes on a count sees every notice that made it up.
class NoticeLog {
 public:
  void Add(Notice notice);
  std::vector<Notice> All() const;
  // The bytes of the data notices of `who` so far, and a wait for a count.
  size_t BytesOf(const void* who) const;
  bool WaitForBytes(const void* who, size_t count, std::chrono::milliseconds timeout) const;
  // Waits until `predicate` holds for the log; false at the deadline.
  bool WaitUntil(const std::function<bool(const std::vector<Notice>&)>& predicate,
                 std::chrono::milliseconds timeout = kDeadline) const;

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

  // Run inside DataUpdate and OutputDataComplete, after the notice is
  // logged. Set them before the port opens.
  std::function<void(RecordingSvc*, unsigned char*, long)> on_data;
  std::function<void(RecordingSvc*, long)> on_complete;

  // Every byte received through DataUpdate, in order, and their count.
  std::string Received() const;
  size_t ReceivedCount() const { return log_->BytesOf(this); }
  std::vector<Notice> Notices() const;
  std::vector<Notice> Notices(Notice::Kind kind) const;
  bool WaitForReceived(size_t count, std::chrono::milliseconds timeout = kDeadline) const;
  bool WaitForNotice(Notice::Kind kind, size_t count = 1,
                     std::chrono::milliseconds timeout = kDeadline) const;

 private:
  void Log(Notice::Kind kind, long a, long b = 0, long c = 0, std::string bytes = {});

  NoticeLog own_log_;
  NoticeLog* log_;
};

// The device's entry: class, name, port and the REG_DWORD settings.
struct DeviceEntry {
  std::string device_class = "POSPrinter";
  std::string name = "Printer1";
  std::string port = "COM1";
  std::map<std::string, DWORD> values = {
      {"Baudrate", 6}, {"BitLength", 1},   {"Parity", 0},      {"Stop", 0},     {"HandShake", 0},
      {"XonXoff", 0},  {"InputBuf", 1024}, {"OutputBuf", 512}, {"Timeout", 10},
  };
  std::string id() const { return device_class + "\\" + name; }
};

// Writes the device key: its "Port" and every value of entry.values.
void WriteDevice(TempRegistry& registry, const DeviceEntry& entry);
// Writes REG_DWORD values into the default configuration key of the maker.
void WriteConfig(TempRegistry& registry, const std::map<std::string, DWORD>& values,
                 const std::string& configuration = "VANTA1.6");
// Fast pauses for the driver's threads (1 ms) in the default configuration.
void WriteFastConfig(TempRegistry& registry);

inline long OpenOn(CPortdrv& port, const DeviceEntry& entry, CSvcBase* svc, int variant = 0) {
  return port.PortOpen(entry.id().c_str(), svc, 64, variant, 0);
}

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTS_PORTDRV_PORTDRV_HELPERS_H_
