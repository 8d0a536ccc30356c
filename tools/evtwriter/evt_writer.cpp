#include "evtwriter/evt_writer.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "platform/eventlog_record.h"
#include "platform/utf.h"

namespace qs::evtwriter {

namespace {

using platform::WriteU16;
using platform::WriteU32;

void AppendUtf16(std::vector<std::uint8_t>& out, const std::string& utf8) {
  for (char16_t u : platform::Utf8ToUtf16(utf8)) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

void PadTo4(std::vector<std::uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

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
  std::vector<std::uint8_t> out(platform::kFixedRecordSize, 0);
  AppendUtf16(out, r.sourceName);
  AppendUtf16(out, r.computerName);
  PadTo4(out);
  const auto sidOffset = static_cast<std::uint32_t>(out.size());
  out.insert(out.end(), r.userSid.begin(), r.userSid.end());
  const auto stringOffset = static_cast<std::uint32_t>(out.size());
  for (const auto& s : r.strings) AppendUtf16(out, s);
  const auto dataOffset = static_cast<std::uint32_t>(out.size());
  out.insert(out.end(), r.data.begin(), r.data.end());
  PadTo4(out);
  out.resize(out.size() + 4);

  const auto length = static_cast<std::uint32_t>(out.size());
  std::uint8_t* p = out.data();
  WriteU32(p + 0, length);
  WriteU32(p + 4, platform::kRecordSignature);
  WriteU32(p + 8, recordNumber);
  WriteU32(p + 12, r.timeGenerated);
  WriteU32(p + 16, r.timeWritten);
  WriteU32(p + 20, r.eventId);
  WriteU16(p + 24, r.eventType);
  WriteU16(p + 26, static_cast<std::uint16_t>(r.strings.size()));
  WriteU16(p + 28, r.eventCategory);
  WriteU16(p + 30, r.reservedFlags);
  WriteU32(p + 32, r.closingRecordNumber);
  WriteU32(p + 36, stringOffset);
  WriteU32(p + 40, static_cast<std::uint32_t>(r.userSid.size()));
  WriteU32(p + 44, r.userSid.empty() ? 0 : sidOffset);
  WriteU32(p + 48, static_cast<std::uint32_t>(r.data.size()));
  WriteU32(p + 52, dataOffset);
  WriteU32(p + length - 4, length);
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

  std::uint8_t eof[kEofRecordSize];
  WriteU32(eof + 0, kEofRecordSize);
  WriteU32(eof + 4, 0x11111111);
  WriteU32(eof + 8, 0x22222222);
  WriteU32(eof + 12, 0x33333333);
  WriteU32(eof + 16, 0x44444444);
  WriteU32(eof + 20, static_cast<std::uint32_t>(records_.empty() ? eofOffset : start));
  WriteU32(eof + 24, static_cast<std::uint32_t>(eofOffset));
  WriteU32(eof + 28, current);
  WriteU32(eof + 32, oldest);
  WriteU32(eof + 36, kEofRecordSize);
  PutRing(image, pos, eof, kEofRecordSize);
  PutRing(image, pos, layout.afterEof.data(), layout.afterEof.size());

  std::uint32_t flags = layout.extraFlags;
  if (layout.dirty) flags |= kFlagDirty;
  if (wrapped || start != kHeaderSize) flags |= kFlagWrap;
  std::uint8_t* h = image.data();
  WriteU32(h + 0, kHeaderSize);
  WriteU32(h + 4, platform::kRecordSignature);
  WriteU32(h + 8, 1);
  WriteU32(h + 12, 1);
  WriteU32(h + 16, static_cast<std::uint32_t>(records_.empty() ? eofOffset : start));
  WriteU32(h + 20, static_cast<std::uint32_t>(staleEnd));
  WriteU32(h + 24, staleCurrent);
  WriteU32(h + 28, oldest);
  WriteU32(h + 32, static_cast<std::uint32_t>(fileSize));
  WriteU32(h + 36, flags);
  WriteU32(h + 40, 0);
  WriteU32(h + 44, kHeaderSize);
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
