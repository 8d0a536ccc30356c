// The live log's reads handed out one record at a time, against a log that answers reads as
// ReadEventLogA does: as many whole records as fit the buffer, the position moved past all of
// them; a buffer too small for the next record fails with its size and leaves the position.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/eventlog.h"
#include "platform/eventlog_record.h"
#include "platform/formats/live_log_reads.h"
#include "support/ansi_record.h"

namespace qs::test {
namespace {

using platform::LiveReadResult;

class FakeLiveLog {
 public:
  explicit FakeLiveLog(std::vector<std::vector<std::uint8_t>> records)
      : records_(std::move(records)) {}

  LiveReadResult Read(std::uint32_t flags, std::uint32_t offset, std::uint8_t* buffer,
                      std::uint32_t size) {
    ++reads;
    // A seek starts at the record numbered `offset`, numbered from 1 here.
    if ((flags & platform::kEventLogSeekRead) != 0) next_ = offset - 1;
    LiveReadResult result;
    if (next_ >= records_.size()) return result;  // the end of the log
    if (records_[next_].size() > size) {
      result.bytesNeeded = static_cast<std::uint32_t>(records_[next_].size());
      return result;
    }
    while (next_ < records_.size() && result.bytesRead + records_[next_].size() <= size) {
      std::copy(records_[next_].begin(), records_[next_].end(), buffer + result.bytesRead);
      result.bytesRead += static_cast<std::uint32_t>(records_[next_].size());
      ++next_;
    }
    result.ok = true;
    return result;
  }

  int reads = 0;

 private:
  std::vector<std::vector<std::uint8_t>> records_;
  std::size_t next_ = 0;
};

std::vector<std::uint8_t> Record(std::uint32_t number, std::uint32_t eventId,
                                 std::vector<std::string> strings) {
  platform::EventRecordFields f;
  f.RecordNumber = number;
  f.TimeGenerated = f.TimeWritten = 1552919006 + number;
  f.EventID = eventId;
  f.EventType = platform::kEventTypeAuditSuccess;
  f.SourceName = "Microsoft-Windows-Security-Auditing";
  f.ComputerName = "FS01";
  f.Strings = std::move(strings);
  return platform::BuildAnsiRecord(f);
}

// A successful 4656 that opens C:\a.txt for writing, in the order of its template.
std::vector<std::uint8_t> WriteRequest(std::uint32_t number) {
  return Record(number, 4656,
                {"S-1-5-21-1-2-3-1001", "psam", "EXAMPLE", "0x3e7", "Security", "File", "C:\\a.txt",
                 "0x1a4", "{00000000-0000-0000-0000-000000000000}", "%%4417 %%4418", "-", "0x6",
                 "-", "0", "0x1f4", "C:\\Windows\\notepad.exe", "S:AI"});
}

// The same record as a wide read (ReadEventLogW) gives it: its texts in UTF-16.
std::vector<std::uint8_t> WideRecord(std::uint32_t number, std::uint32_t eventId,
                                     std::vector<std::string> strings) {
  platform::EventRecordFields f;
  f.RecordNumber = number;
  f.TimeGenerated = f.TimeWritten = 1552919006 + number;
  f.EventID = eventId;
  f.EventType = platform::kEventTypeAuditSuccess;
  f.SourceName = "Microsoft-Windows-Security-Auditing";
  f.ComputerName = "FS01";
  f.Strings = std::move(strings);
  return platform::BuildRecord(f, platform::RecordText::Utf16Le);
}

// Every record through the size query and the read, as the scan takes them.
std::vector<AnsiRecord> ReadAll(platform::LiveLogReads& reads, std::uint32_t flags) {
  std::vector<AnsiRecord> out;
  for (int guard = 0; guard < 100; ++guard) {
    std::uint32_t got = 0;
    std::uint32_t needed = 0;
    EXPECT_FALSE(reads.Read(flags, 0, nullptr, 0, got, needed));
    if (needed == 0) return out;
    std::vector<std::uint8_t> buffer(needed);
    // One byte short is still too small, and leaves the record where it is.
    EXPECT_FALSE(reads.Read(flags, 0, buffer.data(), needed - 1, got, needed));
    EXPECT_EQ(needed, buffer.size());
    if (!reads.Read(flags, 0, buffer.data(), needed, got, needed)) {
      ADD_FAILURE() << "a read of " << buffer.size() << " bytes failed";
      return out;
    }
    EXPECT_EQ(got, buffer.size());
    out.push_back(ParseAnsiRecord(buffer));
  }
  ADD_FAILURE() << "the log never ended";
  return out;
}

constexpr std::uint32_t kForwards =
    platform::kEventLogSequentialRead | platform::kEventLogForwardsRead;

TEST(LiveLogReads, EveryRecordOfAReadIsHandedOutInOrderAndConverted) {
  FakeLiveLog log({Record(1, 4624, {"a"}), WriteRequest(2), Record(3, 4663, {"b", "c"})});
  platform::LiveLogReads reads([&](auto... args) { return log.Read(args...); });
  const std::vector<AnsiRecord> records = ReadAll(reads, kForwards);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].recordNumber, 1u);
  EXPECT_EQ(records[1].recordNumber, 2u);
  EXPECT_EQ(records[2].recordNumber, 3u);
  EXPECT_EQ(records[0].eventId, 4624u);
  EXPECT_EQ(records[1].eventId, 560u);  // converted: the size query answered its size
  EXPECT_EQ(records[2].eventId, 4663u);
  EXPECT_EQ(records[2].strings, (std::vector<std::string>{"b", "c"}));
  // One read took all three; the next one met the end.
  EXPECT_EQ(log.reads, 2);
}

TEST(LiveLogReads, ARecordLargerThanTheFirstBufferIsReadAgainWhole) {
  const std::string big(platform::LiveLogReads::kReadBuffer, 'x');
  FakeLiveLog log({Record(1, 4624, {"a"}), Record(2, 4624, {big}), Record(3, 4624, {"b"})});
  platform::LiveLogReads reads([&](auto... args) { return log.Read(args...); });
  const std::vector<AnsiRecord> records = ReadAll(reads, kForwards);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1].strings, std::vector<std::string>{big});
  EXPECT_EQ(records[2].recordNumber, 3u);
}

TEST(LiveLogReads, ARecordBeyondTheLargestBufferEndsTheReading) {
  const std::string huge(platform::LiveLogReads::kMaxReadBuffer, 'x');
  FakeLiveLog log({Record(1, 4624, {huge})});
  platform::LiveLogReads reads([&](auto... args) { return log.Read(args...); });
  std::uint32_t got = 0;
  std::uint32_t needed = 0;
  EXPECT_FALSE(reads.Read(kForwards, 0, nullptr, 0, got, needed));
  EXPECT_EQ(needed, 0u);
}

// A Length that does not fit what was read: the rest of the read comes out as it was read, so the
// scan counts it; nothing of it is lost or read past.
TEST(LiveLogReads, ARecordWithAWrongLengthKeepsTheRestOfTheRead) {
  std::vector<std::uint8_t> damaged = Record(2, 4624, {"a"});
  platform::WriteU32(damaged.data() + platform::record_offset::kLength, 0x7FFFFFFF);
  FakeLiveLog log({Record(1, 4624, {"a"}), damaged, Record(3, 4624, {"b"})});
  platform::LiveLogReads reads([&](auto... args) { return log.Read(args...); });
  std::vector<std::size_t> sizes;
  for (int i = 0; i < 10; ++i) {
    std::uint32_t got = 0;
    std::uint32_t needed = 0;
    reads.Read(kForwards, 0, nullptr, 0, got, needed);
    if (needed == 0) break;
    std::vector<std::uint8_t> buffer(needed);
    ASSERT_TRUE(reads.Read(kForwards, 0, buffer.data(), needed, got, needed));
    sizes.push_back(buffer.size());
  }
  const std::size_t whole = Record(1, 4624, {"a"}).size();
  EXPECT_EQ(sizes, (std::vector<std::size_t>{whole, whole + Record(3, 4624, {"b"}).size()}));
}

TEST(LiveLogReads, ASeekDropsTheRecordsKeptFromTheLastRead) {
  FakeLiveLog log({Record(1, 4624, {"a"}), Record(2, 4624, {"b"}), Record(3, 4624, {"c"})});
  platform::LiveLogReads reads([&](auto... args) { return log.Read(args...); });
  std::vector<std::uint8_t> buffer(4096);
  std::uint32_t got = 0;
  std::uint32_t needed = 0;
  ASSERT_TRUE(reads.Read(kForwards, 0, buffer.data(), 4096, got, needed));
  EXPECT_EQ(platform::ReadU32(buffer.data() + platform::record_offset::kRecordNumber), 1u);
  ASSERT_TRUE(reads.Read(platform::kEventLogSeekRead | platform::kEventLogForwardsRead, 3,
                         buffer.data(), 4096, got, needed));
  EXPECT_EQ(platform::ReadU32(buffer.data() + platform::record_offset::kRecordNumber), 3u);
}

// A wide read: names outside any one code page (an accented Latin name, a CJK one) come out in
// UTF-8, in the converted write requests of both layouts and in the records left as they were.
TEST(LiveLogReads, AWideReadGivesItsTextsInUtf8) {
  FakeLiveLog log({
      WideRecord(
          1, 4656,
          {"S-1-5-21-1-2-3-1001", "J\u00fcrgen", "EXAMPLE", "0x3e7", "Security", "File",
           "C:\\Partage\\R\u00e9sum\u00e9.doc", "0x1a4", "{00000000-0000-0000-0000-000000000000}",
           "%%4417 %%4418", "0x6", "-", "0", "0x1f4", "C:\\Windows\\notepad.exe"}),
      WideRecord(
          2, 4656,
          {"S-1-5-21-1-2-3-1002", "\u7530\u4e2d", "EXAMPLE", "0x3e7", "Security", "File",
           "D:\\\u5171\u6709\\\u5831\u544a.doc", "0x1a4", "{00000000-0000-0000-0000-000000000000}",
           "%%4417", "-", "0x2", "-", "0", "0x1f4", "C:\\Windows\\notepad.exe", "S:AI"}),
      WideRecord(3, 4663, {"\u00dcbersicht.xls"}),
  });
  platform::LiveLogReads reads([&](auto... args) { return log.Read(args...); },
                               platform::RecordText::Utf16Le);
  const std::vector<AnsiRecord> records = ReadAll(reads, kForwards);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].eventId, 560u);
  EXPECT_EQ(records[0].strings[2], "C:\\Partage\\R\u00e9sum\u00e9.doc");
  EXPECT_EQ(records[0].strings[7], "J\u00fcrgen");
  EXPECT_EQ(records[1].eventId, 560u);
  EXPECT_EQ(records[1].strings[2], "D:\\\u5171\u6709\\\u5831\u544a.doc");
  EXPECT_EQ(records[1].strings[7], "\u7530\u4e2d");
  EXPECT_EQ(records[2].eventId, 4663u);
  EXPECT_EQ(records[2].strings, std::vector<std::string>{"\u00dcbersicht.xls"});
  EXPECT_EQ(records[2].computerName, "FS01");
}

}  // namespace
}  // namespace qs::test
