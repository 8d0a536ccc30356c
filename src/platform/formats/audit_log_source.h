// A Linux audit log presented as a Security log: one record of event 560 for each file
// modification (what counts as one: platform/formats/audit_parser.h), oldest first. The
// modifications are handed in as the parser finds them; reading the log's files is the
// platform's part (OpenAuditLog).
//
// A log may hold hundreds of megabytes, and anybody who can write in a watched folder can make
// it grow, so no modification is kept: only where its event lies in the log (file, offset,
// length). A record is built by reading that stretch again, when it is asked for. What the
// source holds is a few tens of bytes per modification, whatever the paths and names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/formats/audit_parser.h"
#include "platform/formats/log_source.h"

namespace qs::platform {

class AuditLogSource final : public LogSource {
 public:
  // Reads up to `length` bytes at `offset` of the log's file `file` (numbered as given to Add)
  // into `out`, replacing what it held (its storage is reused); fewer only at the end of the file.
  // False when the file cannot be read.
  using SpanReader = std::function<bool(std::uint32_t file, std::uint64_t offset,
                                        std::size_t length, std::string& out)>;

  // hostName: the computer name of records whose modification names no node. lookup: the names
  // of user ids, used when a record is built.
  AuditLogSource(std::string hostName, audit::UserNameLookup lookup, SpanReader reader);

  // A path of the longest kind (PATH_MAX) makes a record of some 4 KiB: the scan reads records
  // of any size, so none is left out.
  //
  // A program that saves by writing a temporary file and renaming it over the document shows as
  // writes of a name that no longer exists, then a rename. So the writes of a file that the same
  // process (node, pid and session) then renames away are left out, and the rename stands for
  // them. A rename of a file that the renaming process did not write is left out itself: moving
  // somebody else's file changes nothing in it.
  //
  // `span` is where the modification's event lies in file `file` (the parser's EventSpan).
  void Add(std::uint32_t file, const audit::FileModification& m, const audit::EventSpan& span);

  // Once the log read so far is added: the records are the modifications added, less those that
  // a later rename stands for.
  void Compact();

  // The events still open at the end of a log that auditd may go on writing are shown for the
  // time being: the modifications added between BeginTail and Compact are taken back by DropTail
  // (with what their renames did to earlier ones), before the log's next bytes are read. So
  // whatever the log read so far gives, its records are those of the whole log read at once.
  void BeginTail();
  void DropTail();

  std::size_t RecordCount() const override { return presented_.size(); }
  // Empty when the log's file can no longer give the event (it cannot: auditd only appends to a
  // file, and the platform keeps the files open).
  const std::vector<std::uint8_t>& Record(std::size_t index) override;
  // A record's number is the place of its modification among all added since the log was
  // opened: the serial that the record carries starts again at every boot and is shared by the
  // nodes of a log that gathers several computers.
  std::uint32_t RecordNumber(std::size_t index) override { return presented_[index] + 1; }
  bool NumbersItsRecords() const override { return true; }
  std::optional<std::size_t> IndexOfNumber(std::uint32_t number) override;

 private:
  struct Place {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint32_t file = 0;
  };
  // A modification while the log is read: where it is, and its place among the modifications of
  // the same writer key's hash (see Add).
  struct Found {
    Place place;
    std::uint64_t hash = 0;
    std::uint32_t previous = kNone;  // the one before it with the same hash
    bool dropped = false;
    bool listed = true;  // still stands for its writer (not yet renamed away)
  };
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  static std::uint64_t WriterHash(const audit::FileModification& m, const std::string& path);
  std::optional<audit::FileModification> Reread(const Place& place,
                                                const audit::UserNameLookup& lookup);
  // A slot holds a modification's index + 1 beside the upper half of its hash, so that probing
  // compares hashes without going to the modification; 0 when empty.
  static std::uint64_t SlotValue(std::uint64_t hash, std::size_t index) {
    return (hash & 0xFFFFFFFF00000000u) | (index + 1);
  }
  static std::uint32_t SlotIndex(std::uint64_t slot) {
    return static_cast<std::uint32_t>(slot) - 1;
  }
  std::uint64_t* Slot(std::uint64_t hash);
  void Grow();
  void Rehash();

  std::string hostName_;
  audit::UserNameLookup lookup_;
  SpanReader reader_;
  std::vector<Found> found_;
  // Open addressing by writer hash: each slot holds the newest modification of its hash (see
  // SlotValue); the others of the hash are linked through Found::previous.
  std::vector<std::uint64_t> slots_;
  std::size_t used_ = 0;
  // The modifications shown as records: their places in found_, in order.
  std::vector<std::uint32_t> presented_;
  // While a tail is shown: where it begins in found_, the earlier modifications that its renames
  // took the place of, and the slots it wrote with what they held (the table is grown before the
  // tail, so that they stay in place; when it had to grow all the same, it is rebuilt).
  bool inTail_ = false;
  std::size_t tailBegin_ = 0;
  std::vector<std::uint32_t> tailUndo_;
  std::vector<std::pair<std::size_t, std::uint64_t>> tailSlots_;
  bool tailGrew_ = false;
  std::size_t usedBeforeTail_ = 0;
  // The stretch of the log read last: records are asked for in order, so most are in it.
  std::string window_;
  std::uint32_t windowFile_ = 0;
  std::uint64_t windowOffset_ = 0;
  std::vector<std::uint8_t> record_;
};

}  // namespace qs::platform
