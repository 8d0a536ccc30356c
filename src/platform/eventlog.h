// The event-log service: the four operations that a scan pass uses to read the Security log.
#pragma once

#include <cstdint>
#include <string_view>

namespace qs::platform {

// An open log; 0 means the open failed.
using EventLogHandle = std::uintptr_t;

// Read flags. Named apart from the Windows headers' macros, so that a Windows implementation
// can include those beside this header.
inline constexpr std::uint32_t kEventLogSequentialRead = 0x0001;
inline constexpr std::uint32_t kEventLogSeekRead = 0x0002;
inline constexpr std::uint32_t kEventLogForwardsRead = 0x0004;
inline constexpr std::uint32_t kEventLogBackwardsRead = 0x0008;

class EventLogService {
 public:
  virtual ~EventLogService() = default;

  // serverName empty: the local computer. Returns 0 when the log cannot be opened.
  virtual EventLogHandle OpenLog(std::string_view serverName, std::string_view sourceName) = 0;

  virtual bool NumberOfRecords(EventLogHandle log, std::uint32_t& count) = 0;

  // A sequential forwards read returns the next record, oldest first, and moves on by one.
  // When bytesToRead is smaller than the next record (0 included) the call returns false, stores
  // the record's size in bytesNeeded and does not move on. At the end of the log it returns false
  // with bytesNeeded 0.
  virtual bool ReadRecord(EventLogHandle log, std::uint32_t readFlags, std::uint32_t recordOffset,
                          void* buffer, std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                          std::uint32_t& bytesNeeded) = 0;

  virtual bool CloseLog(EventLogHandle log) = 0;

  // The record number of the oldest record (GetOldestEventLogRecord). Record numbers go up by one
  // from record to record, so with a seek read (kEventLogSeekRead | kEventLogForwardsRead, the
  // record number in recordOffset: that record, then the ones after it by sequential reads) a
  // pass can go on where an earlier one stopped, and tell how far into the log that is. A service
  // that cannot say it returns false, and its log is read whole at every pass.
  virtual bool OldestRecord(EventLogHandle /*log*/, std::uint32_t& /*number*/) { return false; }

  // Whether the log's file changed while the open read it (a log cut short or rewritten under
  // the reader): the handle then reads the records of the part that was read, and the next open
  // reads the file anew. Services that read the log in place never say so.
  virtual bool ChangedWhileOpened(EventLogHandle /*log*/) { return false; }
};

}  // namespace qs::platform
