#include "platform/posix/evt_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/eventlog_record.h"

namespace qs::platform {

namespace {

constexpr std::uint32_t kHeaderSize = 0x30;
constexpr std::uint32_t kEofSize = 0x28;
constexpr std::uint32_t kFlagDirty = 0x1;
constexpr std::uint32_t kEofMarks[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};

// The record area of the file is a ring: [0x30, file size), a byte past its end continuing at
// 0x30. Every position handed around here lies inside it.
class Ring {
 public:
  explicit Ring(const std::vector<std::uint8_t>& image)
      : data_(image.data()), size_(image.size()), ring_(image.size() - kHeaderSize) {}

  std::size_t size() const { return ring_; }
  bool Contains(std::uint64_t pos) const { return pos >= kHeaderSize && pos < size_; }

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
    if (pos + 4 <= size_) return ReadU32(data_ + pos);
    std::uint8_t b[4];
    Copy(pos, 4, b);
    return ReadU32(b);
  }
  void Copy(std::size_t pos, std::size_t count, std::uint8_t* out) const {
    while (count > 0) {
      const std::size_t chunk = std::min(count, size_ - pos);
      std::memcpy(out, data_ + pos, chunk);
      out += chunk;
      count -= chunk;
      pos = kHeaderSize;
    }
  }

 private:
  const std::uint8_t* data_;
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
  if (ring.U32(pos) != kEofSize) return false;
  for (std::size_t k = 0; k < 4; ++k) {
    if (ring.U32(ring.Advance(pos, 4 + 4 * k)) != kEofMarks[k]) return false;
  }
  if (ring.U32(ring.Advance(pos, 36)) != kEofSize) return false;
  if (ring.U32(ring.Advance(pos, 24)) != pos) return false;
  const std::uint32_t begin = ring.U32(ring.Advance(pos, 20));
  if (!ring.Contains(begin) || begin % 4 != 0) return false;
  eof.begin = begin;
  eof.current = ring.U32(ring.Advance(pos, 28));
  eof.oldest = ring.U32(ring.Advance(pos, 32));
  return true;
}

// The newest EOF record of the file (the highest current record number: an EOF record left among
// overwritten records is older than the one the log ends with).
bool FindEof(const std::vector<std::uint8_t>& image, const Ring& ring, std::size_t& at,
             EofRecord& eof) {
  bool found = false;
  for (std::size_t pos = kHeaderSize; pos + 4 <= image.size(); pos += 4) {
    if (ReadU32(image.data() + pos) != kEofSize) continue;
    EofRecord candidate;
    if (!ReadEofAt(ring, pos, candidate)) continue;
    if (!found || candidate.current > eof.current) {
      eof = candidate;
      at = pos;
      found = true;
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
  if (ring.U32(ring.Advance(pos, 4)) != kRecordSignature) return 0;
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

void PadTo4(std::vector<std::uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
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

  out.insert(out.end(), rec, rec + kFixedRecordSize);
  std::size_t pos = ConvertText(rec, kFixedRecordSize, bodyEnd, out);  // source name
  ConvertText(rec, pos, bodyEnd, out);                                 // computer name
  PadTo4(out);

  const std::uint32_t sidLength = ReadU32(rec + 40);
  const std::uint32_t sidOffset = ReadU32(rec + 44);
  const auto outSidOffset = static_cast<std::uint32_t>(out.size());
  std::uint32_t outSidLength = 0;
  if (sidLength != 0 && Inside(sidOffset, sidLength, bodyEnd)) {
    out.insert(out.end(), rec + sidOffset, rec + sidOffset + sidLength);
    outSidLength = sidLength;
  }

  const std::uint16_t numStrings = ReadU16(rec + 26);
  const std::uint32_t stringOffset = ReadU32(rec + 36);
  const auto outStringOffset = static_cast<std::uint32_t>(out.size());
  std::uint16_t outStrings = 0;
  if (stringOffset >= kFixedRecordSize && stringOffset < bodyEnd) {
    pos = stringOffset;
    while (outStrings < numStrings && pos + 2 <= bodyEnd) {
      pos = ConvertText(rec, pos, bodyEnd, out);
      ++outStrings;
    }
  }

  const std::uint32_t dataLength = ReadU32(rec + 48);
  const std::uint32_t dataOffset = ReadU32(rec + 52);
  const auto outDataOffset = static_cast<std::uint32_t>(out.size());
  std::uint32_t outDataLength = 0;
  if (dataLength != 0 && Inside(dataOffset, dataLength, bodyEnd)) {
    out.insert(out.end(), rec + dataOffset, rec + dataOffset + dataLength);
    outDataLength = dataLength;
  }
  PadTo4(out);
  out.resize(out.size() + 4);

  const auto outLength = static_cast<std::uint32_t>(out.size());
  std::uint8_t* p = out.data();
  WriteU32(p + 0, outLength);
  WriteU16(p + 26, outStrings);
  WriteU32(p + 36, outStringOffset);
  WriteU32(p + 40, outSidLength);
  WriteU32(p + 44, outSidOffset);
  WriteU32(p + 48, outDataLength);
  WriteU32(p + 52, outDataOffset);
  WriteU32(p + outLength - 4, outLength);
}

std::unique_ptr<EvtLog> EvtLog::Parse(std::vector<std::uint8_t> image) {
  // A header, then room at least for the EOF record; offsets are 32-bit.
  if (image.size() < kHeaderSize + kEofSize || image.size() > 0xFFFFFFFFu) return nullptr;
  const std::uint8_t* h = image.data();
  if (ReadU32(h + 0) != kHeaderSize || ReadU32(h + 4) != kRecordSignature || ReadU32(h + 8) != 1 ||
      ReadU32(h + 12) != 1 || ReadU32(h + 44) != kHeaderSize) {
    return nullptr;
  }
  const std::uint32_t headerStart = ReadU32(h + 16);
  const std::uint32_t headerEnd = ReadU32(h + 20);
  const std::uint32_t headerCurrent = ReadU32(h + 24);
  const std::uint32_t headerOldest = ReadU32(h + 28);
  const std::uint32_t flags = ReadU32(h + 36);

  std::unique_ptr<EvtLog> log(new EvtLog());
  log->image_ = std::move(image);
  const Ring ring(log->image_);
  EvtLogLayout& layout = log->layout_;
  layout.fileSize = static_cast<std::uint32_t>(log->image_.size());
  layout.headerFlags = flags;

  // The header is written only when the log is closed cleanly; the EOF record follows every
  // write. Trust the header only when it is clean and names an EOF record that says the same.
  EofRecord eof;
  std::size_t eofAt = 0;
  bool haveEof = false;
  if ((flags & kFlagDirty) == 0 && ring.Contains(headerEnd) && ReadEofAt(ring, headerEnd, eof) &&
      eof.begin == headerStart && eof.current == headerCurrent && eof.oldest == headerOldest) {
    eofAt = headerEnd;
    haveEof = true;
    layout.headerTrusted = true;
  } else {
    haveEof = FindEof(log->image_, ring, eofAt, eof);
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
    if (haveEof && pos == eofAt) break;
    const std::uint32_t length = RecordLengthAt(ring, pos, roomAt(pos, walked));
    // A wrapped log that was not closed cleanly may leave trailing bytes that are no record
    // between its last record before the end of the file and the end of the file, the log going
    // on at 0x30. Behind the EOF record (in file order) the log must wrap, so when the next
    // record there fails its checks or breaks the numbering, and a record with the next number
    // starts at 0x30, go on from there: otherwise every record written after the wrap is lost.
    const bool inSequence = length != 0 && ring.U32(ring.Advance(pos, 8)) == lastNumber + 1;
    if (!inSequence && haveEof && !resumed && !log->offsets_.empty() && pos > eofAt) {
      const std::size_t tail = log->image_.size() - pos;
      if (walked + tail < ring.size()) {
        const std::uint32_t first =
            RecordLengthAt(ring, kHeaderSize, roomAt(kHeaderSize, walked + tail));
        if (first != 0 && ring.U32(kHeaderSize + 8) == lastNumber + 1) {
          walked += tail;
          pos = kHeaderSize;
          resumed = true;
          continue;
        }
      }
    }
    if (length == 0) {
      // A record cut short when the system went down keeps its Length and signature, but zeros
      // where the rest of it, the trailing copy of Length included, should be. When the record
      // behind it is whole and carries the next number, the log went on after the damage: skip
      // the cut record (its texts cannot be trusted) and go on.
      const std::uint32_t claimed = ring.U32(pos);
      const std::size_t room = roomAt(pos, walked);
      if (claimed < kFixedRecordSize || claimed % 4 != 0 || claimed > room ||
          ring.U32(ring.Advance(pos, 4)) != kRecordSignature || claimed == room) {
        break;
      }
      const std::size_t next = ring.Advance(pos, claimed);
      const std::uint32_t number = ring.U32(ring.Advance(pos, 8));
      if (RecordLengthAt(ring, next, roomAt(next, walked + claimed)) == 0 ||
          ring.U32(ring.Advance(next, 8)) != number + 1) {
        break;
      }
      lastNumber = number;
      walked += claimed;
      pos = next;
      continue;
    }
    log->offsets_.push_back(static_cast<std::uint32_t>(pos));
    lastNumber = ring.U32(ring.Advance(pos, 8));
    walked += length;
    pos = ring.Advance(pos, length);
  }
  return log;
}

const std::vector<std::uint8_t>& EvtLog::Record(std::size_t index) {
  const std::size_t pos = offsets_[index];
  const Ring ring(image_);
  const std::uint32_t len = ring.U32(pos);
  if (pos + len <= image_.size()) {
    ConvertEvtRecord(image_.data() + pos, len, converted_);
  } else {
    spanning_.resize(len);
    ring.Copy(pos, len, spanning_.data());
    ConvertEvtRecord(spanning_.data(), len, converted_);
  }
  return converted_;
}

std::unique_ptr<LogSource> OpenEvtLog(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::vector<std::uint8_t> image;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<std::uint64_t>(st.st_size) >= kHeaderSize + kEofSize &&
            static_cast<std::uint64_t>(st.st_size) <= 0xFFFFFFFFu;
  if (ok) {
    // Look at the header before reading a file that may be large and of another kind.
    std::uint8_t header[kHeaderSize];
    ok = ::pread(fd, header, kHeaderSize, 0) == static_cast<ssize_t>(kHeaderSize) &&
         ReadU32(header) == kHeaderSize && ReadU32(header + 4) == kRecordSignature;
  }
  if (ok) {
    image.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < image.size()) {
      const ssize_t n =
          ::pread(fd, image.data() + got, image.size() - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    image.resize(got);  // a file that shrank while being read is parsed as far as it goes
  }
  ::close(fd);
  if (!ok) return nullptr;
  return EvtLog::Parse(std::move(image));
}

}  // namespace qs::platform
