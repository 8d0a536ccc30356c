// Security logs written by real Windows machines (.evtx), read through the event-log service as a
// scan reads them and put through the selection rule. The expected facts were taken from libevtx's
// evtxinfo and evtxexport and from the fixtures' README.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/posix/posix_eventlog.h"
#include "scan/record_decoder.h"
#include "support/ansi_record.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

using namespace qs::platform;

constexpr std::uint32_t kForwards = kEventLogSequentialRead | kEventLogForwardsRead;

struct Selected {
  std::uint32_t timeWritten;
  std::string user;
  std::string file;
  bool operator==(const Selected&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Selected& s) {
  return out << s.timeWritten << " " << s.user << " " << s.file;
}

// Every record the service gives, in order, as a scan reads them.
std::vector<std::vector<std::uint8_t>> ReadAll(const std::string& path) {
  auto service = MakePosixEventLogService(path);
  const EventLogHandle h = service->OpenLog("", "Security");
  EXPECT_NE(h, 0u) << path;
  std::vector<std::vector<std::uint8_t>> records;
  if (h == 0) return records;
  std::uint32_t count = 0;
  EXPECT_TRUE(service->NumberOfRecords(h, count));
  for (std::uint32_t i = 0; i <= count; ++i) {  // one read more: the end of the log
    std::uint32_t read = 0, needed = 0;
    if (!service->ReadRecord(h, kForwards, 0, nullptr, 0, read, needed)) {
      if (needed == 0) break;
    }
    std::vector<std::uint8_t> buffer(needed);
    EXPECT_TRUE(service->ReadRecord(h, kForwards, 0, buffer.data(), needed, read, needed));
    records.push_back(std::move(buffer));
  }
  EXPECT_EQ(records.size(), count) << path;
  service->CloseLog(h);
  return records;
}

struct FixtureCase {
  const char* file;
  std::size_t records;
  std::map<std::uint32_t, std::size_t> eventIds;  // presented event ID: how many
  std::uint32_t firstRecordNumber;
  std::vector<Selected> selected;
};

class EvtxFixtures : public testing::TestWithParam<FixtureCase> {};

TEST_P(EvtxFixtures, GiveTheirRecordsInOrderAndSelectExactlyTheWrites) {
  const FixtureCase& c = GetParam();
  const auto records = ReadAll(FixturePath(std::string("evtx/") + c.file));
  ASSERT_EQ(records.size(), c.records);

  std::map<std::uint32_t, std::size_t> eventIds;
  std::vector<Selected> selected;
  TakenEvents newest;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const AnsiRecord r = ParseAnsiRecord(records[i]);
    ASSERT_EQ(r.recordNumber, c.firstRecordNumber + i) << "record order, at index " << i;
    ++eventIds[r.eventId];
    CurrentEvent event;
    if (DecodeRecord(records[i].data(), records[i].size(), newest, {"quillstamp", 0}, event) ==
        DecodeOutcome::Selected) {
      selected.push_back({r.timeWritten, event.user, event.file});
    }
  }
  EXPECT_EQ(eventIds, c.eventIds);
  EXPECT_EQ(selected, c.selected);
}

std::string FixtureName(const testing::TestParamInfo<FixtureCase>& info) {
  std::string name = info.param.file;
  name.erase(name.find('.'));
  return name;
}

INSTANTIATE_TEST_SUITE_P(
    Real, EvtxFixtures,
    testing::Values(
        // 869 successful 5145 on C$: every one becomes 560; two same-second pairs carry all four
        // write accesses, and of each pair only the first is taken.
        FixtureCase{"LM_5145_Remote_FileCopy.evtx",
                    869,
                    {{560, 869}},
                    437472,
                    {{1552919006, "Administrator", "C:\\malwr.exe"},  // 14:23:26 UTC
                     {1552919049, "Administrator", "C:\\Windows\\Temp\\setup.bat"}}},  // 14:24:09
        // Named pipes on IPC$, most of them with all four write accesses: no file.
        FixtureCase{"discovery_bloodhound.evtx", 10, {{1102, 1}, {560, 9}}, 32853, {}},
        // A 4656 on a process object, and a 4663.
        FixtureCase{
            "CA_hashdump_4663_4656_lsass_access.evtx", 2, {{560, 1}, {4663, 1}}, 314461, {}},
        // Reads of browser files, and a cleared log.
        FixtureCase{"CA_chrome_firefox_opera_4663.evtx", 5, {{1102, 1}, {4663, 4}}, 4987, {}}),
    FixtureName);

TEST(EvtxFixtures, ShareCheckBecomesTheWindows2000Layout) {
  const auto records = ReadAll(FixturePath("evtx/LM_5145_Remote_FileCopy.evtx"));
  ASSERT_GT(records.size(), 0u);
  const AnsiRecord first = ParseAnsiRecord(records[0]);
  EXPECT_EQ(first.recordNumber, 437472u);
  EXPECT_EQ(first.timeWritten, 1552919002u);  // 2019-03-18 14:23:22.13 UTC
  EXPECT_EQ(first.computerName, "PC01.example.corp");
  EXPECT_EQ(first.eventType, kEventTypeAuditSuccess);
  const std::vector<std::string> expected = {"Security", "File",
                                             "C:\\",     "-",
                                             "0",        "437472",
                                             "-",        "Administrator",
                                             "EXAMPLE",  "0x00000000000fc635",
                                             "-",        "-",
                                             "-",        "%%1541 %%4423",
                                             "-"};
  EXPECT_EQ(first.strings, expected);
}

}  // namespace
}  // namespace qs::test
