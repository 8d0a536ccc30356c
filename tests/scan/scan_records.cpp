#include "scan_records.h"

#include <cstring>

#include "platform/eventlog_record.h"

namespace qs::test {

std::vector<std::uint8_t> MakeRecord(const ObjectOpen& e) {
  platform::EventRecordFields f;
  f.RecordNumber = 1;
  f.TimeGenerated = static_cast<std::uint32_t>(e.TimeWritten);
  f.TimeWritten = static_cast<std::uint32_t>(e.TimeWritten);
  f.EventID = e.EventID;
  f.EventType = 8;  // audit success
  f.EventCategory = 3;
  f.SourceName = "Security";
  f.ComputerName = "SERVER";
  f.UserSid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // S-1-5-18
  f.Strings = {"Security",   e.ObjectType,   e.ObjectName,  "1224",     "0",
               "3411097",    "400",          e.PrimaryUser, "SERVER",   "(0x0,0x3E7)",
               e.ClientUser, e.ClientDomain, "-",           e.Accesses, "-"};
  return platform::BuildAnsiRecord(f);
}

std::vector<std::uint8_t> MakeRawRecord(std::uint32_t eventId, std::int32_t timeWritten,
                                        std::string_view variable) {
  std::vector<std::uint8_t> out(platform::kFixedRecordSize + variable.size(), 0);
  platform::WriteU32(out.data(), static_cast<std::uint32_t>(out.size()));
  platform::WriteU32(out.data() + 4, platform::kRecordSignature);
  platform::WriteU32(out.data() + 16, static_cast<std::uint32_t>(timeWritten));
  platform::WriteU32(out.data() + 20, eventId);
  std::memcpy(out.data() + platform::kFixedRecordSize, variable.data(), variable.size());
  return out;
}

platform::EventLogHandle FakeEventLog::OpenLog(std::string_view serverName,
                                               std::string_view sourceName) {
  ++opens;
  openedServer = serverName;
  openedSource = sourceName;
  if (failOpen) return 0;
  open_ = true;
  next_ = 0;
  return 42;
}

bool FakeEventLog::NumberOfRecords(platform::EventLogHandle log, std::uint32_t& count) {
  if (log != 42 || !open_) return false;
  count = reportedCount != 0xFFFFFFFF ? reportedCount : static_cast<std::uint32_t>(records.size());
  return true;
}

bool FakeEventLog::ReadRecord(platform::EventLogHandle log, std::uint32_t flags,
                              std::uint32_t /*recordOffset*/, void* buffer,
                              std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                              std::uint32_t& bytesNeeded) {
  readFlags.push_back(flags);
  bytesRead = 0;
  bytesNeeded = 0;
  if (log != 42 || !open_) return false;
  if (bytesToRead == 0) ++sizeQueries;
  if (next_ >= records.size()) return false;
  const auto& record = records[next_];
  if (static_cast<int>(next_) == absurdSizeOfRecord) {
    bytesNeeded = 0x80000000u;
    return false;
  }
  if (bytesToRead < record.size()) {
    bytesNeeded = static_cast<std::uint32_t>(record.size());
    return false;
  }
  readSizes.push_back(bytesToRead);
  ++recordReads;
  if (static_cast<int>(next_) == failReadOfRecord) return false;
  // The pass promised a buffer of bytesToRead bytes; ASan reports a smaller one here.
  std::memcpy(buffer, record.data(), record.size());
  bytesRead = static_cast<std::uint32_t>(record.size());
  ++next_;
  return true;
}

bool FakeEventLog::CloseLog(platform::EventLogHandle log) {
  if (log != 42 || !open_) return false;
  open_ = false;
  ++closes;
  return true;
}

void FakeScanView::ShowEventsStatus(std::string_view text) {
  calls.push_back("status " + std::string(text));
}
void FakeScanView::ShowMaxEvents(std::string_view text) {
  calls.push_back("max " + std::string(text));
}
void FakeScanView::SetProgressMaximum(std::int32_t maximum) {
  calls.push_back("progress maximum " + std::to_string(maximum));
}
void FakeScanView::SetProgressValue(std::int32_t value) { progressValues.push_back(value); }
void FakeScanView::ShowOpenLogError(std::string_view message) {
  calls.push_back("message " + std::string(message));
}
void FakeScanView::EnableTimer() { calls.push_back("timer on"); }
bool FakeScanView::ProcessPendingEvents() {
  ++rounds;
  if (onRound) onRound(rounds);
  return eventsPending;
}

void FakeCommentStep::CommentPass() {
  events.push_back(state_.currentEvent);
  if (list_ != nullptr) {
    list_->InsertNewest(state_.currentEvent.dateTime, state_.currentEvent.user,
                        state_.currentEvent.file);
  }
}

}  // namespace qs::test
