#include "evtwriter/evt_writer.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace qs::evtwriter {

namespace {

using platform::WriteU32;

// Copies bytes into the record area of the image, continuing at 0x30 at the end of the file.
void PutRing(std::vector<std::uint8_t>& image, std::size_t& pos, const std::uint8_t* bytes,
             std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    image[pos] = bytes[i];
    if (++pos == image.size()) pos = kHeaderSize;
  }
}

}  // namespace

std::string AccessesText(const std::vector<int>& codes) {
  std::string text;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (i != 0) text += "\r\n\t\t\t";
    text += "%%" + std::to_string(codes[i]);
  }
  return text;
}

EvtRecord MakeEvent560(const Event560& e) {
  EvtRecord r;
  r.recordNumber = e.recordNumber;
  r.timeGenerated = e.time;
  r.timeWritten = e.time;
  r.eventId = 560;
  r.eventType = kAuditSuccess;
  r.eventCategory = 3;
  r.sourceName = "Security";
  r.computerName = e.computerName;
  r.userSid = e.userSid;
  r.strings = {"Security",        e.objectType,
               e.objectName,      e.handleId,
               e.operationIdHigh, e.operationIdLow,
               e.processId,       e.primaryUser,
               e.primaryDomain,   e.primaryLogonId,
               e.clientUser,      e.clientDomain,
               e.clientLogonId,   AccessesText(e.accesses),
               e.privileges};
  return r;
}

std::vector<std::uint8_t> EncodeRecord(const EvtRecord& r, std::uint32_t recordNumber) {
  platform::EventRecordFields f;
  f.RecordNumber = recordNumber;
  f.TimeGenerated = r.timeGenerated;
  f.TimeWritten = r.timeWritten;
  f.EventID = r.eventId;
  f.EventType = r.eventType;
  f.EventCategory = r.eventCategory;
  f.ReservedFlags = r.reservedFlags;
  f.ClosingRecordNumber = r.closingRecordNumber;
  f.SourceName = r.sourceName;
  f.ComputerName = r.computerName;
  f.UserSid = r.userSid;
  f.Strings = r.strings;
  f.Data = r.data;
  std::vector<std::uint8_t> out = platform::BuildRecord(f, platform::RecordText::Utf16Le);
  // A record without a SID names no place for one.
  if (r.userSid.empty()) WriteU32(out.data() + platform::record_offset::kUserSidOffset, 0);
  return out;
}

EvtWriter::EvtWriter(std::uint32_t firstRecordNumber) : nextNumber_(firstRecordNumber) {}

std::uint32_t EvtWriter::Add(const EvtRecord& record) {
  const std::uint32_t number = record.recordNumber != 0 ? record.recordNumber : nextNumber_;
  nextNumber_ = number + 1;
  numbers_.push_back(number);
  records_.push_back(EncodeRecord(record, number));
  return number;
}

std::uint32_t EvtWriter::Add(const Event560& event) { return Add(MakeEvent560(event)); }

std::vector<std::uint8_t> EvtWriter::Bytes(const EvtLayout& layout) const {
  std::size_t recordBytes = 0;
  for (const auto& r : records_) recordBytes += r.size();
  const std::size_t used = recordBytes + kEofRecordSize + layout.afterEof.size();

  std::size_t fileSize = layout.fileSize;
  if (fileSize == 0) {
    fileSize = kHeaderSize + used + layout.freeSpace;
    fileSize = (fileSize + 3) / 4 * 4;
  }
  if (fileSize % 4 != 0 || fileSize < kHeaderSize + used || fileSize > 0xFFFFFFFFu) {
    throw std::length_error("evt writer: the file size cannot hold the records");
  }
  const std::size_t ring = fileSize - kHeaderSize;

  std::size_t start = layout.startOffset;
  if (layout.wrapRecord >= 0) {
    const auto index = static_cast<std::size_t>(layout.wrapRecord);
    // Split: some of the record on each side. No split: any tail left before the end.
    if (index >= records_.size() || layout.splitBytes == 0 || layout.splitBytes >= ring ||
        (!layout.noSplit && layout.splitBytes >= records_[index].size())) {
      throw std::length_error("evt writer: no such record to split at the end of the file");
    }
    std::size_t before = 0;
    for (std::size_t i = 0; i < index; ++i) before += records_[i].size();
    // Position (within the ring) of the record's start: fileSize - splitBytes.
    const std::size_t target = ring - layout.splitBytes;
    start = kHeaderSize + (target + ring - before % ring) % ring;
  }
  if (start < kHeaderSize || start >= fileSize) {
    throw std::length_error("evt writer: the start offset lies outside the record area");
  }

  std::vector<std::uint8_t> image(fileSize, 0);
  std::size_t pos = start;
  bool wrapped = false;
  std::size_t staleEnd = start;
  const std::size_t staleCount = layout.staleHeaderRecords < 0
                                     ? records_.size()
                                     : static_cast<std::size_t>(layout.staleHeaderRecords);
  // Where a record of `size` bytes that starts at pos goes.
  const auto place = [&](std::size_t size) {
    if (pos + size <= fileSize) return;
    wrapped = true;
    if (!layout.noSplit) return;
    const std::size_t tail = fileSize - pos;
    std::copy_n(layout.tailBytes.begin(), std::min(tail, layout.tailBytes.size()),
                image.begin() + static_cast<std::ptrdiff_t>(pos));
    pos = kHeaderSize;
  };
  for (std::size_t i = 0; i < records_.size(); ++i) {
    if (i == staleCount) staleEnd = pos;
    place(records_[i].size());
    PutRing(image, pos, records_[i].data(), records_[i].size());
  }
  if (staleCount >= records_.size()) staleEnd = pos;
  place(kEofRecordSize);
  const std::size_t eofOffset = pos;
  const std::uint32_t oldest = numbers_.empty() ? nextNumber_ : numbers_.front();
  const std::uint32_t current = nextNumber_;
  const std::uint32_t staleCurrent = staleCount < records_.size() ? numbers_[staleCount] : current;

  namespace eof_at = platform::evt_eof_offset;
  std::uint8_t eof[kEofRecordSize];
  WriteU32(eof + eof_at::kSizeBeginning, kEofRecordSize);
  for (std::size_t k = 0; k < std::size(platform::kEvtEofMarks); ++k)
    WriteU32(eof + eof_at::kMarks + 4 * k, platform::kEvtEofMarks[k]);
  WriteU32(eof + eof_at::kBeginRecord,
           static_cast<std::uint32_t>(records_.empty() ? eofOffset : start));
  WriteU32(eof + eof_at::kEndRecord, static_cast<std::uint32_t>(eofOffset));
  WriteU32(eof + eof_at::kCurrentRecordNumber, current);
  WriteU32(eof + eof_at::kOldestRecordNumber, oldest);
  WriteU32(eof + eof_at::kSizeEnd, kEofRecordSize);
  PutRing(image, pos, eof, kEofRecordSize);
  PutRing(image, pos, layout.afterEof.data(), layout.afterEof.size());

  std::uint32_t flags = layout.extraFlags;
  if (layout.dirty) flags |= kFlagDirty;
  if (wrapped || start != kHeaderSize) flags |= kFlagWrap;
  namespace header_at = platform::evt_header_offset;
  std::uint8_t* h = image.data();
  WriteU32(h + header_at::kHeaderSize, kHeaderSize);
  WriteU32(h + header_at::kSignature, platform::kRecordSignature);
  WriteU32(h + header_at::kMajorVersion, platform::kEvtVersion);
  WriteU32(h + header_at::kMinorVersion, platform::kEvtVersion);
  WriteU32(h + header_at::kStartOffset,
           static_cast<std::uint32_t>(records_.empty() ? eofOffset : start));
  WriteU32(h + header_at::kEndOffset, static_cast<std::uint32_t>(staleEnd));
  WriteU32(h + header_at::kCurrentRecordNumber, staleCurrent);
  WriteU32(h + header_at::kOldestRecordNumber, oldest);
  WriteU32(h + header_at::kMaxSize, static_cast<std::uint32_t>(fileSize));
  WriteU32(h + header_at::kFlags, flags);
  WriteU32(h + header_at::kRetention, 0);
  WriteU32(h + header_at::kEndHeaderSize, kHeaderSize);
  return image;
}

void EvtWriter::WriteFile(const std::string& path, const EvtLayout& layout) const {
  const std::vector<std::uint8_t> image = Bytes(layout);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) throw std::runtime_error("evt writer: cannot write " + path);
}

}  // namespace qs::evtwriter
