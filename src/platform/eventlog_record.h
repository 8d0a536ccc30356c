// The layout of event-log records and of the NT event-log (.evt) file that holds them, in one
// place: the reader, the selection rule, the writer of test logs and the tests all take their
// offsets from here. Also builds records in the form that an ANSI read returns them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qs::platform {

inline constexpr std::uint32_t kRecordSignature = 0x654c664c;  // "LfLe"
inline constexpr std::uint32_t kFixedRecordSize = 56;
// The smallest whole record: the fixed part and the trailing copy of Length.
inline constexpr std::uint32_t kMinRecordSize = kFixedRecordSize + 4;

// Byte offsets of the fields of a record's fixed part (EVENTLOGRECORD), all little-endian. The
// names, the SID, the insertion strings and the data follow it; the record ends with a copy of
// Length.
namespace record_offset {
inline constexpr std::size_t kLength = 0;                     // u32, the whole record's size
inline constexpr std::size_t kSignature = 4;                  // u32, kRecordSignature ("Reserved")
inline constexpr std::size_t kRecordNumber = 8;               // u32
inline constexpr std::size_t kTimeGenerated = 12;             // u32, seconds since 1970 UTC
inline constexpr std::size_t kTimeWritten = 16;               // u32, seconds since 1970 UTC
inline constexpr std::size_t kEventId = 20;                   // u32
inline constexpr std::size_t kEventType = 24;                 // u16
inline constexpr std::size_t kNumStrings = 26;                // u16
inline constexpr std::size_t kEventCategory = 28;             // u16
inline constexpr std::size_t kReservedFlags = 30;             // u16
inline constexpr std::size_t kClosingRecordNumber = 32;       // u32
inline constexpr std::size_t kStringOffset = 36;              // u32, from the record's start
inline constexpr std::size_t kUserSidLength = 40;             // u32
inline constexpr std::size_t kUserSidOffset = 44;             // u32, from the record's start
inline constexpr std::size_t kDataLength = 48;                // u32
inline constexpr std::size_t kDataOffset = 52;                // u32, from the record's start
inline constexpr std::size_t kSourceName = kFixedRecordSize;  // the first text
}  // namespace record_offset

// Each field follows the one before it, by that one's width, and the last ends the fixed part: a
// slip in one offset above fails here rather than in a record.
static_assert(record_offset::kSignature == record_offset::kLength + 4);
static_assert(record_offset::kRecordNumber == record_offset::kSignature + 4);
static_assert(record_offset::kTimeGenerated == record_offset::kRecordNumber + 4);
static_assert(record_offset::kTimeWritten == record_offset::kTimeGenerated + 4);
static_assert(record_offset::kEventId == record_offset::kTimeWritten + 4);
static_assert(record_offset::kEventType == record_offset::kEventId + 4);
static_assert(record_offset::kNumStrings == record_offset::kEventType + 2);
static_assert(record_offset::kEventCategory == record_offset::kNumStrings + 2);
static_assert(record_offset::kReservedFlags == record_offset::kEventCategory + 2);
static_assert(record_offset::kClosingRecordNumber == record_offset::kReservedFlags + 2);
static_assert(record_offset::kStringOffset == record_offset::kClosingRecordNumber + 4);
static_assert(record_offset::kUserSidLength == record_offset::kStringOffset + 4);
static_assert(record_offset::kUserSidOffset == record_offset::kUserSidLength + 4);
static_assert(record_offset::kDataLength == record_offset::kUserSidOffset + 4);
static_assert(record_offset::kDataOffset == record_offset::kDataLength + 4);
static_assert(kFixedRecordSize == record_offset::kDataOffset + 4);

// The .evt file: a header at offset 0, then the record area, a ring from the end of the header to
// the end of the file, holding the records and an EOF record behind the newest one.
inline constexpr std::uint32_t kEvtHeaderSize = 0x30;
inline constexpr std::uint32_t kEvtEofRecordSize = 0x28;

// Byte offsets of the header's fields (all u32).
namespace evt_header_offset {
inline constexpr std::size_t kHeaderSize = 0;            // kEvtHeaderSize
inline constexpr std::size_t kSignature = 4;             // kRecordSignature
inline constexpr std::size_t kMajorVersion = 8;          // 1
inline constexpr std::size_t kMinorVersion = 12;         // 1
inline constexpr std::size_t kStartOffset = 16;          // the oldest record
inline constexpr std::size_t kEndOffset = 20;            // the EOF record
inline constexpr std::size_t kCurrentRecordNumber = 24;  // the number the next record gets
inline constexpr std::size_t kOldestRecordNumber = 28;
inline constexpr std::size_t kMaxSize = 32;  // the file's size
inline constexpr std::size_t kFlags = 36;    // kEvtFlag*
inline constexpr std::size_t kRetention = 40;
inline constexpr std::size_t kEndHeaderSize = 44;  // kEvtHeaderSize again
}  // namespace evt_header_offset
static_assert(kEvtHeaderSize == evt_header_offset::kEndHeaderSize + 4);

inline constexpr std::uint32_t kEvtVersion = 1;  // both the major and the minor version

// Header flags.
inline constexpr std::uint32_t kEvtFlagDirty = 0x1;  // not closed cleanly: the header is stale
inline constexpr std::uint32_t kEvtFlagWrap = 0x2;   // the records wrap around the file's end
inline constexpr std::uint32_t kEvtFlagLogFull = 0x4;
inline constexpr std::uint32_t kEvtFlagArchive = 0x8;

// Byte offsets of the EOF record's fields (all u32). It begins and ends with its size; four fixed
// marks between tell it from a record.
namespace evt_eof_offset {
inline constexpr std::size_t kSizeBeginning = 0;  // kEvtEofRecordSize
inline constexpr std::size_t kMarks = 4;          // kEvtEofMarks, one after the other
inline constexpr std::size_t kBeginRecord = 20;   // the oldest record
inline constexpr std::size_t kEndRecord = 24;     // the EOF record itself
inline constexpr std::size_t kCurrentRecordNumber = 28;
inline constexpr std::size_t kOldestRecordNumber = 32;
inline constexpr std::size_t kSizeEnd = 36;  // kEvtEofRecordSize again
}  // namespace evt_eof_offset
inline constexpr std::uint32_t kEvtEofMarks[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
static_assert(evt_eof_offset::kBeginRecord == evt_eof_offset::kMarks + 4 * std::size(kEvtEofMarks));
static_assert(kEvtEofRecordSize == evt_eof_offset::kSizeEnd + 4);

// Event types (the EventType field).
inline constexpr std::uint16_t kEventTypeInformation = 0x0004;
inline constexpr std::uint16_t kEventTypeAuditSuccess = 0x0008;
inline constexpr std::uint16_t kEventTypeAuditFailure = 0x0010;

// The fields of one record. Texts are in the ANSI code page of this platform (UTF-8).
struct EventRecordFields {
  std::uint32_t RecordNumber = 0;
  std::uint32_t TimeGenerated = 0;
  std::uint32_t TimeWritten = 0;
  std::uint32_t EventID = 0;
  std::uint16_t EventType = 0;
  std::uint16_t EventCategory = 0;
  std::uint16_t ReservedFlags = 0;
  std::uint32_t ClosingRecordNumber = 0;
  std::string SourceName;
  std::string ComputerName;
  std::vector<std::uint8_t> UserSid;
  std::vector<std::string> Strings;
  std::vector<std::uint8_t> Data;
};

// How the texts of a record are stored.
enum class RecordText {
  Ansi,     // as an ANSI read returns them: UTF-8, each ended by one zero byte
  Utf16Le,  // as the .evt file holds them: UTF-16LE, each ended by a zero unit
};

// The EVENTLOGRECORD layout: the 56-byte fixed part, the source and computer names, zero bytes up
// to a 4-byte boundary, the user SID, the insertion strings, the data, zero bytes up to a 4-byte
// boundary, and the final copy of Length. The offsets and Length are computed here.
std::vector<std::uint8_t> BuildRecord(const EventRecordFields& fields, RecordText text);
// The record as ReadEventLogA returns it.
std::vector<std::uint8_t> BuildAnsiRecord(const EventRecordFields& fields);

// Where the variable parts of a record lie, as the record's builder placed them.
struct RecordPlacement {
  std::uint32_t userSidOffset = 0;
  std::uint32_t userSidLength = 0;
  std::uint32_t stringOffset = 0;
  std::uint16_t numStrings = 0;
  std::uint32_t dataOffset = 0;
  std::uint32_t dataLength = 0;
};

// Zero bytes up to the next 4-byte boundary.
void PadRecordTo4(std::vector<std::uint8_t>& record);

// Ends a record whose fixed part and variable parts are in `record`: pads it to a 4-byte
// boundary, appends the trailing copy of Length, and writes Length and `placement` into the fixed
// part.
void FinishRecord(std::vector<std::uint8_t>& record, const RecordPlacement& placement);

// Little-endian access to record bytes.
inline std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint16_t ReadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline void WriteU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void WriteU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

// Whether `bytes` (at least 8 of them) begin as an event-log header does: its size, then the
// signature. A file that does is an event log, damaged when the reader refuses it.
inline bool BeginsAsEvtHeader(const std::uint8_t* bytes) {
  return ReadU32(bytes + evt_header_offset::kHeaderSize) == kEvtHeaderSize &&
         ReadU32(bytes + evt_header_offset::kSignature) == kRecordSignature;
}

}  // namespace qs::platform
