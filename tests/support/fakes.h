// Test doubles of what a scan pass and the comment operations talk to: the Security log, the
// window, the comment step and the event pump; and the system's answers at start-up. Shared by
// every folder of tests.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/eventlog.h"
#include "platform/sysinfo.h"
#include "scan/event_pump.h"
#include "scan/scan_pass.h"

namespace qs::test {

// What the system answers at start-up; by default a Windows 2000 file server.
struct SystemAnswers {
  bool computerOk = true;
  std::string computer = "FILESERVER";
  bool userOk = true;
  std::string user = "admin";
  std::uint32_t platformId = platform::kPlatformWin32Nt;
  std::uint32_t major = 5, minor = 0, build = 2195;
  std::string servicePack = "Service Pack 2";
  std::string hostName;  // empty: a Windows system
  std::uint32_t tzResult = platform::kTimeZoneIdStandard;
  std::int32_t bias = -60;
};

// The answers of a system of the given platform, version, build and service pack.
SystemAnswers SystemOf(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor,
                       std::uint32_t build, std::string servicePack, std::string hostName = {});

// The system information service giving those answers the way the real calls do.
class FakeSystem : public platform::SystemInfoService {
 public:
  explicit FakeSystem(SystemAnswers a) : a_(std::move(a)) {}
  bool ReadComputerName(std::string& buffer) override {
    return Put(a_.computerOk, a_.computer, buffer);
  }
  bool ReadUserName(std::string& buffer) override { return Put(a_.userOk, a_.user, buffer); }
  bool ReadVersion(platform::OsVersionInfo& info) override;
  std::uint32_t ReadTimeZone(std::int32_t& bias) override {
    bias = a_.bias;
    return a_.tzResult;
  }

 private:
  static bool Put(bool ok, const std::string& name, std::string& buffer);
  SystemAnswers a_;
};

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

// The window as a pass drives it: every call is recorded as a line of text, the status texts and
// the error messages also on their own. By default it is visible and nothing is ever pending, so
// that a yield is one round.
class FakeScanView : public ScanView {
 public:
  std::vector<std::string> calls;
  std::vector<std::int32_t> progressValues;
  std::vector<std::string> statuses;  // the texts of ShowEventsStatus, in order
  std::vector<std::string> errors;    // the messages of ShowOpenLogError, in order
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

// The comment step. Built over a scan state it keeps a copy of every event it was handed and,
// like the real one, lists it in `list` (when given); built without, it only counts.
class FakeCommentStep : public CommentStep {
 public:
  FakeCommentStep() = default;
  FakeCommentStep(const ScanState& state, EventList* list) : state_(&state), list_(list) {}
  std::vector<CurrentEvent> events;
  int commentPasses = 0;
  int summaryChecks = 0;
  void CommentPass() override;
  void SummaryCheckPass() override { ++summaryChecks; }

 private:
  const ScanState* state_ = nullptr;
  EventList* list_ = nullptr;
};

// Counts rounds of event processing (with Performance 1, the number of yields); the first
// `pendingRounds` rounds find something to do, and `onYield` runs inside each round.
class CountingPump : public EventPump {
 public:
  int rounds = 0;
  int pendingRounds = std::numeric_limits<int>::max();
  std::function<void()> onYield;
  bool ProcessPendingEvents() override {
    ++rounds;
    if (onYield) onYield();
    return rounds <= pendingRounds;
  }
};

}  // namespace qs::test
