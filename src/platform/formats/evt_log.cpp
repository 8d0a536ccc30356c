#include "platform/formats/evt_log.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/eventlog_record.h"

namespace qs::platform {

namespace {

constexpr std::uint32_t kHeaderSize = kEvtHeaderSize;
constexpr std::uint32_t kEofSize = kEvtEofRecordSize;
namespace eof_at = evt_eof_offset;
namespace header_at = evt_header_offset;

// The record area of the file is a ring: [0x30, file size), a byte past its end continuing at
// 0x30. Every position handed around here lies inside it.
class Ring {
 public:
  explicit Ring(const std::vector<std::uint8_t>& image)
      : data_(image.data()), size_(image.size()), ring_(image.size() - kHeaderSize) {}
  explicit Ring(EvtPieceCache& cache)
      : cache_(&cache), size_(cache.size()), ring_(cache.size() - kHeaderSize) {}

  std::size_t size() const { return ring_; }
  std::size_t fileSize() const { return size_; }
  bool Contains(std::uint64_t pos) const { return pos >= kHeaderSize && pos < size_; }
  // A read of the file failed: what follows reads as zeros.
  bool Failed() const { return cache_ != nullptr && cache_->Failed(); }

  // pos inside the ring, step any count below the ring's size.
  std::size_t Advance(std::size_t pos, std::size_t step) const {
    const std::size_t rel = pos - kHeaderSize + step % ring_;
    return kHeaderSize + (rel >= ring_ ? rel - ring_ : rel);
  }
  // Bytes from a to b going forwards (0 when a == b).
  std::size_t Distance(std::size_t a, std::size_t b) const {
    return b >= a ? b - a : ring_ - (a - b);
  }

  std::uint32_t U32(std::size_t pos) const {
    if (data_ != nullptr && pos + 4 <= size_) return ReadU32(data_ + pos);
    std::uint8_t b[4];
    Copy(pos, 4, b);
    return ReadU32(b);
  }
  void Copy(std::size_t pos, std::size_t count, std::uint8_t* out) const {
    while (count > 0) {
      const std::size_t chunk = std::min(count, size_ - pos);
      CopyInFile(pos, chunk, out);
      out += chunk;
      count -= chunk;
      pos = kHeaderSize;
    }
  }
  // Bytes of the file itself, without the wrap: pos + count <= fileSize().
  void CopyInFile(std::size_t pos, std::size_t count, std::uint8_t* out) const {
    if (data_ != nullptr) {
      std::memcpy(out, data_ + pos, count);
    } else {
      cache_->Read(pos, count, out);
    }
  }

 private:
  const std::uint8_t* data_ = nullptr;
  EvtPieceCache* cache_ = nullptr;
  std::size_t size_;
  std::size_t ring_;
};

struct EofRecord {
  std::uint32_t begin = 0;
  std::uint32_t current = 0;
  std::uint32_t oldest = 0;
};

// An EOF record at pos: its markers, both size fields, its end offset naming its own position and
// an aligned begin offset inside the record area.
bool ReadEofAt(const Ring& ring, std::size_t pos, EofRecord& eof) {
  if (ring.size() < kEofSize) return false;
  if (ring.U32(ring.Advance(pos, eof_at::kSizeBeginning)) != kEofSize) return false;
  for (std::size_t k = 0; k < std::size(kEvtEofMarks); ++k) {
    if (ring.U32(ring.Advance(pos, eof_at::kMarks + 4 * k)) != kEvtEofMarks[k]) return false;
  }
  if (ring.U32(ring.Advance(pos, eof_at::kSizeEnd)) != kEofSize) return false;
  if (ring.U32(ring.Advance(pos, eof_at::kEndRecord)) != pos) return false;
  const std::uint32_t begin = ring.U32(ring.Advance(pos, eof_at::kBeginRecord));
  if (!ring.Contains(begin) || begin % 4 != 0) return false;
  eof.begin = begin;
  eof.current = ring.U32(ring.Advance(pos, eof_at::kCurrentRecordNumber));
  eof.oldest = ring.U32(ring.Advance(pos, eof_at::kOldestRecordNumber));
  return true;
}

// The newest EOF record of the file (the highest current record number: an EOF record left among
// overwritten records is older than the one the log ends with). The file is looked through a
// piece at a time.
bool FindEof(const Ring& ring, std::size_t& at, EofRecord& eof) {
  bool found = false;
  std::vector<std::uint8_t> piece(EvtPieceCache::kPieceSize);
  for (std::size_t start = kHeaderSize; start + 4 <= ring.fileSize() && !ring.Failed();
       start += piece.size()) {
    const std::size_t count = std::min(piece.size(), ring.fileSize() - start);
    ring.CopyInFile(start, count, piece.data());
    for (std::size_t i = 0; i + 4 <= count; i += 4) {
      if (ReadU32(piece.data() + i) != kEofSize) continue;
      const std::size_t pos = start + i;
      EofRecord candidate;
      if (!ReadEofAt(ring, pos, candidate)) continue;
      if (!found || candidate.current > eof.current) {
        eof = candidate;
        at = pos;
        found = true;
      }
    }
  }
  return found;
}

// The Length of the record at pos when it passes the checks of a record (Length at least 0x38, a
// multiple of 4 and within room; the signature; the trailing copy of Length), else 0.
std::uint32_t RecordLengthAt(const Ring& ring, std::size_t pos, std::size_t room) {
  if (room < kFixedRecordSize) return 0;
  const std::uint32_t length = ring.U32(pos);
  if (length < kFixedRecordSize || length % 4 != 0 || length > room) return 0;
  if (ring.U32(ring.Advance(pos, record_offset::kSignature)) != kRecordSignature) return 0;
  if (ring.U32(ring.Advance(pos, length - 4)) != length) return 0;
  return length;
}

void AppendUtf8(std::vector<std::uint8_t>& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<std::uint8_t>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<std::uint8_t>(0xC0 | (c >> 6)));
    out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<std::uint8_t>(0xE0 | (c >> 12)));
    out.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<std::uint8_t>(0xF0 | (c >> 18)));
    out.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
  }
}

// Converts the UTF-16LE text that starts at pos and ends at a zero unit or at end (whichever
// comes first) to UTF-8 followed by one zero byte; returns the position after the terminator
// (or end). An unpaired surrogate becomes U+FFFD.
std::size_t ConvertText(const std::uint8_t* rec, std::size_t pos, std::size_t end,
                        std::vector<std::uint8_t>& out) {
  while (pos + 2 <= end) {
    const char16_t u = ReadU16(rec + pos);
    pos += 2;
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && pos + 2 <= end) {
      const char16_t low = ReadU16(rec + pos);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        pos += 2;
        AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                            (static_cast<char32_t>(low) - 0xDC00));
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  out.push_back(0);
  return pos;
}

// A span [offset, offset + length) that lies inside the record's variable part.
bool Inside(std::uint32_t offset, std::uint32_t length, std::size_t bodyEnd) {
  return offset >= kFixedRecordSize && offset <= bodyEnd && length <= bodyEnd - offset;
}

}  // namespace

void ConvertEvtRecord(const std::uint8_t* rec, std::size_t length, std::vector<std::uint8_t>& out) {
  out.clear();
  if (length < kFixedRecordSize) return;
  // The variable part ends before the trailing copy of Length (when there is room for one).
  const std::size_t bodyEnd = length >= kFixedRecordSize + 4 ? length - 4 : kFixedRecordSize;

  // The fixed part is copied as it stands; FinishRecord rewrites the fields that place the parts.
  out.insert(out.end(), rec, rec + kFixedRecordSize);
  std::size_t pos = ConvertText(rec, record_offset::kSourceName, bodyEnd, out);
  ConvertText(rec, pos, bodyEnd, out);  // computer name
  PadRecordTo4(out);

  RecordPlacement placement;
  const std::uint32_t sidLength = ReadU32(rec + record_offset::kUserSidLength);
  const std::uint32_t sidOffset = ReadU32(rec + record_offset::kUserSidOffset);
  placement.userSidOffset = static_cast<std::uint32_t>(out.size());
  if (sidLength != 0 && Inside(sidOffset, sidLength, bodyEnd)) {
    out.insert(out.end(), rec + sidOffset, rec + sidOffset + sidLength);
    placement.userSidLength = sidLength;
  }

  const std::uint16_t numStrings = ReadU16(rec + record_offset::kNumStrings);
  const std::uint32_t stringOffset = ReadU32(rec + record_offset::kStringOffset);
  placement.stringOffset = static_cast<std::uint32_t>(out.size());
  if (stringOffset >= kFixedRecordSize && stringOffset < bodyEnd) {
    pos = stringOffset;
    while (placement.numStrings < numStrings && pos + 2 <= bodyEnd) {
      pos = ConvertText(rec, pos, bodyEnd, out);
      ++placement.numStrings;
    }
  }

  const std::uint32_t dataLength = ReadU32(rec + record_offset::kDataLength);
  const std::uint32_t dataOffset = ReadU32(rec + record_offset::kDataOffset);
  placement.dataOffset = static_cast<std::uint32_t>(out.size());
  if (dataLength != 0 && Inside(dataOffset, dataLength, bodyEnd)) {
    out.insert(out.end(), rec + dataOffset, rec + dataOffset + dataLength);
    placement.dataLength = dataLength;
  }
  FinishRecord(out, placement);
}

namespace {

bool IsEvtHeader(const std::uint8_t* h) {
  return BeginsAsEvtHeader(h) && ReadU32(h + header_at::kMajorVersion) == kEvtVersion &&
         ReadU32(h + header_at::kMinorVersion) == kEvtVersion &&
         ReadU32(h + header_at::kEndHeaderSize) == kHeaderSize;
}

}  // namespace

std::unique_ptr<EvtLog> EvtLog::Parse(std::vector<std::uint8_t> image) {
  // A header, then room at least for the EOF record; offsets are 32-bit.
  if (image.size() < kHeaderSize + kEofSize || image.size() > 0xFFFFFFFFu) return nullptr;
  if (!IsEvtHeader(image.data())) return nullptr;
  std::unique_ptr<EvtLog> log(new EvtLog());
  log->header_.assign(image.begin(), image.begin() + kHeaderSize);
  log->image_ = std::move(image);
  return Walk(std::move(log));
}

std::unique_ptr<EvtLog> EvtLog::Open(std::size_t fileSize, EvtFileReader read) {
  if (fileSize < kHeaderSize + kEofSize || fileSize > 0xFFFFFFFFu) return nullptr;
  std::vector<std::uint8_t> header(kHeaderSize);
  if (!read(0, kHeaderSize, header.data()) || !IsEvtHeader(header.data())) return nullptr;
  std::unique_ptr<EvtLog> log(new EvtLog());
  log->header_ = std::move(header);
  log->cache_ = std::make_unique<EvtPieceCache>(fileSize, std::move(read));
  return Walk(std::move(log));
}

std::unique_ptr<EvtLog> EvtLog::Walk(std::unique_ptr<EvtLog> log) {
  const std::uint8_t* h = log->header_.data();
  const std::uint32_t headerStart = ReadU32(h + header_at::kStartOffset);
  const std::uint32_t headerEnd = ReadU32(h + header_at::kEndOffset);
  const std::uint32_t headerCurrent = ReadU32(h + header_at::kCurrentRecordNumber);
  const std::uint32_t headerOldest = ReadU32(h + header_at::kOldestRecordNumber);
  const std::uint32_t flags = ReadU32(h + header_at::kFlags);

  const Ring ring = log->cache_ ? Ring(*log->cache_) : Ring(log->image_);
  EvtLogLayout& layout = log->layout_;
  layout.fileSize = static_cast<std::uint32_t>(ring.fileSize());
  layout.headerFlags = flags;

  // The header is written only when the log is closed cleanly; the EOF record follows every
  // write. Trust the header only when it is clean and names an EOF record that says the same.
  EofRecord eof;
  std::size_t eofAt = 0;
  bool haveEof = false;
  if ((flags & kEvtFlagDirty) == 0 && ring.Contains(headerEnd) && ReadEofAt(ring, headerEnd, eof) &&
      eof.begin == headerStart && eof.current == headerCurrent && eof.oldest == headerOldest) {
    eofAt = headerEnd;
    haveEof = true;
    layout.headerTrusted = true;
  } else {
    haveEof = FindEof(ring, eofAt, eof);
  }

  std::size_t begin = 0;
  if (haveEof) {
    begin = eof.begin;
    layout.eofRecordFound = true;
    layout.eofOffset = static_cast<std::uint32_t>(eofAt);
  } else if (ring.Contains(headerStart)) {
    // No EOF record anywhere (a truncated or damaged file): walk from the header's oldest record
    // as far as the records hold up.
    begin = headerStart;
  } else {
    log->KeepEdges(0);
    return log;
  }
  layout.oldestOffset = static_cast<std::uint32_t>(begin);

  // The walk: each record passes its checks and lies wholly before the EOF record; the bytes
  // walked never exceed the ring, so the walk ends even in a file that would wrap for ever.
  std::size_t pos = begin;
  std::size_t walked = 0;
  std::uint32_t lastNumber = 0;
  bool resumed = false;
  const auto roomAt = [&](std::size_t at, std::size_t walkedSoFar) {
    const std::size_t left = ring.size() - walkedSoFar;
    return haveEof ? std::min(ring.Distance(at, eofAt), left) : left;
  };
  while (true) {
    if ((haveEof && pos == eofAt) || ring.Failed()) break;
    const std::uint32_t length = RecordLengthAt(ring, pos, roomAt(pos, walked));
    // A wrapped log that was not closed cleanly may leave trailing bytes that are no record
    // between its last record before the end of the file and the end of the file, the log going
    // on at 0x30. Behind the EOF record (in file order) the log must wrap, so when the next
    // record there fails its checks or breaks the numbering, and a record with the next number
    // starts at 0x30, go on from there: otherwise every record written after the wrap is lost.
    const bool inSequence =
        length != 0 && ring.U32(ring.Advance(pos, record_offset::kRecordNumber)) == lastNumber + 1;
    if (!inSequence && haveEof && !resumed && !log->offsets_.empty() && pos > eofAt) {
      const std::size_t tail = ring.fileSize() - pos;
      if (walked + tail < ring.size()) {
        const std::uint32_t first =
            RecordLengthAt(ring, kHeaderSize, roomAt(kHeaderSize, walked + tail));
        if (first != 0 && ring.U32(kHeaderSize + record_offset::kRecordNumber) == lastNumber + 1) {
          walked += tail;
          pos = kHeaderSize;
          resumed = true;
          continue;
        }
      }
    }
    if (length == 0 && log->offsets_.empty()) {
      // The oldest record is damaged (a disk error, a file copied while it was written). Nothing
      // before it can tell where the next record begins, so look for the next place, 4 bytes at a
      // time, that passes every check of a record, its "LfLe" signature first: without this one
      // damaged record would hide the whole log behind it.
      const std::size_t room = roomAt(pos, walked);
      std::size_t skip = 4;
      std::size_t found = 0;
      for (; skip + kFixedRecordSize <= room && !ring.Failed(); skip += 4) {
        const std::size_t at = ring.Advance(pos, skip);
        if (ring.U32(ring.Advance(at, record_offset::kSignature)) != kRecordSignature) continue;
        if (RecordLengthAt(ring, at, room - skip) != 0) {
          found = at;
          break;
        }
      }
      if (found == 0 || ring.Failed()) break;
      layout.skippedBytes += static_cast<std::uint32_t>(skip);
      ++layout.skippedStretches;
      walked += skip;
      pos = found;
      continue;
    }
    if (length == 0) {
      // A record cut short when the system went down keeps its Length and signature, but zeros
      // where the rest of it, the trailing copy of Length included, should be. When the record
      // behind it is whole and carries the next number, the log went on after the damage: skip
      // the cut record (its texts cannot be trusted) and go on.
      const std::uint32_t claimed = ring.U32(pos);
      const std::size_t room = roomAt(pos, walked);
      if (claimed < kFixedRecordSize || claimed % 4 != 0 || claimed > room ||
          ring.U32(ring.Advance(pos, record_offset::kSignature)) != kRecordSignature ||
          claimed == room) {
        break;
      }
      const std::size_t next = ring.Advance(pos, claimed);
      const std::uint32_t number = ring.U32(ring.Advance(pos, record_offset::kRecordNumber));
      if (RecordLengthAt(ring, next, roomAt(next, walked + claimed)) == 0 ||
          ring.U32(ring.Advance(next, record_offset::kRecordNumber)) != number + 1) {
        break;
      }
      lastNumber = number;
      layout.skippedBytes += claimed;
      ++layout.skippedStretches;
      walked += claimed;
      pos = next;
      continue;
    }
    log->offsets_.push_back(static_cast<std::uint32_t>(pos));
    lastNumber = ring.U32(ring.Advance(pos, record_offset::kRecordNumber));
    walked += length;
    pos = ring.Advance(pos, length);
  }
  log->KeepEdges(haveEof ? eofAt : 0);
  return log;
}

void EvtLog::KeepEdges(std::size_t eofAt) {
  const Ring ring = cache_ ? Ring(*cache_) : Ring(image_);
  eofBytes_.clear();
  if (layout_.eofRecordFound) {
    eofBytes_.resize(kEofSize);
    ring.Copy(eofAt, kEofSize, eofBytes_.data());
  }
  newest_.clear();
  if (!offsets_.empty()) {
    newest_.resize(ring.U32(offsets_.back()));
    ring.Copy(offsets_.back(), newest_.size(), newest_.data());
  }
}

bool EvtPieceCache::Read(std::size_t pos, std::size_t count, std::uint8_t* out) {
  while (count > 0) {
    const std::size_t start = pos - pos % kPieceSize;
    const Piece* piece = failed_ ? nullptr : Load(start);
    const std::size_t chunk = std::min(count, start + kPieceSize - pos);
    if (piece == nullptr) {
      std::memset(out, 0, count);
      return false;
    }
    std::memcpy(out, piece->bytes.data() + (pos - start), chunk);
    out += chunk;
    pos += chunk;
    count -= chunk;
  }
  return true;
}

const EvtPieceCache::Piece* EvtPieceCache::Load(std::size_t start) {
  Piece* oldest = &pieces_[0];
  for (Piece& p : pieces_) {
    if (p.start == start) {
      p.used = ++clock_;
      return &p;
    }
    if (p.used < oldest->used) oldest = &p;
  }
  const std::size_t count = std::min(kPieceSize, size_ - start);
  oldest->bytes.resize(count);
  if (!read_(start, count, oldest->bytes.data())) {
    failed_ = true;
    oldest->start = static_cast<std::size_t>(-1);
    return nullptr;
  }
  oldest->start = start;
  oldest->used = ++clock_;
  return oldest;
}

bool EvtLog::ReadOn(std::size_t fileSize, const FileReader& read) {
  constexpr std::size_t kChunk = 64 * 1024;
  const std::size_t oldSize = layout_.fileSize;
  const std::size_t eofAt = layout_.eofOffset;
  if (!layout_.eofRecordFound || offsets_.empty() || fileSize < oldSize || fileSize > 0xFFFFFFFFu ||
      ReadFailed())
    return false;
  const std::size_t lastAt = offsets_.back();
  const auto lastLength = static_cast<std::uint32_t>(newest_.size());
  if (fileSize > oldSize) {
    // A log grows its file only while its records have not wrapped: they then run from the end
    // of the header to the EOF record, which lies whole before the old end of the file.
    if (offsets_.front() != kHeaderSize || lastAt >= eofAt || eofAt + kEofSize > oldSize)
      return false;
  }

  // The newest record read before is still there, byte for byte: otherwise this is another log
  // (a cleared one, or another file), whatever its numbers say.
  const std::vector<std::uint8_t>& had = newest_;
  std::vector<std::uint8_t> now(lastLength);
  for (std::size_t done = 0, at = lastAt; done < lastLength; at = kHeaderSize) {
    const std::size_t piece = std::min<std::size_t>(lastLength - done, oldSize - at);
    if (!read(at, piece, now.data() + done)) return false;
    done += piece;
  }
  if (had != now) return false;
  std::uint32_t lastNumber = ReadU32(had.data() + record_offset::kRecordNumber);

  // A log read from its file walks the new bytes through `read`, a piece at a time; a log held
  // in memory reads them into its image.
  std::vector<std::uint8_t> header(kHeaderSize);
  if (!read(0, kHeaderSize, header.data())) return false;
  std::unique_ptr<EvtPieceCache> fresh;
  if (cache_) {
    fresh = std::make_unique<EvtPieceCache>(fileSize, read);
  } else {
    if (fileSize > oldSize) image_.resize(fileSize);
    std::copy(header.begin(), header.end(), image_.begin());
  }
  const Ring ring = fresh ? Ring(*fresh) : Ring(image_);

  // Reads the ring's bytes from the old EOF record on, as far as the walk needs them: up to
  // `count` bytes from pos.
  std::size_t readSoFar = 0;
  const auto readUpTo = [&](std::size_t pos, std::size_t count) {
    const std::size_t need = ring.Distance(eofAt, pos) + count;
    if (need > ring.size() || ring.Failed()) return false;
    if (fresh) return true;  // read when the walk looks at them
    while (readSoFar < need) {
      std::size_t left = std::min(std::max(need - readSoFar, kChunk), ring.size() - readSoFar);
      std::size_t at = ring.Advance(eofAt, readSoFar);
      while (left > 0) {
        const std::size_t piece = std::min(left, fileSize - at);
        if (!read(at, piece, image_.data() + at)) return false;
        left -= piece;
        readSoFar += piece;
        at = kHeaderSize;
      }
    }
    return true;
  };

  // The new records, each numbered after the one before, up to the new EOF record. Anything else
  // there (a damaged record, bytes that are no record) is left to the whole parse.
  std::vector<std::uint32_t> added;
  std::size_t pos = eofAt;
  std::size_t walked = 0;
  EofRecord eof;
  while (true) {
    if (!readUpTo(pos, kEofSize)) return false;
    if (ReadEofAt(ring, pos, eof)) break;
    const std::uint32_t claimed = ring.U32(pos);
    if (claimed < kFixedRecordSize || walked + claimed + kEofSize > ring.size() ||
        !readUpTo(pos, claimed)) {
      return false;
    }
    const std::uint32_t length = RecordLengthAt(ring, pos, ring.size() - walked);
    if (length == 0 || ring.U32(ring.Advance(pos, record_offset::kRecordNumber)) != lastNumber + 1)
      return false;
    added.push_back(static_cast<std::uint32_t>(pos));
    ++lastNumber;
    walked += length;
    pos = ring.Advance(pos, length);
  }
  if (eof.current != lastNumber + 1 || ring.Failed()) return false;

  // The oldest record is the EOF record's: the records before it were written over. When it is
  // one read before, the new records and the EOF record must fit between the old EOF record and
  // it.
  if (const auto it = std::find(offsets_.begin(), offsets_.end(), eof.begin);
      it != offsets_.end()) {
    if (ring.Distance(eofAt, eof.begin) < walked + kEofSize) return false;
    offsets_.erase(offsets_.begin(), it);
  } else if (const auto at = std::find(added.begin(), added.end(), eof.begin); at != added.end()) {
    offsets_.clear();
    added.erase(added.begin(), at);
  } else {
    return false;
  }
  offsets_.insert(offsets_.end(), added.begin(), added.end());
  if (cache_) cache_->Resize(fileSize);  // its pieces may hold what the file held before
  header_ = std::move(header);
  layout_.fileSize = static_cast<std::uint32_t>(fileSize);
  layout_.headerFlags = ReadU32(header_.data() + header_at::kFlags);
  layout_.oldestOffset = eof.begin;
  layout_.eofOffset = static_cast<std::uint32_t>(pos);
  layout_.headerTrusted = false;
  KeepEdges(pos);
  return true;
}

std::uint32_t EvtLog::RecordNumber(std::size_t index) {
  // Read where the record lies, without converting it.
  const Ring ring = cache_ ? Ring(*cache_) : Ring(image_);
  return ring.U32(ring.Advance(offsets_[index], record_offset::kRecordNumber));
}

const std::vector<std::uint8_t>& EvtLog::Record(std::size_t index) {
  const std::size_t pos = offsets_[index];
  const Ring ring = cache_ ? Ring(*cache_) : Ring(image_);
  const std::uint32_t len = ring.U32(pos);
  if (cache_) {
    // Read from the file: a record that cannot be read (the file cut short under the reader)
    // comes back empty, as the end of the records.
    spanning_.resize(len);
    ring.Copy(pos, len, spanning_.data());
    if (ring.Failed()) {
      converted_.clear();
    } else {
      ConvertEvtRecord(spanning_.data(), len, converted_);
    }
  } else if (pos + len <= image_.size()) {
    ConvertEvtRecord(image_.data() + pos, len, converted_);
  } else {
    spanning_.resize(len);
    ring.Copy(pos, len, spanning_.data());
    ConvertEvtRecord(spanning_.data(), len, converted_);
  }
  return converted_;
}

}  // namespace qs::platform
