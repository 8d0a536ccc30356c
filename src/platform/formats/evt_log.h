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

class EvtLog final : public LogSource {
 public:
  // Parses a whole .evt image; nullptr when it does not start with an event-log header.
  static std::unique_ptr<EvtLog> Parse(std::vector<std::uint8_t> image);

  std::size_t RecordCount() const override { return offsets_.size(); }
  const std::vector<std::uint8_t>& Record(std::size_t index) override;
  std::uint32_t RecordNumber(std::size_t index) override;

  // File offset of the record at index (a record that spans the end of the file continues at
  // 0x30).
  std::uint32_t RecordFileOffset(std::size_t index) const { return offsets_[index]; }
  const EvtLogLayout& Layout() const { return layout_; }
  // The file's bytes as parsed.
  const std::vector<std::uint8_t>& Image() const { return image_; }
  // Reads `length` bytes at `offset` of the log's file into `out`; false when it cannot.
  using FileReader = std::function<bool(std::size_t offset, std::size_t length, std::uint8_t* out)>;
  // Brings the log up to date with its file, now `fileSize` bytes long, reading only what the
  // event-log service has written since: the records behind the old EOF record, the new EOF
  // record and the header. False when the file did not change that way (cleared, replaced,
  // damaged, or grown after its records wrapped): it must then be parsed anew.
  bool ReadOn(std::size_t fileSize, const FileReader& read);
  // Gives the image's storage away, to read the file again into it; the log is empty after.
  std::vector<std::uint8_t> TakeImage() {
    offsets_.clear();
    return std::move(image_);
  }

 private:
  EvtLog() = default;

  std::vector<std::uint8_t> image_;
  std::vector<std::uint32_t> offsets_;
  EvtLogLayout layout_;
  std::vector<std::uint8_t> spanning_;   // a record that spans the end of the file, made whole
  std::vector<std::uint8_t> converted_;  // the last record returned, reused from call to call
};

// Converts one on-disk record (its `length` bytes, contiguous) into the ANSI form in `out`
// (overwritten; its capacity is reused). Offsets and counts inside the record are not trusted:
// names, strings, SID and data are taken only as far as they lie inside the record. A length
// below 56 gives an empty `out`.
void ConvertEvtRecord(const std::uint8_t* record, std::size_t length,
                      std::vector<std::uint8_t>& out);

}  // namespace qs::platform
