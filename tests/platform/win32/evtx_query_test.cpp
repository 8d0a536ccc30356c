// A Vista-and-later log file (.evtx) named as the Security log on Windows: read through EvtQuery
// and the event log service as a scan reads it, and put through the selection rule. A program of
// its own, so that where the event log API cannot query a file (Wine), its skip shows as a skip.
#include <windows.h>
#include <winevt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/eventlog_record.h"
#include "platform/win32/win32_services.h"
#include "scan/record_decoder.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

using namespace qs::platform;

struct Selected {
  std::uint32_t timeWritten;
  std::string user;
  std::string file;
  bool operator==(const Selected&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Selected& s) {
  return out << s.timeWritten << " " << s.user << " " << s.file;
}

// Why this machine cannot query a log file, or empty when it can. Wine's event log API answers a
// query of a file with no handle and no error: that function is a stub there.
std::string WhyNoFileQuery(const std::string& path) {
  std::wstring wide(path.begin(), path.end());
  // A query takes the full path of the file, with backslashes.
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  SetLastError(0);
  const EVT_HANDLE query =
      EvtQuery(nullptr, wide.c_str(), L"*", EvtQueryFilePath | EvtQueryForwardDirection);
  const DWORD error = GetLastError();
  if (query != nullptr) {
    EvtClose(query);
    return {};
  }
  if (error != 0) return {};  // a real failure: the test below shows it
  return "EvtQuery(EvtQueryFilePath) on " + std::string(wide.begin(), wide.end()) +
         " returned no handle and GetLastError 0: this system's wevtapi does not implement "
         "queries of log files (Wine's EvtQuery is a stub)";
}

TEST(EvtxQuery, RealLogSelectsExactlyItsTwoWrites) {
  const std::string path = FixturePath("evtx/LM_5145_Remote_FileCopy.evtx");
  if (const std::string why = WhyNoFileQuery(path); !why.empty()) GTEST_SKIP() << why;

  auto service = MakeWin32EventLogService(path);
  const EventLogHandle log = service->OpenLog("", "Security");
  ASSERT_NE(log, 0u) << "GetLastError " << GetLastError();
  std::uint32_t count = 0;
  ASSERT_TRUE(service->NumberOfRecords(log, count));
  EXPECT_EQ(count, 869u);

  constexpr std::uint32_t kForwards = kEventLogSequentialRead | kEventLogForwardsRead;
  std::vector<Selected> selected;
  std::size_t read = 0;
  TakenEvents newest;
  for (std::uint32_t i = 0; i <= count; ++i) {  // one read more: the end of the log
    std::uint32_t got = 0, needed = 0;
    if (service->ReadRecord(log, kForwards, 0, nullptr, 0, got, needed) || needed == 0) break;
    std::vector<std::uint8_t> record(needed);
    ASSERT_TRUE(service->ReadRecord(log, kForwards, 0, record.data(), needed, got, needed));
    ++read;
    CurrentEvent event;
    if (DecodeRecord(record.data(), record.size(), newest, {}, event) == DecodeOutcome::Selected) {
      selected.push_back(
          Selected{ReadU32(record.data() + record_offset::kTimeWritten), event.user, event.file});
    }
  }
  EXPECT_EQ(read, count);
  EXPECT_TRUE(service->CloseLog(log));
  // 2019-03-18 14:23:26 and 14:24:09 UTC; the second record of each same-second pair is not taken.
  const std::vector<Selected> expected = {
      {1552919006, "Administrator", "C:\\malwr.exe"},
      {1552919049, "Administrator", "C:\\Windows\\Temp\\setup.bat"},
  };
  EXPECT_EQ(selected, expected);
}

}  // namespace
}  // namespace qs::test
