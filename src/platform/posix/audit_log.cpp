// Opening a Linux audit log: its files are read and fed to the portable parser, whose
// modifications become the records of an AuditLogSource (platform/formats/audit_log_source.h).
//
// auditd rotates its log by renaming audit.log to audit.log.1, audit.log.1 to audit.log.2, and so
// on; the rotated files are read from the highest number down, then the current file, so that the
// records run over the whole history still on disk, oldest first.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/formats/audit_log_source.h"
#include "platform/formats/audit_parser.h"
#include "platform/posix/account_database.h"
#include "platform/posix/audited_folders.h"
#include "platform/posix/file_identity_index.h"
#include "platform/posix/file_stamp.h"
#include "platform/posix/log_files.h"
#include "platform/posix/log_source.h"

namespace qs::platform {

namespace {

// The whole of file `file` through the parser.
bool FeedFile(const OpenFiles& files, std::uint32_t file, audit::AuditParser& parser) {
  const bool ok = files.Feed(file, [&](std::string_view text) { parser.Feed(text); });
  parser.Finish();  // an event does not continue into the next file
  return ok;
}

// The log's files read through the parser into an AuditLogSource, the current file kept open
// and followed: auditd only appends to it until it rotates the log. The events still open at its
// end are shown for the time being and read again with what follows them (AuditLogSource::
// BeginTail), so that the records are always those of the whole log read at once.
//
// Names that the log cannot be trusted for (a descriptor's link, a name relative to a folder the
// process held open) are resolved below the audited folders by the identities the log gives
// (FileIdentityIndex), which learns from every modification read; each Open and Update begins a
// pass of the index, in which one walk of the folders may find what it misses.
class AuditLogFiles final : public KeptLog {
 public:
  AuditLogFiles(std::string path, std::vector<std::string> auditedFolders, std::size_t keptBytes)
      : path_(std::move(path)),
        files_(std::make_shared<OpenFiles>()),
        names_(audit::AccountDatabaseLookup()),
        index_(std::move(auditedFolders)),
        source_(
            HostName(), names_,
            [files = files_](std::uint32_t file, std::uint64_t offset, std::size_t length,
                             std::string& out) { return files->Read(file, offset, length, out); },
            keptBytes, [this](audit::FileModification& m) { return index_.Resolve(m); }),
        parser_(names_, [this](audit::FileModification&& m, const audit::EventSpan& span) {
          index_.Learn(m);
          source_.Add(file_, m, span);
          // Once the source keeps no more, the names of the users are not needed to find the
          // modifications: they are looked up when a record is built from the log.
          if (!source_.KeepsMore()) parser_.SkipNames();
        }) {
    if (!source_.KeepsMore()) parser_.SkipNames();
  }

  bool Open() {
    index_.NewPass();
    for (const auto& rotated : RotatedFiles(path_)) {
      const int opened = files_->Open(rotated);
      if (opened < 0) continue;
      file_ = static_cast<std::uint32_t>(opened);
      FeedFile(*files_, file_, parser_);
    }
    const int current = files_->Open(path_);
    if (current < 0) return false;
    file_ = static_cast<std::uint32_t>(current);
    if (!current_.Start(files_, file_, path_)) return false;
    ReadOn();
    return true;
  }

  std::size_t RecordCount() const override { return source_.RecordCount(); }
  const std::vector<std::uint8_t>& Record(std::size_t index) override {
    return source_.Record(index);
  }
  std::uint32_t RecordNumber(std::size_t index) override { return source_.RecordNumber(index); }
  bool NumbersItsRecords() const override { return true; }
  std::optional<std::size_t> IndexOfNumber(std::uint32_t number) override {
    return source_.IndexOfNumber(number);
  }

  bool Update() override {
    index_.NewPass();
    if (!current_.OnlyAppended()) return false;
    ReadOn();
    return true;
  }

 private:
  // The current file from where the last reading ended to its end; then its open events are
  // shown.
  void ReadOn() {
    source_.DropTail();
    current_.ReadOn([this](std::string_view text) { parser_.Feed(text); });
    source_.BeginTail();
    parser_.Peek([this](audit::FileModification&& m, const audit::EventSpan& span) {
      index_.Learn(m);
      source_.Add(file_, m, span);
    });
    source_.Compact();
  }

  std::string path_;
  std::shared_ptr<OpenFiles> files_;
  audit::UserNameLookup names_;  // one account cache for the parser and the source
  FileIdentityIndex index_;
  AuditLogSource source_;
  audit::AuditParser parser_;
  std::uint32_t file_ = 0;  // the file being read; the current one once the rotated are read
  AppendedFile current_;
};

}  // namespace

std::unique_ptr<KeptLog> KeepAuditLog(const std::string& path) {
  return KeepAuditLog(path, AuditedFolders(), AuditLogSource::kKeptBytes);
}

std::unique_ptr<KeptLog> KeepAuditLog(const std::string& path, std::size_t keptBytes) {
  return KeepAuditLog(path, AuditedFolders(), keptBytes);
}

std::unique_ptr<KeptLog> KeepAuditLog(const std::string& path,
                                      std::vector<std::string> auditedFolders,
                                      std::size_t keptBytes) {
  if (access(path.c_str(), R_OK) != 0) return nullptr;
  auto log = std::make_unique<AuditLogFiles>(path, std::move(auditedFolders), keptBytes);
  if (!log->Open()) return nullptr;
  return log;
}

std::unique_ptr<LogSource> OpenAuditLog(const std::string& path) { return KeepAuditLog(path); }

}  // namespace qs::platform
