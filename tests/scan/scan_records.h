// Crafted Security-log records and test doubles of what a scan pass talks to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/eventlog.h"
#include "scan/scan_pass.h"

namespace qs::test {

// The accesses of an open for writing and of an open for reading, as Windows 2000 lists them.
inline constexpr std::string_view kWriteAccesses =
    "%%1537\r\n\t\t\t%%1538\r\n\t\t\t%%1541\r\n\t\t\t%%4416\r\n\t\t\t%%4417\r\n\t\t\t%%4418\r\n"
    "\t\t\t%%4419\r\n\t\t\t%%4420\r\n\t\t\t%%4423\r\n\t\t\t%%4424\r\n\t\t\t";
inline constexpr std::string_view kReadAccesses =
    "%%1538\r\n\t\t\t%%1541\r\n\t\t\t%%4416\r\n\t\t\t%%4419\r\n\t\t\t%%4423\r\n\t\t\t";

// Event 560 (object open) with its 15 insertion strings.
struct ObjectOpen {
  std::uint32_t EventID = 560;
  std::int32_t TimeWritten = 1'000'000'000;
  std::string ObjectType = "File";
  std::string ObjectName = "D:\\Shared\\budget.xls";
  std::string PrimaryUser = "alice";
  std::string ClientUser = "-";
  std::string ClientDomain = "-";
  std::string Accesses = std::string(kWriteAccesses);
};

std::vector<std::uint8_t> MakeRecord(const ObjectOpen& event);

// The fixed part of a record (Length, signature, TimeWritten, EventID) followed by `variable` as
// it stands, so that a test controls every byte the decoder sees.
std::vector<std::uint8_t> MakeRawRecord(std::uint32_t eventId, std::int32_t timeWritten,
                                        std::string_view variable);

// An event log serving a list of records, with the calls it was given.
class FakeEventLog : public platform::EventLogService {
 public:
  std::vector<std::vector<std::uint8_t>> records;
  bool failOpen = false;
  int failReadOfRecord = -1;                 // the read of this record (0-based) fails
  int absurdSizeOfRecord = -1;               // the size query of this record reports 2 GiB
  std::uint32_t reportedCount = 0xFFFFFFFF;  // the record count; the size of `records` if unset

  int opens = 0, closes = 0, recordReads = 0, sizeQueries = 0;
  std::string openedServer, openedSource;
  std::vector<std::uint32_t> readFlags;
  std::vector<std::uint32_t> readSizes;  // bytesToRead of the reads that were not size queries

  platform::EventLogHandle OpenLog(std::string_view serverName,
                                   std::string_view sourceName) override;
  bool NumberOfRecords(platform::EventLogHandle log, std::uint32_t& count) override;
  bool ReadRecord(platform::EventLogHandle log, std::uint32_t flags, std::uint32_t recordOffset,
                  void* buffer, std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                  std::uint32_t& bytesNeeded) override;
  bool CloseLog(platform::EventLogHandle log) override;

 private:
  std::size_t next_ = 0;
  bool open_ = false;
};

// The window as the pass drives it: every call is recorded as a line of text.
class FakeScanView : public ScanView {
 public:
  std::vector<std::string> calls;
  std::vector<std::int32_t> progressValues;
  bool visible = true;
  bool eventsPending = false;  // what each round of event processing reports
  int rounds = 0;              // rounds of event processing so far
  // Runs inside round n (from 1); with nothing pending a yield is one round, so round n is then
  // the yield after the n-th turn of the read loop.
  std::function<void(int n)> onRound;

  void ShowEventsStatus(std::string_view text) override;
  void ShowMaxEvents(std::string_view text) override;
  void SetProgressMaximum(std::int32_t maximum) override;
  void SetProgressValue(std::int32_t value) override;
  bool IsWindowVisible() const override { return visible; }
  void ShowOpenLogError(std::string_view message) override;
  void EnableTimer() override;
  bool ProcessPendingEvents() override;
};

// The comment step: keeps a copy of every event it was handed and, like the real one, lists it.
class FakeCommentStep : public CommentStep {
 public:
  FakeCommentStep(const ScanState& state, EventList* list) : state_(state), list_(list) {}
  std::vector<CurrentEvent> events;
  int summaryChecks = 0;
  void CommentPass() override;
  void SummaryCheckPass() override { ++summaryChecks; }

 private:
  const ScanState& state_;
  EventList* list_;
};

}  // namespace qs::test
