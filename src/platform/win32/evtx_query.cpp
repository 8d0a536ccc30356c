// A Windows Vista-and-later event log file (.evtx) read through the event log API of Windows
// itself: EvtQuery over the file, EvtNext in batches, and each event rendered as XML (EvtRender).
// The XML text alone gives every fact the record is presented with
// (platform/formats/evtx_record.h), so that the records are the very ones the Linux build makes of
// the same file.
#include <windows.h>
#include <winevt.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/eventlog_record.h"
#include "platform/formats/evtx_record.h"
#include "platform/utf.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_services.h"

namespace qs::platform {

namespace {

// Closes an event-log API handle: the query, or one event of it.
class EvtHandle {
 public:
  explicit EvtHandle(EVT_HANDLE handle = nullptr) : handle_(handle) {}
  ~EvtHandle() {
    if (handle_ != nullptr) EvtClose(handle_);
  }
  EvtHandle(const EvtHandle&) = delete;
  EvtHandle& operator=(const EvtHandle&) = delete;
  EVT_HANDLE get() const { return handle_; }

 private:
  EVT_HANDLE handle_;
};

// The path as the settings give it (UTF-8), as the full path that a query of a file needs.
std::wstring FullWidePath(const std::string& path) {
  const std::wstring wide = WidePath(path);
  const DWORD fullLength = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (fullLength == 0) return {};
  std::wstring full(fullLength, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), fullLength, full.data(), nullptr);
  if (written == 0 || written >= fullLength) return {};
  full.resize(written);
  return full;
}

// The event's XML text, UTF-8. The rendering is asked for in a buffer kept from event to event;
// when it does not fit, the call fails with ERROR_INSUFFICIENT_BUFFER and tells the size it needs
// in bytes, and the buffer grows to that for a second call.
bool RenderXml(EVT_HANDLE event, std::vector<wchar_t>& buffer, std::string& xml) {
  DWORD used = 0;
  DWORD properties = 0;
  auto bytes = [&] { return static_cast<DWORD>(buffer.size() * sizeof(wchar_t)); };
  if (!EvtRender(nullptr, event, EvtRenderEventXml, bytes(), buffer.data(), &used, &properties)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.resize(used / sizeof(wchar_t) + 1);
    if (!EvtRender(nullptr, event, EvtRenderEventXml, bytes(), buffer.data(), &used, &properties))
      return false;
  }
  // `used` counts the closing zero; the text ends at the first zero either way.
  std::size_t length = std::min<std::size_t>(used / sizeof(wchar_t), buffer.size());
  length = static_cast<std::size_t>(
      std::find(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length), L'\0') -
      buffer.begin());
  xml = Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer.data()), length));
  return true;
}

// The records are converted as the log is opened, as on Linux, so that the query and its events are
// closed before the pass reads them.
class QueriedLog final : public LogSource {
 public:
  std::size_t RecordCount() const override { return records_.size(); }
  const std::vector<std::uint8_t>& Record(std::size_t index) override { return records_[index]; }
  void Add(std::vector<std::uint8_t> record) { records_.push_back(std::move(record)); }

 private:
  std::vector<std::vector<std::uint8_t>> records_;
};

}  // namespace

bool BeginsAsEvtxFile(const std::string& path) {
  const HANDLE file =
      CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::uint8_t head[sizeof evtx::kFileSignature] = {};
  DWORD got = 0;
  const bool read = ReadFile(file, head, sizeof head, &got, nullptr) != 0;
  CloseHandle(file);
  return read && evtx::BeginsAsEvtxHeader(head, got);
}

std::unique_ptr<LogSource> OpenEvtxQueryLog(const std::string& path) {
  const std::wstring fullPath = FullWidePath(path);
  if (fullPath.empty()) return nullptr;
  // Every event of the file, oldest first. The query's handles serve only the thread that made
  // them, so the whole file is read here.
  const EvtHandle query(
      EvtQuery(nullptr, fullPath.c_str(), L"*", EvtQueryFilePath | EvtQueryForwardDirection));
  if (query.get() == nullptr) return nullptr;

  auto log = std::make_unique<QueriedLog>();
  std::vector<wchar_t> buffer(std::size_t{1} << 15);
  std::string xml;
  constexpr DWORD kBatch = 64;
  EVT_HANDLE events[kBatch] = {};
  bool readable = true;
  while (readable) {
    DWORD returned = 0;
    // A query of a file never waits for events to come; the call fails with ERROR_NO_MORE_ITEMS
    // after the last one, or with another error at an event it cannot read. Either ends the log.
    if (!EvtNext(query.get(), kBatch, events, INFINITE, 0, &returned)) break;
    for (DWORD i = 0; i < returned; ++i) {
      const EvtHandle event(events[i]);  // each one is closed, read or not
      if (!readable) continue;
      std::optional<evtx::EvtxRecordFacts> facts;
      if (RenderXml(event.get(), buffer, xml)) facts = evtx::FactsFromXml(xml);
      // An event that cannot be rendered or read ends the log there, as a record that libevtx
      // cannot read ends it on Linux.
      if (!facts) {
        readable = false;
        continue;
      }
      log->Add(BuildAnsiRecord(evtx::PresentedFields(*facts)));
    }
    if (returned == 0) break;
  }
  return log;
}

}  // namespace qs::platform
