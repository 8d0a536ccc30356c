// One log presented as the records of an event log in the form that an ANSI read returns them,
// oldest first, whatever the log's own format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace qs::platform {

class LogSource {
 public:
  virtual ~LogSource() = default;
  virtual std::size_t RecordCount() const = 0;
  // The record at position index (0 = oldest), index < RecordCount(). The reference stays valid
  // until the next call.
  virtual const std::vector<std::uint8_t>& Record(std::size_t index) = 0;

  // The record number that reads give the record at index; numbers grow with the index. By
  // default the record's own RecordNumber.
  virtual std::uint32_t RecordNumber(std::size_t index);
  // Whether RecordNumber is the source's own numbering rather than what the records carry (a log
  // whose records have no number of their own that stays unique): reads then write it into the
  // records they hand out.
  virtual bool NumbersItsRecords() const { return false; }
  // The position of the record numbered `number`; nullopt when the log holds none.
  virtual std::optional<std::size_t> IndexOfNumber(std::uint32_t number);
};

// An open log file read the way a scan reads an event log: the record count, and sequential
// forwards reads of one record each, oldest first, with the size query of the event-log service
// (a buffer too small, or none, gets the record's size in bytesNeeded and does not move on). The
// size query and the read that follows it ask the source for the record once, since a source may
// build each record when asked.
class LogSourceReads {
 public:
  explicit LogSourceReads(std::unique_ptr<LogSource> source) : source_(std::move(source)) {}
  // A source that outlives the reads (kept from pass to pass).
  explicit LogSourceReads(std::shared_ptr<LogSource> source) : source_(std::move(source)) {}

  // The count, held to what 32 bits can say.
  std::uint32_t Count() const;
  // The number of the oldest record (0 for an empty log).
  std::uint32_t OldestNumber();
  // Any other reading than sequential and forwards fails, as does a read past the last record
  // (with bytesNeeded 0).
  bool Read(std::uint32_t readFlags, void* buffer, std::uint32_t bytesToRead,
            std::uint32_t& bytesRead, std::uint32_t& bytesNeeded);
  // The same, and also the seek read (kEventLogSeekRead | kEventLogForwardsRead): the record
  // numbered recordOffset becomes the next one, then is read as a sequential read reads. A seek
  // to a number that the log does not hold fails with bytesNeeded 0 and does not move.
  bool Read(std::uint32_t readFlags, std::uint32_t recordOffset, void* buffer,
            std::uint32_t bytesToRead, std::uint32_t& bytesRead, std::uint32_t& bytesNeeded);

 private:
  std::shared_ptr<LogSource> source_;
  std::size_t next_ = 0;  // position of the next record to read
  std::size_t fetched_ = static_cast<std::size_t>(-1);
  const std::vector<std::uint8_t>* record_ = nullptr;  // the record at fetched_
};

}  // namespace qs::platform
