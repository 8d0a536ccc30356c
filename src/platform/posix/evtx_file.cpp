// Opening a Windows Vista-and-later event log (.evtx) with libevtx, a parser made for the format:
// each record's strings come by index, and its XML text names them and gives its keywords. The
// portable conversion (platform/formats/evtx_record.h) turns them into the records of an event log.
#include <libevtx.h>

#include <algorithm>
#include <vector>

#include "platform/formats/evtx_record.h"
#include "platform/posix/log_source.h"

namespace qs::platform {

namespace {

// libevtx hands its errors out to be freed by the caller; this program only needs to know that a
// call failed.
class ErrorSink {
 public:
  ~ErrorSink() { Clear(); }
  libevtx_error_t** operator&() {
    Clear();
    return &error_;
  }
  void Clear() {
    if (error_ != nullptr) libevtx_error_free(&error_);
  }

 private:
  libevtx_error_t* error_ = nullptr;
};

struct RecordDeleter {
  void operator()(libevtx_record_t* record) const { libevtx_record_free(&record, nullptr); }
};
using RecordPtr = std::unique_ptr<libevtx_record_t, RecordDeleter>;

struct FileDeleter {
  void operator()(libevtx_file_t* file) const {
    libevtx_file_close(file, nullptr);
    libevtx_file_free(&file, nullptr);
  }
};
using FilePtr = std::unique_ptr<libevtx_file_t, FileDeleter>;

// A UTF-8 text of the record through the pair of calls libevtx offers for each: its size (the
// closing zero byte included), then the text. libevtx converts the text from UTF-16 for either
// call, so the text is first asked for straight into a buffer reused from record to record, and
// its size only when it does not fit. Empty when the record has none.
std::vector<std::uint8_t>& ScratchBuffer() {
  static thread_local std::vector<std::uint8_t> buffer(std::size_t{1} << 16);
  return buffer;
}

template <typename SizeCall, typename TextCall>
std::string RecordText(SizeCall sizeCall, TextCall textCall) {
  ErrorSink error;
  std::vector<std::uint8_t>& buffer = ScratchBuffer();
  if (textCall(buffer.data(), buffer.size(), &error) != 1) {
    std::size_t size = 0;
    if (sizeCall(&size, &error) != 1 || size == 0) return {};
    buffer.resize(std::max(buffer.size(), size));
    if (textCall(buffer.data(), size, &error) != 1) return {};
  }
  const auto end = std::find(buffer.begin(), buffer.end(), std::uint8_t{0});
  return std::string(buffer.begin(), end);
}

// The facts of one record; false when libevtx cannot give its identifier, time or event ID.
bool ReadFacts(libevtx_record_t* record, evtx::EvtxRecordFacts& facts) {
  ErrorSink error;
  if (libevtx_record_get_identifier(record, &facts.identifier, &error) != 1 ||
      libevtx_record_get_written_time(record, &facts.writtenFiletime, &error) != 1 ||
      libevtx_record_get_event_identifier(record, &facts.eventId, &error) != 1) {
    return false;
  }
  facts.computerName = RecordText(
      [&](std::size_t* size, libevtx_error_t** e) {
        return libevtx_record_get_utf8_computer_name_size(record, size, e);
      },
      [&](std::uint8_t* text, std::size_t size, libevtx_error_t** e) {
        return libevtx_record_get_utf8_computer_name(record, text, size, e);
      });
  facts.sourceName = RecordText(
      [&](std::size_t* size, libevtx_error_t** e) {
        return libevtx_record_get_utf8_source_name_size(record, size, e);
      },
      [&](std::uint8_t* text, std::size_t size, libevtx_error_t** e) {
        return libevtx_record_get_utf8_source_name(record, text, size, e);
      });
  int count = 0;
  if (libevtx_record_get_number_of_strings(record, &count, &error) != 1 || count < 0) count = 0;
  facts.strings.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    facts.strings.push_back(RecordText(
        [&](std::size_t* size, libevtx_error_t** e) {
          return libevtx_record_get_utf8_string_size(record, i, size, e);
        },
        [&](std::uint8_t* text, std::size_t size, libevtx_error_t** e) {
          return libevtx_record_get_utf8_string(record, i, text, size, e);
        }));
  }
  // The XML text names the strings and gives the keywords and the event's own record identifier.
  {
    const std::string xml = RecordText(
        [&](std::size_t* size, libevtx_error_t** e) {
          return libevtx_record_get_utf8_xml_string_size(record, size, e);
        },
        [&](std::uint8_t* text, std::size_t size, libevtx_error_t** e) {
          return libevtx_record_get_utf8_xml_string(record, text, size, e);
        });
    evtx::EvtxXmlFacts xmlFacts = evtx::ReadXmlFacts(xml);
    facts.keywords = xmlFacts.keywords;
    if (xmlFacts.eventRecordId) facts.identifier = *xmlFacts.eventRecordId;
    if (xmlFacts.timeCreated) facts.writtenFiletime = *xmlFacts.timeCreated;
    facts.names = std::move(xmlFacts.names);
  }
  return true;
}

// The records are converted as the log is opened, so that a record libevtx cannot read ends the
// log there, and the file is closed before the pass reads them.
class EvtxLog final : public LogSource {
 public:
  std::size_t RecordCount() const override { return offsets_.size(); }
  const std::vector<std::uint8_t>& Record(std::size_t index) override {
    const std::size_t end = index + 1 < offsets_.size() ? offsets_[index + 1] : bytes_.size();
    current_.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(offsets_[index]),
                    bytes_.begin() + static_cast<std::ptrdiff_t>(end));
    return current_;
  }

  void Add(const std::vector<std::uint8_t>& record) {
    offsets_.push_back(bytes_.size());
    bytes_.insert(bytes_.end(), record.begin(), record.end());
  }
  void Compact() {
    bytes_.shrink_to_fit();
    offsets_.shrink_to_fit();
  }

 private:
  std::vector<std::uint8_t> bytes_;   // the converted records, one after the other
  std::vector<std::size_t> offsets_;  // where each begins
  std::vector<std::uint8_t> current_;
};

}  // namespace

std::unique_ptr<LogSource> OpenEvtxLog(const std::string& path) {
  ErrorSink error;
  libevtx_file_t* raw = nullptr;
  if (libevtx_file_initialize(&raw, &error) != 1) return nullptr;
  FilePtr file(raw);
  if (libevtx_file_open(file.get(), path.c_str(), libevtx_get_access_flags_read(), &error) != 1) {
    // The deleter must not close a file that never opened.
    libevtx_file_free(&raw, nullptr);
    static_cast<void>(file.release());
    return nullptr;
  }
  int count = 0;
  if (libevtx_file_get_number_of_records(file.get(), &count, &error) != 1) return nullptr;
  auto log = std::make_unique<EvtxLog>();
  for (int i = 0; i < count; ++i) {
    libevtx_record_t* rawRecord = nullptr;
    if (libevtx_file_get_record_by_index(file.get(), i, &rawRecord, &error) != 1) break;
    const RecordPtr record(rawRecord);
    evtx::EvtxRecordFacts facts;
    if (!ReadFacts(record.get(), facts)) break;
    log->Add(BuildAnsiRecord(evtx::PresentedFields(facts)));
  }
  log->Compact();
  return log;
}

}  // namespace qs::platform
