// This computer's own Security log, read through the event-log service as the scan reads it: the
// size query, a buffer one byte short, then the record. Wine has no event log (its OpenEventLogA
// gives a handle to an empty log whose reads fail at once), so there this program is skipped.
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/eventlog.h"
#include "platform/eventlog_record.h"
#include "platform/win32/win32_services.h"

namespace qs::test {
namespace {

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

constexpr std::uint32_t kForwards =
    platform::kEventLogSequentialRead | platform::kEventLogForwardsRead;

TEST(Win32LiveLog, TheFirstRecordsComeThroughTheSizeQuery) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine has no event log: OpenEventLogA gives a handle to a log of 0 records "
                    "and ReadEventLogA fails with ERROR_HANDLE_EOF";
  }
  // Reading the Security log takes the right to manage auditing, which an administrator has.
  const HANDLE probe = OpenEventLogA(nullptr, "Security");
  if (probe == nullptr) {
    GTEST_SKIP() << "this account may not read the Security log (error " << GetLastError()
                 << "); run the test as an administrator";
  }
  DWORD held = 0;
  const BOOL counted = GetNumberOfEventLogRecords(probe, &held);
  CloseEventLog(probe);
  ASSERT_TRUE(counted);
  if (held == 0) GTEST_SKIP() << "the Security log of this computer holds no records";

  auto log = platform::MakeWin32EventLogService("");
  const platform::EventLogHandle handle = log->OpenLog("", "Security");
  ASSERT_NE(handle, 0u);
  std::uint32_t count = 0;
  ASSERT_TRUE(log->NumberOfRecords(handle, count));
  EXPECT_GT(count, 0u);

  std::uint32_t previous = 0;
  const std::uint32_t toRead = std::min<std::uint32_t>(count, 50);
  for (std::uint32_t i = 0; i < toRead; ++i) {
    SCOPED_TRACE(i);
    std::uint32_t got = 0;
    std::uint32_t needed = 0;
    ASSERT_FALSE(log->ReadRecord(handle, kForwards, 0, nullptr, 0, got, needed));
    ASSERT_GE(needed, platform::kMinRecordSize);
    std::vector<std::uint8_t> buffer(needed);
    std::uint32_t again = 0;
    EXPECT_FALSE(log->ReadRecord(handle, kForwards, 0, buffer.data(), needed - 1, got, again));
    EXPECT_EQ(again, needed);
    ASSERT_TRUE(log->ReadRecord(handle, kForwards, 0, buffer.data(), needed, got, needed));
    ASSERT_EQ(got, buffer.size());
    EXPECT_EQ(platform::ReadU32(buffer.data() + platform::record_offset::kLength), got);
    EXPECT_EQ(platform::ReadU32(buffer.data() + platform::record_offset::kSignature),
              platform::kRecordSignature);
    EXPECT_EQ(platform::ReadU32(buffer.data() + got - 4), got);
    // Forwards, each record follows the one before it.
    const std::uint32_t number =
        platform::ReadU32(buffer.data() + platform::record_offset::kRecordNumber);
    EXPECT_GT(number, previous);
    previous = number;
  }
  EXPECT_TRUE(log->CloseLog(handle));
}

}  // namespace
}  // namespace qs::test
