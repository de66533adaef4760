// The driver's output queue: records in the order they are to be written.
//
// No lock of its own: the driver calls every member under its queue lock.
#ifndef OPOSSVC_PORTDRV_OUTPUT_QUEUE_H_
#define OPOSSVC_PORTDRV_OUTPUT_QUEUE_H_

#include <cstddef>
#include <deque>
#include <string>

#include <opossvc/win32/types.h>

class CSvcBase;

namespace opossvc::detail {

struct OutputRecord {
  CSvcBase* svc = nullptr;  // receives the record's notifications; none when null
  LONG errorCode = 0;       // for PortError on a time-out; 0 reports nothing
  LONG handshake = 0;       // non-zero: written under flow control
  LONG immediate = 0;
  LONG outputId = 0;        // for OutputDataComplete
  std::string bytes;        // still to be written
};

class OutputQueue {
 public:
  bool empty() const { return records_.empty(); }
  size_t size() const { return records_.size(); }
  OutputRecord& front() { return records_.front(); }
  const OutputRecord& at(size_t index) const { return records_[index]; }

  void Append(OutputRecord record);
  // Puts an immediate record one past the last immediate record, or at the
  // front when there is none; never ahead of the front record while it is
  // being written (`frontBusy`).
  void InsertImmediate(OutputRecord record, bool frontBusy);
  // Takes flow control away from every record ahead of the last record
  // queued without it, so that one can reach the port while the line holds.
  void Demote();
  bool HasRecordOf(const CSvcBase* svc) const;
  // Removes every record of `svc`, from the back to the front; true when
  // the front record was among them.
  bool RemoveAllOf(const CSvcBase* svc);
  void RemoveAt(size_t index);
  void Clear() { records_.clear(); }

 private:
  std::deque<OutputRecord> records_;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_PORTDRV_OUTPUT_QUEUE_H_
