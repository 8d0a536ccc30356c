// The Security log on Windows. With no log file named, it is the computer's own live log, read
// with OpenEventLogW, GetNumberOfEventLogRecords, GetOldestEventLogRecord, ReadEventLogW (a pass
// that resumes seeks the record it resumes after by its number) and CloseEventLog. The wide read
// gives every name as Windows holds it, whatever the ANSI code page; its texts become UTF-8, the
// program's own encoding, as a record is taken from the read. Each record of
// events 4656 and 5145 that Windows Vista and later write is converted as it is read, so that the
// selection rule finds the event 560 it knows. A named log file is read whole: an NT event log
// (.evt) by the portable reader, a Vista-and-later log (.evtx) through EvtQuery.
#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ascii.h"
#include "platform/eventlog_record.h"
#include "platform/formats/evt_log.h"
#include "platform/formats/live_log_reads.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_services.h"

namespace qs::platform {

namespace {

// The live log: the four calls. ReadEventLogW fills the buffer with as many whole records as fit
// and moves past all of them; LiveLogReads keeps them and hands them out one by one, converted.
class LiveLog {
 public:
  explicit LiveLog(HANDLE handle)
      : handle_(handle),
        reads_(
            [handle](std::uint32_t flags, std::uint32_t offset, std::uint8_t* buffer,
                     std::uint32_t size) {
              LiveReadResult result;
              DWORD got = 0;
              DWORD needed = 0;
              result.ok =
                  ReadEventLogW(handle, flags, offset, buffer, size, &got, &needed) != FALSE;
              if (result.ok) {
                result.bytesRead = got;
              } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                // Only then does `needed` hold anything.
                result.bytesNeeded = needed;
              }
              return result;
            },
            RecordText::Utf16Le) {}
  ~LiveLog() { CloseEventLog(handle_); }
  LiveLog(const LiveLog&) = delete;
  LiveLog& operator=(const LiveLog&) = delete;

  bool Count(std::uint32_t& count) {
    DWORD n = 0;
    if (!GetNumberOfEventLogRecords(handle_, &n)) return false;
    count = n;
    return true;
  }

  bool Oldest(std::uint32_t& number) {
    DWORD n = 0;
    if (!GetOldestEventLogRecord(handle_, &n)) return false;
    number = n;
    return true;
  }

  bool Read(std::uint32_t flags, std::uint32_t offset, void* buffer, std::uint32_t bytesToRead,
            std::uint32_t& bytesRead, std::uint32_t& bytesNeeded) {
    return reads_.Read(flags, offset, buffer, bytesToRead, bytesRead, bytesNeeded);
  }

 private:
  HANDLE handle_;
  LiveLogReads reads_;
};

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  const HANDLE file =
      CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::optional<std::vector<std::uint8_t>> bytes;
  LARGE_INTEGER size{};
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) &&
      size.QuadPart <= 0xFFFFFFFFLL) {
    bytes.emplace(static_cast<std::size_t>(size.QuadPart));
    std::size_t got = 0;
    while (got < bytes->size()) {
      DWORD n = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes->size() - got, 1 << 24));
      if (!ReadFile(file, bytes->data() + got, want, &n, nullptr) || n == 0) break;
      got += n;
    }
    bytes->resize(got);  // a file that shrank while being read is parsed as far as it goes
  }
  CloseHandle(file);
  return bytes;
}

class Win32EventLogService final : public EventLogService {
 public:
  explicit Win32EventLogService(std::string path) : path_(std::move(path)) {}

  EventLogHandle OpenLog(std::string_view serverName, std::string_view sourceName) override {
    if (!EqualsNoCase(sourceName, "Security")) return 0;
    if (path_.empty()) {
      const std::wstring server = WideText(serverName);
      const HANDLE handle = OpenEventLogW(server.empty() ? nullptr : server.c_str(), L"Security");
      if (handle == nullptr) return 0;
      const EventLogHandle number = next_++;
      live_[number] = std::make_unique<LiveLog>(handle);
      return number;
    }
    if (!serverName.empty()) return 0;
    std::unique_ptr<LogSource> source =
        BeginsAsEvtxFile(path_) ? OpenEvtxQueryLog(path_) : OpenEvtLog(path_);
    if (!source) return 0;
    const EventLogHandle number = next_++;
    files_.emplace(number, LogSourceReads(std::move(source)));
    return number;
  }

  bool NumberOfRecords(EventLogHandle log, std::uint32_t& count) override {
    if (const auto it = live_.find(log); it != live_.end()) return it->second->Count(count);
    const auto it = files_.find(log);
    if (it == files_.end()) return false;
    count = it->second.Count();
    return true;
  }

  bool OldestRecord(EventLogHandle log, std::uint32_t& number) override {
    if (const auto it = live_.find(log); it != live_.end()) return it->second->Oldest(number);
    const auto it = files_.find(log);
    if (it == files_.end()) return false;
    number = it->second.OldestNumber();
    return true;
  }

  bool ReadRecord(EventLogHandle log, std::uint32_t readFlags, std::uint32_t recordOffset,
                  void* buffer, std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                  std::uint32_t& bytesNeeded) override {
    bytesRead = 0;
    bytesNeeded = 0;
    if (const auto it = live_.find(log); it != live_.end()) {
      return it->second->Read(readFlags, recordOffset, buffer, bytesToRead, bytesRead, bytesNeeded);
    }
    const auto it = files_.find(log);
    if (it == files_.end()) return false;
    return it->second.Read(readFlags, recordOffset, buffer, bytesToRead, bytesRead, bytesNeeded);
  }

  bool CloseLog(EventLogHandle log) override {
    return live_.erase(log) != 0 || files_.erase(log) != 0;
  }

 private:
  std::string path_;
  std::map<EventLogHandle, std::unique_ptr<LiveLog>> live_;
  std::map<EventLogHandle, LogSourceReads> files_;
  EventLogHandle next_ = 1;
};

}  // namespace

std::unique_ptr<LogSource> OpenEvtLog(const std::string& path) {
  std::optional<std::vector<std::uint8_t>> image = ReadWholeFile(path);
  if (!image || image->size() < kEvtHeaderSize + kEvtEofRecordSize ||
      !BeginsAsEvtHeader(image->data())) {
    return nullptr;
  }
  return EvtLog::Parse(std::move(*image));
}

std::unique_ptr<EventLogService> MakeWin32EventLogService(std::string securityLogPath) {
  return std::make_unique<Win32EventLogService>(std::move(securityLogPath));
}

}  // namespace qs::platform
