#include "support/fakes.h"

#include <cstring>

#include "scan/event_list.h"

namespace qs::test {

SystemAnswers SystemOf(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor,
                       std::uint32_t build, std::string servicePack, std::string hostName) {
  SystemAnswers a;
  a.platformId = platformId;
  a.major = major;
  a.minor = minor;
  a.build = build;
  a.servicePack = std::move(servicePack);
  a.hostName = std::move(hostName);
  return a;
}

bool FakeSystem::Put(bool ok, const std::string& name, std::string& buffer) {
  // Like the real calls: the name and its NUL over the start of the buffer, the rest untouched.
  if (!ok) return false;
  buffer.replace(0, name.size(), name);
  buffer[name.size()] = '\0';
  return true;
}

bool FakeSystem::ReadVersion(platform::OsVersionInfo& info) {
  info.dwPlatformId = a_.platformId;
  info.dwMajorVersion = a_.major;
  info.dwMinorVersion = a_.minor;
  info.dwBuildNumber = a_.build;
  // Like the real call: the service pack text and its NUL over the start of the blank field.
  std::memcpy(info.szCSDVersion.data(), a_.servicePack.data(), a_.servicePack.size());
  info.szCSDVersion[a_.servicePack.size()] = '\0';
  info.hostSystemName = a_.hostName;
  return true;
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
  statuses.emplace_back(text);
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
  errors.emplace_back(message);
}
void FakeScanView::EnableTimer() { calls.push_back("timer on"); }
bool FakeScanView::ProcessPendingEvents() {
  ++rounds;
  if (onRound) onRound(rounds);
  return eventsPending;
}

void FakeCommentStep::CommentPass() {
  ++commentPasses;
  if (state_ == nullptr) return;
  events.push_back(state_->currentEvent);
  if (list_ != nullptr) {
    list_->InsertNewest(state_->currentEvent.dateTime, state_->currentEvent.user,
                        state_->currentEvent.file);
  }
}

}  // namespace qs::test
