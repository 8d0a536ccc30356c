#include "scan/scan_pass.h"

#include <algorithm>
#include <limits>
#include <string>

#include "platform/eventlog_record.h"

namespace qs {

namespace {

constexpr std::int32_t kMaxCount = std::numeric_limits<std::int32_t>::max();

// Reads, with a seek, the record that the pass resumes after, into `buffer`; true when it is the
// record that the earlier pass examined last, byte for byte. A log that was cleared, that wrapped
// past that record or that is another log altogether fails here.
bool FindResumeRecord(ScanContext& c, platform::EventLogHandle log,
                      std::vector<std::uint8_t>& buffer) {
  const ResumePoint& resume = c.state.resume;
  if (resume.length > kMaxRecordBufferSize) return false;
  if (buffer.size() < resume.length) buffer.resize(resume.length, 0);
  std::uint32_t bytesRead = 0;
  std::uint32_t bytesNeeded = 0;
  const bool read =
      c.eventLog.ReadRecord(log, kResumeReadFlags, resume.recordNumber, buffer.data(),
                            static_cast<std::uint32_t>(buffer.size()), bytesRead, bytesNeeded);
  return read && bytesRead == resume.length &&
         RecordFingerprint(buffer.data(), bytesRead) == resume.fingerprint;
}

// Reads the log, oldest record first, and hands every selected event to the comment step. When an
// earlier pass left a resume point that still holds, the reading begins right after it instead:
// every record before it was examined already. The records up to it count as read, so the bar
// stands where that record lies in the log and goes on from there. `log` may be replaced by a
// fresh handle, or by 0 when the log can no longer be opened.
void ReadLog(ScanContext& c, platform::EventLogHandle& log) {
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

  std::uint32_t oldest = 0;
  bool numbered = c.eventLog.OldestRecord(log, oldest);
  if (numbered && c.state.resume.valid) {
    if (FindResumeRecord(c, log, RecordBuffer)) {
      const std::int64_t upToResume =
          static_cast<std::int64_t>(c.state.resume.recordNumber) - oldest + 1;
      RecordsRead =
          static_cast<std::int32_t>(std::clamp<std::int64_t>(upToResume, 0, c.state.RecordsInLog));
      if (c.view.IsWindowVisible() && RecordsRead > 0) c.view.SetProgressValue(RecordsRead);
    } else {
      // Not the log the resume point was taken in: read it whole, through a fresh handle, which
      // reads from the oldest record.
      c.state.resume.valid = false;
      c.eventLog.CloseLog(log);
      log = c.eventLog.OpenLog("", kSecurityLogName);
      if (log == 0) return;
      numbered = c.eventLog.OldestRecord(log, oldest);
    }
  }
  if (!numbered) c.state.resume.valid = false;

  // The size of the last record examined: it stays in the buffer, which only a successful read
  // writes, until the loop ends.
  std::size_t examinedSize = 0;
  bool examined = false;

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
      examined = true;
      examinedSize = size;
      if (DecodeRecord(RecordBuffer.data(), size, c.state.taken, c.selection,
                       c.state.currentEvent) == DecodeOutcome::Selected) {
        c.comments.CommentPass();
      }
    }

    // The yield may change the settings and the run state: both are read afresh.
    YieldStep(c.settings.Performance, c.view);
    if (c.run.StopFlag || !result || RecordsRead == kMaxCount) break;
  }

  // The next pass goes on after the last record examined, also when a stop ended this one.
  if (numbered && examined && examinedSize >= platform::record_offset::kRecordNumber + 4) {
    ResumePoint& resume = c.state.resume;
    resume.valid = true;
    resume.recordNumber =
        platform::ReadU32(RecordBuffer.data() + platform::record_offset::kRecordNumber);
    resume.length = static_cast<std::uint32_t>(examinedSize);
    resume.fingerprint = RecordFingerprint(RecordBuffer.data(), examinedSize);
  }
}

}  // namespace

std::uint64_t RecordFingerprint(const std::uint8_t* bytes, std::size_t size) {
  // FNV-1a: one record per pass is fingerprinted, so a simple hash is quick enough.
  std::uint64_t h = 0xcbf29ce484222325u;
  for (std::size_t i = 0; i < size; ++i) {
    h ^= bytes[i];
    h *= 0x100000001b3u;
  }
  return h;
}

void ScanView::ShowLogChanged(std::string_view) { ShowEventsStatus(kLogChangedStatus); }

void ScanPass(ScanContext& c) {
  c.view.ShowEventsStatus(kReadingSecurityLog);
  // Until the first event of the run is taken, every pass starts from an empty list.
  if (c.state.taken.NewestEventTime == 0) c.eventList.ClearList();

  platform::EventLogHandle log = c.eventLog.OpenLog("", kSecurityLogName);
  // Asked of the handle the reading began with and of the one it ended with (a resume point that
  // no longer holds has the log opened again).
  bool changed = log != 0 && c.eventLog.ChangedWhileOpened(log);
  if (log == 0) {
    std::string message(kUnableToOpenLog);
    message += kSecurityLogName;
    c.view.ShowOpenLogError(message);
  } else {
    ReadLog(c, log);
    if (log != 0) {
      changed = changed || c.eventLog.ChangedWhileOpened(log);
      c.eventLog.CloseLog(log);
    }
    c.view.SetProgressValue(0);
  }

  if (c.settings.WinComments || c.settings.MacComments) {
    c.view.ShowEventsStatus(kCheckingSummaries);
    c.comments.SummaryCheckPass();
  }
  if (changed) {
    c.view.ShowLogChanged(kLogChangedWhileRead);
  } else {
    c.view.ShowEventsStatus(kReadingSecurityLog);
  }
  if (!c.run.StopFlag) c.view.EnableTimer();
}

}  // namespace qs
