#include "platform/formats/log_source.h"

#include <algorithm>

#include "platform/eventlog.h"

namespace qs::platform {

std::uint32_t LogSourceReads::Count() const {
  const std::size_t n = source_->RecordCount();
  return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
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
  bytesRead = static_cast<std::uint32_t>(size);
  ++next_;
  return true;
}

}  // namespace qs::platform
