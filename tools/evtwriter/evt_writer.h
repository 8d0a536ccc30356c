// A writer of Windows NT event-log (.evt) files in their on-disk layout, for tests, benchmarks and
// demos: a 0x30-byte header, the records (names and insertion strings in UTF-16LE) and the
// 0x28-byte EOF record, optionally wrapped around the end of the file, left dirty with a stale
// header, or followed by leftovers of overwritten records.
//
//   qs::evtwriter::EvtWriter w;                     // first record number 1
//   qs::evtwriter::Event560 e;
//   e.time = 1700000000;
//   e.objectName = "D:\\Shared\\budget.xls";
//   e.primaryUser = "alice";
//   w.Add(e);                                       // event 560, Windows 2000 layout
//   w.Add(qs::evtwriter::EvtRecord{...});           // any other event
//   w.WriteFile("/tmp/Security.evt");               // or w.Bytes() for the image in memory
//
// Texts are given in UTF-8 and stored as UTF-16LE. Nothing here validates like a reader would:
// the writer produces exactly what it is told to, so tests can also build damaged files (patch the
// bytes returned by Bytes()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/eventlog_record.h"

namespace qs::evtwriter {

// The file's layout is the reader's (platform/eventlog_record.h); these are its names here.
inline constexpr std::uint32_t kHeaderSize = platform::kEvtHeaderSize;
inline constexpr std::uint32_t kEofRecordSize = platform::kEvtEofRecordSize;

// Header flags.
inline constexpr std::uint32_t kFlagDirty = platform::kEvtFlagDirty;
inline constexpr std::uint32_t kFlagWrap = platform::kEvtFlagWrap;
inline constexpr std::uint32_t kFlagLogFull = platform::kEvtFlagLogFull;
inline constexpr std::uint32_t kFlagArchive = platform::kEvtFlagArchive;

// Event types.
inline constexpr std::uint16_t kAuditSuccess = platform::kEventTypeAuditSuccess;
inline constexpr std::uint16_t kAuditFailure = platform::kEventTypeAuditFailure;
inline constexpr std::uint16_t kInformation = platform::kEventTypeInformation;

// One record of any event. recordNumber 0 lets the writer number it (one more than the record
// added before it, or the writer's first number).
struct EvtRecord {
  std::uint32_t recordNumber = 0;
  std::uint32_t timeGenerated = 0;  // seconds since 1970-01-01 00:00:00 UTC
  std::uint32_t timeWritten = 0;
  std::uint32_t eventId = 0;
  std::uint16_t eventType = kAuditSuccess;
  std::uint16_t eventCategory = 0;
  std::uint16_t reservedFlags = 0;
  std::uint32_t closingRecordNumber = 0;
  std::string sourceName = "Security";  // UTF-8
  std::string computerName = "FILESERVER";
  // Raw SID bytes (revision 1, count n, 6-byte authority, n 4-byte sub-authorities); empty: none.
  std::vector<std::uint8_t> userSid;
  std::vector<std::string> strings;  // insertion strings, UTF-8
  std::vector<std::uint8_t> data;    // event data
};

// An object open (event 560) as Windows 2000 writes it: 15 insertion strings, Object Server
// "Security", ..., Accesses, Privileges. `time` fills both TimeGenerated and TimeWritten.
struct Event560 {
  std::uint32_t time = 0;
  std::string objectType = "File";
  std::string objectName;  // the file path
  std::string handleId = "1234";
  std::string operationIdHigh = "0";
  std::string operationIdLow = "123456";
  std::string processId = "8";
  std::string primaryUser = "alice";
  std::string primaryDomain = "DOMAIN";
  std::string primaryLogonId = "(0x0,0x3E7)";
  std::string clientUser = "-";  // "-": no client impersonated
  std::string clientDomain = "-";
  std::string clientLogonId = "-";
  // Access codes, written "%%4416" and so on, separated by CR LF and three tabs.
  // The default is an open for writing (all of WriteData, AppendData, WriteEA, WriteAttributes).
  std::vector<int> accesses = {1537, 1538, 1541, 4416, 4417, 4418, 4419, 4420, 4423, 4424};
  std::string privileges = "-";
  std::string computerName = "FILESERVER";
  std::vector<std::uint8_t> userSid;  // empty: none
  std::uint32_t recordNumber = 0;     // 0: numbered by the writer
};

// Access codes that an open for reading shows (no write codes).
inline const std::vector<int> kReadAccesses = {1537, 1538, 1541, 4416, 4419, 4423};

// The record of an event 560 (event type audit success, category 3 "Object Access").
EvtRecord MakeEvent560(const Event560& event);

// The Accesses insertion string for a list of codes.
std::string AccessesText(const std::vector<int>& codes);

// The on-disk bytes of one record with the given record number (its own recordNumber is ignored).
std::vector<std::uint8_t> EncodeRecord(const EvtRecord& record, std::uint32_t recordNumber);

// How the records are laid out in the file.
struct EvtLayout {
  // Size of the whole file. 0: just large enough for the header, the records, the EOF record,
  // afterEof and freeSpace, rounded up to a multiple of 4. Must be a multiple of 4 and large
  // enough, otherwise Bytes() throws std::length_error.
  std::uint32_t fileSize = 0;
  // Zero bytes added to the automatic file size (room between the EOF record and the oldest
  // record of a wrapped log).
  std::uint32_t freeSpace = 0;
  // Offset of the oldest record (0x30 in a log that never wrapped). The records follow one
  // another from there; a record that reaches the end of the file continues at 0x30.
  std::uint32_t startOffset = kHeaderSize;
  // When >= 0: choose startOffset so that this record (index among the added records) starts
  // `splitBytes` bytes before the end of the file and continues at 0x30. Needs splitBytes between
  // 1 and the record's length - 1. Overrides startOffset.
  int wrapRecord = -1;
  std::uint32_t splitBytes = 8;
  // Do not split records: a record (or the EOF record) that does not fit before the end of the
  // file is written at 0x30 instead, and the tail of the file keeps its old bytes (zeros, or
  // tailBytes from its start) — trailing non-event data, as dirty wrapped logs sometimes show.
  // With wrapRecord, that record then leaves a tail of splitBytes (any size below the ring). Give
  // enough freeSpace for the tail, otherwise the newest records overwrite the oldest.
  bool noSplit = false;
  std::vector<std::uint8_t> tailBytes;
  // dirty sets the DIRTY flag (a log that was not closed cleanly). With staleHeaderRecords >= 0
  // the header's end offset and current record number describe only the first
  // staleHeaderRecords records (as at the last clean close), so header and EOF record disagree;
  // the EOF record always tells the truth. The two options are independent.
  bool dirty = false;
  int staleHeaderRecords = -1;
  // Further header flags (kFlagWrap is set by the writer whenever the records wrap).
  std::uint32_t extraFlags = 0;
  // Bytes written right behind the EOF record (wrapping at the end of the file like records),
  // for instance EncodeRecord() bytes of records that were "overwritten": a reader must not
  // return them.
  std::vector<std::uint8_t> afterEof;
};

class EvtWriter {
 public:
  explicit EvtWriter(std::uint32_t firstRecordNumber = 1);

  // Appends a record (newest last); returns the record number it gets.
  std::uint32_t Add(const EvtRecord& record);
  std::uint32_t Add(const Event560& event);

  std::size_t RecordCount() const { return records_.size(); }
  // The on-disk bytes of the record at index (in the order added).
  const std::vector<std::uint8_t>& RecordBytes(std::size_t index) const { return records_[index]; }

  // The whole file image.
  std::vector<std::uint8_t> Bytes(const EvtLayout& layout = {}) const;
  // Writes Bytes(layout) to path; throws std::runtime_error when the file cannot be written.
  void WriteFile(const std::string& path, const EvtLayout& layout = {}) const;

 private:
  std::uint32_t nextNumber_;
  std::vector<std::uint32_t> numbers_;
  std::vector<std::vector<std::uint8_t>> records_;
};

}  // namespace qs::evtwriter
