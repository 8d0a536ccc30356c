#include "platform/formats/log_source.h"

#include <algorithm>

#include "platform/eventlog.h"
#include "platform/eventlog_record.h"

namespace qs::platform {

std::uint32_t LogSource::RecordNumber(std::size_t index) {
  const std::vector<std::uint8_t>& record = Record(index);
  if (record.size() < record_offset::kRecordNumber + 4) return 0;
  return ReadU32(record.data() + record_offset::kRecordNumber);
}

std::optional<std::size_t> LogSource::IndexOfNumber(std::uint32_t number) {
  // Numbers grow with the position: a binary search, whose answer is checked.
  std::size_t low = 0;
  std::size_t high = RecordCount();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (RecordNumber(middle) < number) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low < RecordCount() && RecordNumber(low) == number) return low;
  return std::nullopt;
}

std::uint32_t LogSourceReads::Count() const {
  const std::size_t n = source_->RecordCount();
  return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}

std::uint32_t LogSourceReads::OldestNumber() {
  // The source may build the record to tell its number, over the one fetched for the next read.
  fetched_ = static_cast<std::size_t>(-1);
  return source_->RecordCount() == 0 ? 0 : source_->RecordNumber(0);
}

bool LogSourceReads::Read(std::uint32_t readFlags, void* buffer, std::uint32_t bytesToRead,
                          std::uint32_t& bytesRead, std::uint32_t& bytesNeeded) {
  bytesRead = 0;
  bytesNeeded = 0;
  // Only the reading the scan does: sequential, oldest first.
  if ((readFlags & kEventLogSequentialRead) == 0 || (readFlags & kEventLogForwardsRead) == 0 ||
      (readFlags & (kEventLogSeekRead | kEventLogBackwardsRead)) != 0) {
    return false;
  }
  return Read(readFlags, 0, buffer, bytesToRead, bytesRead, bytesNeeded);
}

bool LogSourceReads::Read(std::uint32_t readFlags, std::uint32_t recordOffset, void* buffer,
                          std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                          std::uint32_t& bytesNeeded) {
  bytesRead = 0;
  bytesNeeded = 0;
  // The reading the scan does: sequential, oldest first, or from a record found by its number.
  const bool forwards =
      (readFlags & kEventLogForwardsRead) != 0 && (readFlags & kEventLogBackwardsRead) == 0;
  const bool sequential = (readFlags & kEventLogSequentialRead) != 0;
  const bool seek = (readFlags & kEventLogSeekRead) != 0;
  if (!forwards || sequential == seek) return false;
  if (seek) {
    // The search may ask the source for records: the one fetched before is no longer at hand.
    fetched_ = static_cast<std::size_t>(-1);
    const std::optional<std::size_t> index = source_->IndexOfNumber(recordOffset);
    if (!index) return false;
    next_ = *index;
  }
  if (next_ >= source_->RecordCount()) return false;
  if (fetched_ != next_) {
    record_ = &source_->Record(next_);
    fetched_ = next_;
  }
  const std::size_t size = record_->size();
  if (size > bytesToRead || buffer == nullptr) {
    bytesNeeded = static_cast<std::uint32_t>(size);
    return false;
  }
  std::copy(record_->begin(), record_->end(), static_cast<std::uint8_t*>(buffer));
  if (source_->NumbersItsRecords() && size >= record_offset::kRecordNumber + 4) {
    WriteU32(static_cast<std::uint8_t*>(buffer) + record_offset::kRecordNumber,
             source_->RecordNumber(next_));
  }
  bytesRead = static_cast<std::uint32_t>(size);
  ++next_;
  return true;
}

}  // namespace qs::platform
