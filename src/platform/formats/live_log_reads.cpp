#include "platform/formats/live_log_reads.h"

#include <algorithm>

#include "platform/eventlog.h"
#include "platform/eventlog_record.h"
#include "platform/formats/evt_log.h"
#include "platform/formats/evtx_record.h"

namespace qs::platform {

bool LiveLogReads::Fill(std::uint32_t flags, std::uint32_t offset) {
  std::vector<std::uint8_t> bytes(kReadBuffer);
  LiveReadResult result = read_(flags, offset, bytes.data(), kReadBuffer);
  if (!result.ok && result.bytesNeeded > kReadBuffer && result.bytesNeeded <= kMaxReadBuffer) {
    // A record larger than the first buffer: the position has not moved, read it again.
    bytes.resize(result.bytesNeeded);
    result = read_(flags, offset, bytes.data(), result.bytesNeeded);
  }
  if (!result.ok) return false;
  const std::size_t got = std::min<std::size_t>(result.bytesRead, bytes.size());
  std::size_t pos = 0;
  while (pos < got) {
    const std::size_t left = got - pos;
    std::size_t length = left >= 4 ? ReadU32(bytes.data() + pos + record_offset::kLength) : left;
    // A record whose Length does not fit what was read is handed out with the rest of the read,
    // as it came: the scan counts it and reads on, and no record is dropped unseen.
    if (length < kMinRecordSize || length > left) length = left;
    const std::uint8_t* record = bytes.data() + pos;
    std::size_t recordLength = length;
    if (text_ == RecordText::Utf16Le && length >= kFixedRecordSize) {
      ConvertEvtRecord(record, length, utf8_);
      record = utf8_.data();
      recordLength = utf8_.size();
    }
    if (auto converted = evtx::ConvertLiveRecord(record, recordLength)) {
      records_.push_back(std::move(*converted));
    } else {
      records_.emplace_back(record, record + recordLength);
    }
    pos += length;
  }
  return !records_.empty();
}

bool LiveLogReads::Read(std::uint32_t flags, std::uint32_t offset, void* buffer,
                        std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                        std::uint32_t& bytesNeeded) {
  bytesRead = 0;
  bytesNeeded = 0;
  // A seek moves the reading position: the records kept from the last read are not the next ones.
  if ((flags & kEventLogSeekRead) != 0) records_.clear();
  if (records_.empty() && !Fill(flags, offset)) return false;
  const std::vector<std::uint8_t>& next = records_.front();
  if (buffer == nullptr || next.size() > bytesToRead) {
    bytesNeeded = static_cast<std::uint32_t>(next.size());
    return false;
  }
  std::copy(next.begin(), next.end(), static_cast<std::uint8_t*>(buffer));
  bytesRead = static_cast<std::uint32_t>(next.size());
  records_.pop_front();
  return true;
}

}  // namespace qs::platform
