// The reader against two logs written by Windows itself: exactly their live records, in order,
// the record that spans the end of the wrapped log whole, and none of the leftovers behind the
// EOF record. The expected fields were taken from libevt's evtexport.
#include <gtest/gtest.h>

#include <memory>

#include "platform/formats/evt_log.h"
#include "support/ansi_record.h"
#include "support/log_service.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

using platform::EvtLog;

std::unique_ptr<EvtLog> OpenFixture(const std::string& name) {
  const std::string bytes = FixtureBytes("evt/" + name);
  return EvtLog::Parse(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

// Every record well formed and numbered first, first + 1, ...
void ExpectConsecutive(EvtLog& log, std::uint32_t first) {
  for (std::size_t i = 0; i < log.RecordCount(); ++i) {
    const AnsiRecord r = ParseAnsiRecord(log.Record(i));
    ASSERT_EQ(r.recordNumber, first + i) << "at index " << i;
  }
}

TEST(EvtFixtures, DirtySecurityLogGivesTheRecordsOfItsEofRecord) {
  auto log = OpenFixture("moex01_Security.evt");
  ASSERT_TRUE(log);
  // The header counts 43 records; the EOF record, written after every event, counts 49.
  ASSERT_EQ(log->RecordCount(), 49u);
  ExpectConsecutive(*log, 1);
  EXPECT_TRUE(log->Layout().eofRecordFound);
  EXPECT_EQ(log->Layout().eofOffset, 0x3fa0u);
  EXPECT_FALSE(log->Layout().headerTrusted);

  const AnsiRecord first = ParseAnsiRecord(log->Record(0));
  EXPECT_EQ(first.eventId, 612u);
  EXPECT_EQ(first.timeWritten, 1768138593u);  // 2026-01-11 13:36:33 UTC
  EXPECT_EQ(first.timeGenerated, 1768138593u);
  EXPECT_EQ(first.eventType, 8);
  EXPECT_EQ(first.eventCategory, 6);
  EXPECT_EQ(first.sourceName, "Security");
  EXPECT_EQ(first.computerName, "MACHINENAME");
  const std::vector<std::uint8_t> localSystem = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // S-1-5-18
  EXPECT_EQ(first.userSid, localSystem);
  ASSERT_EQ(first.strings.size(), 21u);
  EXPECT_EQ(first.strings[2], "+");
  EXPECT_EQ(first.strings[18], "MACHINENAME$");
  EXPECT_EQ(first.strings[19], "");
  EXPECT_EQ(first.strings[20], "(0x0,0x3E7)");

  // Record 3 keeps a DataOffset past its own end (with no data): the strings are still all there.
  const AnsiRecord third = ParseAnsiRecord(log->Record(2));
  EXPECT_EQ(third.eventId, 576u);
  EXPECT_EQ(third.timeWritten, 1768167786u);
  ASSERT_EQ(third.strings.size(), 4u);
  EXPECT_EQ(third.strings[0], "LOCAL SERVICE");
  EXPECT_EQ(third.strings[1], "NT AUTHORITY");
  EXPECT_EQ(third.strings[2], "(0x0,0x3E5)");
  EXPECT_EQ(
      third.strings[3],
      "SeAuditPrivilege\r\n\t\t\tSeAssignPrimaryTokenPrivilege\r\n\t\t\tSeImpersonatePrivilege");
  EXPECT_TRUE(third.data.empty());
}

// The same log with its oldest record damaged (its signature): the 48 records behind it are found
// by their signature and read, the damaged one is counted as passed over.
TEST(EvtFixtures, ADamagedFirstRecordDoesNotHideTheRecordsBehindIt) {
  auto probe = OpenFixture("moex01_Security.evt");
  ASSERT_TRUE(probe);
  ASSERT_GE(probe->RecordCount(), 2u);
  const std::uint32_t first = probe->RecordFileOffset(0);
  const std::uint32_t second = probe->RecordFileOffset(1);
  std::vector<std::uint8_t> image = probe->Image();
  image[first + 4] = 0;  // "LfLe" becomes "\0fLe"
  auto log = EvtLog::Parse(std::move(image));
  ASSERT_TRUE(log);
  ASSERT_EQ(log->RecordCount(), 48u);
  ExpectConsecutive(*log, 2);
  EXPECT_EQ(log->Layout().skippedBytes, second - first);
  EXPECT_EQ(log->Layout().skippedStretches, 1u);
}

TEST(EvtFixtures, WrappedSystemLogGivesItsLiveRecordsAndNoLeftovers) {
  auto log = OpenFixture("plaso_SysEvent.Evt");
  ASSERT_TRUE(log);
  ASSERT_EQ(log->RecordCount(), 6063u);
  ExpectConsecutive(*log, 1392);
  const auto& layout = log->Layout();
  EXPECT_EQ(layout.oldestOffset, 0x1e0130u);
  EXPECT_EQ(layout.eofOffset, 0x1b9674u);  // the header's end offset (0x1b81f0) is stale

  // Between the EOF record and the oldest record lie 438 leftovers of overwritten records, some of
  // them whole and valid: none may be returned.
  for (std::size_t i = 0; i < log->RecordCount(); ++i) {
    const std::uint32_t at = log->RecordFileOffset(i);
    EXPECT_TRUE(at < 0x1b9674u || at >= 0x1e0130u) << "record from the free space at " << at;
  }

  const AnsiRecord oldest = ParseAnsiRecord(log->Record(0));
  EXPECT_EQ(oldest.timeWritten, 1311748907u);  // 2011-07-27 06:41:47 UTC
  EXPECT_EQ(oldest.eventId, 0x8000a001u);
  EXPECT_EQ(oldest.eventType, 2);
  EXPECT_EQ(oldest.sourceName, "LSASRV");
  EXPECT_EQ(oldest.computerName, "WKS-WINXP32BIT");
  ASSERT_EQ(oldest.strings.size(), 2u);
  EXPECT_EQ(oldest.strings[0], "cifs/CONTROLLER");

  const AnsiRecord newest = ParseAnsiRecord(log->Record(log->RecordCount() - 1));
  EXPECT_EQ(newest.recordNumber, 7454u);
  EXPECT_EQ(newest.timeWritten, 1333774681u);  // 2012-04-07 04:58:01 UTC
  EXPECT_EQ(newest.eventId, 0x40001b7cu);
  EXPECT_EQ(newest.sourceName, "Service Control Manager");
  ASSERT_EQ(newest.strings.size(), 2u);
  EXPECT_EQ(newest.strings[0], "Google Update Service (gupdate)");
  EXPECT_EQ(newest.strings[1], "stopped");
}

TEST(EvtFixtures, RecordAcrossTheEndOfTheFileIsWhole) {
  auto log = OpenFixture("plaso_SysEvent.Evt");
  ASSERT_TRUE(log);
  std::size_t index = log->RecordCount();
  for (std::size_t i = 0; i < log->RecordCount(); ++i) {
    if (log->RecordFileOffset(i) == 0x1eff10u) index = i;  // 240 bytes before the end, 344 long
  }
  ASSERT_LT(index, log->RecordCount());
  const AnsiRecord r = ParseAnsiRecord(log->Record(index));
  EXPECT_EQ(r.recordNumber, 1572u);
  EXPECT_EQ(r.timeWritten, 1312045186u);  // 2011-07-30 16:59:46 UTC
  EXPECT_EQ(r.eventId, 0x8000a000u);
  EXPECT_EQ(r.sourceName, "LSASRV");
  EXPECT_EQ(r.computerName, "WKS-WINXP32BIT");
  ASSERT_EQ(r.strings.size(), 3u);
  EXPECT_EQ(r.strings[0], "cifs/CONTROLLER");
  EXPECT_EQ(r.strings[1], "Kerberos");
  // The third string starts before the end of the file and ends after 0x30.
  EXPECT_EQ(r.strings[2].rfind("\"There are currently no logon servers available", 0), 0u);
  EXPECT_NE(r.strings[2].find("(0xc000005e)\""), std::string::npos);
  // The record after it was written right behind its tail at 0x30.
  EXPECT_EQ(ParseAnsiRecord(log->Record(index + 1)).recordNumber, 1573u);
}

TEST(EvtFixtures, ServiceReadsTheWrappedLogOneRecordPerRead) {
  auto service = FileLogService(FixturePath("evt/plaso_SysEvent.Evt"));
  const platform::EventLogHandle h = service->OpenLog("", "Security");
  ASSERT_NE(h, 0u);
  std::uint32_t count = 0;
  ASSERT_TRUE(service->NumberOfRecords(h, count));
  EXPECT_EQ(count, 6063u);
  const std::uint32_t flags = platform::kEventLogSequentialRead | platform::kEventLogForwardsRead;
  std::vector<std::uint8_t> buffer(2048);
  std::uint32_t read = 0, needed = 0, expected = 1392;
  while (true) {
    ASSERT_FALSE(service->ReadRecord(h, flags, 0, buffer.data(), 0, read, needed));
    if (needed == 0) break;
    if (needed > buffer.size()) buffer.resize(needed);
    ASSERT_TRUE(service->ReadRecord(h, flags, 0, buffer.data(), needed, read, needed));
    buffer.resize(read);
    ASSERT_EQ(ParseAnsiRecord(buffer).recordNumber, expected++);
    buffer.resize(2048);
  }
  EXPECT_EQ(expected, 7455u);
  EXPECT_TRUE(service->CloseLog(h));
}

}  // namespace
}  // namespace qs::test
