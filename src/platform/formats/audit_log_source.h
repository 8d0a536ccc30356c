// A Linux audit log presented as a Security log: one record of event 560 for each file
// modification (what counts as one: platform/formats/audit_parser.h), oldest first. The
// modifications are handed in as the parser finds them; reading the log's files is the
// platform's part (OpenAuditLog).
//
// A log may hold hundreds of megabytes, and anybody who can write in a watched folder can make
// it grow, so what the source holds of each modification is where its event lies in the log
// (file, offset, length): a few tens of bytes, whatever the paths and names. A record is built
// by reading that stretch again when it is asked for. Only the first few megabytes' worth of
// modifications are also kept whole, so that the records of a log of ordinary size are built
// without reading and parsing it twice.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

  // Finds the path of a modification whose logged name cannot be trusted (its basis is not
  // NameBasis::Logged) from the identities the log gives, on the file system: `path` becomes the
  // absolute path and `basis` Logged. False when no path can be told for it.
  using PathResolver = std::function<bool(audit::FileModification&)>;

  // The modification of an event read again from the log (the text of its EventSpan); by default
  // the audit log's (audit::ParseEventSpan). Another log that gives modifications in the same
  // form (Samba's full_audit log) passes its own.
  using SpanParser = std::function<std::optional<audit::FileModification>(
      std::string_view text, const audit::UserNameLookup& lookup)>;

  // hostName: the computer name of records whose modification names no node. lookup: the names
  // of user ids, used when a record is built. resolver: where paths are resolved (without one,
  // the log's own names stand, whatever their basis).
  AuditLogSource(std::string hostName, audit::UserNameLookup lookup, SpanReader reader,
                 std::size_t keptBytes = kKeptBytes, PathResolver resolver = {},
                 SpanParser spanParser = {});

  // How much memory the modifications that come with their users' names may take, kept whole so
  // that their records are built without reading the log again. A modification given with names
  // must carry the names that `lookup` gives.
  static constexpr std::size_t kKeptBytes = 8 << 20;
  // Whether a modification given now with its names would be kept.
  bool KeepsMore() const { return kept_.Room(); }

  // A path of the longest kind (PATH_MAX) makes a record of some 4 KiB: the scan reads records
  // of any size, so none is left out.
  //
  // A program that saves by writing a temporary file and renaming it over the document shows as
  // writes of a name that no longer exists, then a rename. So the writes of a file that the same
  // process (node, pid and session) then renames away are left out, and the rename stands for
  // them. A rename of a file that the renaming process did not write is left out itself: moving
  // somebody else's file changes nothing in it. Where the log gives the identity of the file
  // moved and of the file written, the two must be the same file; a name alone would let whoever
  // wrote it once move any file through it.
  //
  // A modification whose path must be resolved (see PathResolver) and cannot be is left out:
  // a record names a real path or none.
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
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  // Modifications kept whole, one after the other in blocks, up to a number of bytes.
  class Kept {
   public:
    // Places are 32-bit numbers, and kNone is none of them.
    explicit Kept(std::size_t budget) : budget_(std::min<std::size_t>(budget, kNone - 1)) {}
    // Where m is kept, or kNone when there is no room for it.
    std::uint32_t Keep(const audit::FileModification& m);
    // The modification kept at `at`, into `out` (its strings' storage reused).
    void Get(std::uint32_t at, audit::FileModification& out) const;
    // Forgets what was kept from `at` on.
    void Truncate(std::uint32_t at);
    std::uint32_t End() const { return static_cast<std::uint32_t>(used_); }
    // False once a modification found no room: the rest would mostly find none either.
    bool Room() const { return !full_ && used_ < budget_; }

   private:
    static constexpr std::size_t kBlock = 256 << 10;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = 0;  // block * kBlock + the offset in it
    std::size_t budget_;
    bool full_ = false;
  };

  // A modification while the log is read: where its event lies (file, offset, length), where it
  // is kept whole if it is, and its place among the modifications of the same writer key's hash
  // (see Add).
  struct Found {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t hash = 0;
    std::uint32_t file = 0;
    std::uint32_t kept = kNone;
    std::uint32_t previous = kNone;  // the one before it with the same hash
    bool dropped = false;
    bool listed = true;  // still stands for its writer (not yet renamed away)
  };

  // The modifications found, in blocks that stay where they are: a vector would copy them all,
  // and touch memory twice their size, each time it grows.
  class FoundList {
   public:
    std::size_t size() const { return size_; }
    Found& operator[](std::size_t i) { return blocks_[i / kBlock][i % kBlock]; }
    const Found& operator[](std::size_t i) const { return blocks_[i / kBlock][i % kBlock]; }
    void push_back(const Found& found) {
      if (size_ == blocks_.size() * kBlock) blocks_.push_back(std::make_unique<Found[]>(kBlock));
      (*this)[size_++] = found;
    }
    // Shrinks to `size`; the blocks stay for what comes next.
    void resize(std::size_t size) { size_ = std::min(size_, size); }

   private:
    static constexpr std::size_t kBlock = 4096;
    std::vector<std::unique_ptr<Found[]>> blocks_;
    std::size_t size_ = 0;
  };

  // The hash of a writer's key: node, pid and session, and the file, by its identity when the
  // log gives it, else by its path.
  static std::uint64_t WriterHash(const audit::FileModification& m,
                                  const std::optional<FileIdentity>& identity,
                                  const std::string& path);
  // The modification of `found`, from where it is kept or else from the log (its path resolved
  // when `resolve`); nullptr when the log cannot give it. Valid until the next call.
  const audit::FileModification* Modification(const Found& found,
                                              const audit::UserNameLookup& lookup, bool resolve);
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
  PathResolver resolver_;
  SpanParser spanParser_;
  audit::FileModification resolving_;  // Add's copy of a modification whose path it resolves
  FoundList found_;
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
  Kept kept_;
  std::uint32_t keptBeforeTail_ = 0;
  audit::FileModification modification_;
};

}  // namespace qs::platform
