// Reading Windows NT event-log (.evt) files: the records from the oldest to the EOF record, each
// presented in the form that an ANSI read returns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/formats/log_source.h"

namespace qs::platform {

// Where the walk of a log began and ended, for diagnostics and tests.
struct EvtLogLayout {
  std::uint32_t fileSize = 0;
  std::uint32_t headerFlags = 0;
  std::uint32_t oldestOffset = 0;  // offset of the oldest record
  bool eofRecordFound = false;     // false: none in the file; the walk went as far as records hold
  std::uint32_t eofOffset = 0;     // offset of the EOF record, when found
  bool headerTrusted = false;      // header clean and in agreement with the EOF record
  // Bytes of damaged records passed over by the walk: a first record that fails its checks (the
  // walk looks for the next record signature behind it) and records cut short mid-log.
  std::uint32_t skippedBytes = 0;
  std::uint32_t skippedStretches = 0;  // how many damaged places those bytes make
};

// Reads `length` bytes at `offset` of a log's file into `out`; false when it cannot (the file
// ends before, or the read fails).
using EvtFileReader =
    std::function<bool(std::size_t offset, std::size_t length, std::uint8_t* out)>;

// A log read through a reader in pieces of 64 KiB, at most 16 of them held at a time: a log of
// gigabytes costs a megabyte of memory, and the records' positions. A read that fails (the file
// cut short under the reader) leaves zeros and is remembered: nothing more is read after it.
class EvtPieceCache {
 public:
  static constexpr std::size_t kPieceSize = 64 * 1024;
  static constexpr std::size_t kPieces = 16;

  EvtPieceCache(std::size_t size, EvtFileReader read) : size_(size), read_(std::move(read)) {}
  std::size_t size() const { return size_; }
  // Bytes [pos, pos + count) of the file, pos + count <= size(); false (zeros in `out`) when a
  // read failed, now or before.
  bool Read(std::size_t pos, std::size_t count, std::uint8_t* out);
  bool Failed() const { return failed_; }
  // The file is now `size` bytes long, its content changed: every piece is read again.
  void Resize(std::size_t size) {
    size_ = size;
    for (Piece& p : pieces_) p.start = static_cast<std::size_t>(-1);
  }

 private:
  struct Piece {
    std::size_t start = static_cast<std::size_t>(-1);
    std::uint64_t used = 0;
    std::vector<std::uint8_t> bytes;
  };
  const Piece* Load(std::size_t start);

  std::size_t size_;
  EvtFileReader read_;
  Piece pieces_[kPieces];
  std::uint64_t clock_ = 0;
  bool failed_ = false;
};

class EvtLog final : public LogSource {
 public:
  // Parses a whole .evt image held in memory; nullptr when it does not start with an event-log
  // header.
  static std::unique_ptr<EvtLog> Parse(std::vector<std::uint8_t> image);
  // The log of a file of `fileSize` bytes read through `read` as the walk and the records need
  // its bytes, never whole (see EvtPieceCache); nullptr when it does not start with an event-log
  // header. `read` is kept, to read the records when asked for.
  static std::unique_ptr<EvtLog> Open(std::size_t fileSize, EvtFileReader read);

  std::size_t RecordCount() const override { return offsets_.size(); }
  const std::vector<std::uint8_t>& Record(std::size_t index) override;
  std::uint32_t RecordNumber(std::size_t index) override;

  // File offset of the record at index (a record that spans the end of the file continues at
  // 0x30).
  std::uint32_t RecordFileOffset(std::size_t index) const { return offsets_[index]; }
  const EvtLogLayout& Layout() const { return layout_; }
  // The file's bytes as parsed, for a log parsed from memory; empty for a log read from its file.
  const std::vector<std::uint8_t>& Image() const { return image_; }
  // The header and the EOF record as they were read (the EOF record empty when none was found):
  // a file that still holds both, with the same stamp, holds the same records.
  const std::vector<std::uint8_t>& HeaderBytes() const { return header_; }
  const std::vector<std::uint8_t>& EofBytes() const { return eofBytes_; }
  // Whether a read of a log opened from its file failed (the file was cut short under it): the
  // records from the failed read on are missing, and a record that could not be read comes back
  // empty.
  bool ReadFailed() const { return cache_ != nullptr && cache_->Failed(); }
  // Reads `length` bytes at `offset` of the log's file into `out`; false when it cannot.
  using FileReader = EvtFileReader;
  // Brings the log up to date with its file, now `fileSize` bytes long, reading only what the
  // event-log service has written since: the records behind the old EOF record, the new EOF
  // record and the header. False when the file did not change that way (cleared, replaced,
  // damaged, or grown after its records wrapped): it must then be parsed anew. A log opened
  // from its file goes on reading its records through its own reader.
  bool ReadOn(std::size_t fileSize, const FileReader& read);
  // Gives the image's storage away, to read the file again into it; the log is empty after.
  std::vector<std::uint8_t> TakeImage() {
    offsets_.clear();
    return std::move(image_);
  }

 private:
  EvtLog() = default;
  static std::unique_ptr<EvtLog> Walk(std::unique_ptr<EvtLog> log);
  void KeepEdges(std::size_t eofAt);

  std::vector<std::uint8_t> image_;       // a log parsed from memory
  std::unique_ptr<EvtPieceCache> cache_;  // a log read from its file
  std::vector<std::uint32_t> offsets_;
  EvtLogLayout layout_;
  std::vector<std::uint8_t> header_;
  std::vector<std::uint8_t> eofBytes_;
  std::vector<std::uint8_t> newest_;     // the newest record's bytes, as ReadOn checks them
  std::vector<std::uint8_t> spanning_;   // a record read whole, or made whole across the wrap
  std::vector<std::uint8_t> converted_;  // the last record returned, reused from call to call
};

// Converts one on-disk record (its `length` bytes, contiguous) into the ANSI form in `out`
// (overwritten; its capacity is reused). Offsets and counts inside the record are not trusted:
// names, strings, SID and data are taken only as far as they lie inside the record. A length
// below 56 gives an empty `out`.
void ConvertEvtRecord(const std::uint8_t* record, std::size_t length,
                      std::vector<std::uint8_t>& out);

}  // namespace qs::platform
