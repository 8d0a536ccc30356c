#include "scan/scan_pass.h"

#include <algorithm>
#include <limits>
#include <string>

namespace qs {

namespace {

// Reads the whole log, oldest record first, and hands every selected event to the comment step.
void ReadLog(ScanContext& c, platform::EventLogHandle log) {
  constexpr std::int32_t kMaxCount = std::numeric_limits<std::int32_t>::max();

  std::int32_t RecordsRead = 0;
  std::uint32_t count = 0;
  c.eventLog.NumberOfRecords(log, count);
  c.state.RecordsInLog = static_cast<std::int32_t>(std::min<std::uint32_t>(count, kMaxCount));
  if (c.state.RecordsInLog != 0) {
    c.view.SetProgressMaximum(c.state.RecordsInLog < kMaxCount ? c.state.RecordsInLog + 1
                                                               : kMaxCount);
  }
  c.view.ShowMaxEvents(std::to_string(c.state.RecordsInLog));

  // One buffer for the pass, zeroed at its start. It grows for a record that does not fit, so a
  // large record is read and decoded like any other instead of ending the reading for good.
  std::vector<std::uint8_t> RecordBuffer(kInitialRecordBufferSize, 0);

  for (;;) {
    // The size query does not move on; the read of exactly that size does.
    std::uint32_t bytesRead = 0;
    std::uint32_t bytesNeeded = 0;
    c.eventLog.ReadRecord(log, kScanReadFlags, static_cast<std::uint32_t>(RecordsRead),
                          RecordBuffer.data(), 0, bytesRead, bytesNeeded);
    bool result = false;
    const std::uint32_t recordSize = bytesNeeded;
    if (recordSize != 0 && recordSize <= kMaxRecordBufferSize) {
      if (recordSize > RecordBuffer.size()) RecordBuffer.resize(recordSize, 0);
      bytesRead = 0;
      result = c.eventLog.ReadRecord(log, kScanReadFlags, static_cast<std::uint32_t>(RecordsRead),
                                     RecordBuffer.data(), recordSize, bytesRead, bytesNeeded);
    }

    ++RecordsRead;
    if (c.view.IsWindowVisible() && RecordsRead <= c.state.RecordsInLog) {
      c.view.SetProgressValue(RecordsRead);
    }

    if (result) {
      const std::size_t size = std::min<std::size_t>(bytesRead, recordSize);
      if (DecodeRecord(RecordBuffer.data(), size, c.state.taken, c.selection,
                       c.state.currentEvent) == DecodeOutcome::Selected) {
        c.comments.CommentPass();
      }
    }

    // The yield may change the settings and the run state: both are read afresh.
    YieldStep(c.settings.Performance, c.view);
    if (c.run.StopFlag || !result || RecordsRead == kMaxCount) break;
  }
}

}  // namespace

void ScanPass(ScanContext& c) {
  c.view.ShowEventsStatus(kReadingSecurityLog);
  // Until the first event of the run is taken, every pass starts from an empty list.
  if (c.state.taken.NewestEventTime == 0) c.eventList.ClearList();

  const platform::EventLogHandle log = c.eventLog.OpenLog("", kSecurityLogName);
  if (log == 0) {
    std::string message(kUnableToOpenLog);
    message += kSecurityLogName;
    c.view.ShowOpenLogError(message);
  } else {
    ReadLog(c, log);
    c.eventLog.CloseLog(log);
    c.view.SetProgressValue(0);
  }

  if (c.settings.WinComments || c.settings.MacComments) {
    c.view.ShowEventsStatus(kCheckingSummaries);
    c.comments.SummaryCheckPass();
  }
  c.view.ShowEventsStatus(kReadingSecurityLog);
  if (!c.run.StopFlag) c.view.EnableTimer();
}

}  // namespace qs
