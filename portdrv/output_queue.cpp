// The output queue's ordering rules.
#include "portdrv/output_queue.h"

#include <utility>

namespace opossvc::detail {

void OutputQueue::Append(OutputRecord record) {
  record.immediate = 0;
  records_.push_back(std::move(record));
}

void OutputQueue::InsertImmediate(OutputRecord record, bool frontBusy) {
  size_t position = 0;
  for (size_t i = records_.size(); i > 0; --i) {
    if (records_[i - 1].immediate == 1) {
      position = i;
      break;
    }
  }
  if (position == 0 && frontBusy && !records_.empty()) position = 1;
  record.immediate = 1;
  records_.insert(records_.begin() + static_cast<std::ptrdiff_t>(position), std::move(record));
}

void OutputQueue::Demote() {
  size_t last = 0;
  for (size_t i = records_.size(); i > 0; --i) {
    if (records_[i - 1].handshake == 0) {
      last = i - 1;
      break;
    }
  }
  for (size_t i = 0; i < last; ++i) records_[i].handshake = 0;
}

bool OutputQueue::HasRecordOf(const CSvcBase* svc) const {
  for (const OutputRecord& record : records_) {
    if (record.svc == svc) return true;
  }
  return false;
}

bool OutputQueue::RemoveAllOf(const CSvcBase* svc) {
  bool front = false;
  for (size_t i = records_.size(); i > 0; --i) {
    if (records_[i - 1].svc != svc) continue;
    if (i == 1) front = true;
    RemoveAt(i - 1);
  }
  return front;
}

void OutputQueue::RemoveAt(size_t index) {
  records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(index));
}

}  // namespace opossvc::detail
