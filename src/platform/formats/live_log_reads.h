// The reads of a live event log (ReadEventLogW), handed out one record at a time.
//
// One read fills the buffer with as many whole records as fit, and the log's reading position
// moves past all of them; the scan asks for one record at a time, with a size query first. The
// records of a read are therefore kept, and handed out one by one before the log is read again.
// A wide read's texts are UTF-16, as in an .evt file: each record is first given its texts in
// UTF-8, the program's own encoding, so that a name outside the ANSI code page ("Résumé.doc" on a
// server whose code page has no "é", a CJK name anywhere) arrives whole. Each record of events 4656
// and 5145 is then converted as it is taken from a read (evtx_record.h), so that the size the query
// answers is the size of the record then handed out.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "platform/eventlog_record.h"

namespace qs::platform {

// What one read of the log gave.
struct LiveReadResult {
  bool ok = false;
  std::uint32_t bytesRead = 0;
  // When the buffer was too small for the next record: its size; 0 otherwise.
  std::uint32_t bytesNeeded = 0;
};

// One read of the log into `buffer`, of at most `size` bytes, as ReadEventLogW (or A) does it.
using LiveReadCall = std::function<LiveReadResult(std::uint32_t flags, std::uint32_t offset,
                                                  std::uint8_t* buffer, std::uint32_t size)>;

class LiveLogReads {
 public:
  // The largest buffer a read accepts.
  static constexpr std::uint32_t kMaxReadBuffer = 0x7FFFF;
  // The buffer of the first try: room for many records of the usual size.
  static constexpr std::uint32_t kReadBuffer = 0x10000;

  // `text`: how the read gives the texts of its records (Utf16Le for ReadEventLogW).
  explicit LiveLogReads(LiveReadCall read, RecordText text = RecordText::Ansi)
      : read_(std::move(read)), text_(text) {}

  // EventLogService::ReadRecord: the next record; with a buffer smaller than it (0 included),
  // false with its size in bytesNeeded, the record kept for the next call; at the end of the log
  // or on a failed read, false with bytesNeeded 0.
  bool Read(std::uint32_t flags, std::uint32_t offset, void* buffer, std::uint32_t bytesToRead,
            std::uint32_t& bytesRead, std::uint32_t& bytesNeeded);

 private:
  bool Fill(std::uint32_t flags, std::uint32_t offset);

  LiveReadCall read_;
  RecordText text_;
  std::vector<std::uint8_t> utf8_;  // the record in hand with its texts in UTF-8
  std::deque<std::vector<std::uint8_t>> records_;
};

}  // namespace qs::platform
