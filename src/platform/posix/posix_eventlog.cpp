// The event-log service over a log file: the source "Security" is the file given at construction,
// read as an NT .evt log, a Vista-and-later .evtx log, or else as a Linux audit log; or, named
// "samba-audit:PATH", the log of Samba's full_audit module.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/ascii.h"
#include "platform/eventlog_record.h"
#include "platform/formats/audit_log_source.h"
#include "platform/formats/evtx_record.h"
#include "platform/formats/samba_audit_parser.h"
#include "platform/posix/audited_folders.h"
#include "platform/posix/log_source.h"
#include "platform/posix/posix_eventlog.h"

namespace qs::platform {

namespace {

enum class LogKind { Evt, Evtx, Other };

// What the file's first bytes say it is: an NT event log begins with its header's size 0x30, then
// "LfLe"; a Vista-and-later log with "ElfFile". Either is an event log, damaged when its reader
// refuses it, and never an audit log.
LogKind KindOfLog(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return LogKind::Other;
  std::uint8_t head[8];
  const bool whole = std::fread(head, 1, sizeof head, file) == sizeof head;
  std::fclose(file);
  if (!whole) return LogKind::Other;
  if (BeginsAsEvtHeader(head)) return LogKind::Evt;
  if (evtx::BeginsAsEvtxHeader(head, sizeof head)) return LogKind::Evtx;
  return LogKind::Other;
}

// Whether the name says the file is a Windows event log (.evt or .evtx, in any case). Such a file
// is read as an event log or not at all: taken for an audit log, an empty or unrecognisable one
// would pass as a log without events, and its ".1", ".2" neighbours would be read as the rotated
// files of an audit log.
bool NamedAsEventLog(std::string_view path) {
  const std::string_view name = path.substr(path.rfind('/') + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot);
  return EqualsNoCase(extension, ".evt") || EqualsNoCase(extension, ".evtx");
}

class PosixEventLogService final : public EventLogService {
 public:
  PosixEventLogService(std::string path, std::vector<std::string> auditedFolders)
      : path_(std::move(path)), auditedFolders_(std::move(auditedFolders)) {}

  EventLogHandle OpenLog(std::string_view serverName, std::string_view sourceName) override {
    // Only the local computer's Security log is served (source names are not case-sensitive).
    if (!serverName.empty() || !EqualsNoCase(sourceName, "Security")) return 0;
    // A log is a regular file; a folder or a device is no log, whatever a reader makes of it.
    struct stat st {};
    if (!SambaAuditPath() && (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) return 0;
    if (const auto samba = SambaAuditPath();
        samba && *samba != samba_audit::kJournal &&
        (::stat(samba->c_str(), &st) != 0 || !S_ISREG(st.st_mode)))
      return 0;
    // The log read at an earlier open, brought up to date, when no open handle reads it (a
    // handle reads the log as it was when it was opened).
    std::shared_ptr<LogSource> source;
    if (kept_ && kept_.use_count() == 1 && kept_->Update()) {
      source = kept_;
    } else {
      kept_.reset();
      source = OpenAnew();
    }
    if (!source) return 0;
    const EventLogHandle handle = nextHandle_++;
    if (kept_ && source == kept_) keptOf_.emplace(handle, kept_);
    logs_.emplace(handle, LogSourceReads(std::move(source)));
    return handle;
  }

  // Asked when the pass ends too: a log cut short while its records were read says so then.
  bool ChangedWhileOpened(EventLogHandle log) override {
    const auto it = keptOf_.find(log);
    return it != keptOf_.end() && it->second->ChangedWhileRead();
  }

  bool OldestRecord(EventLogHandle log, std::uint32_t& number) override {
    const auto it = logs_.find(log);
    if (it == logs_.end()) return false;
    number = it->second.OldestNumber();
    return true;
  }

  bool NumberOfRecords(EventLogHandle log, std::uint32_t& count) override {
    const auto it = logs_.find(log);
    if (it == logs_.end()) return false;
    count = it->second.Count();
    return true;
  }

  bool ReadRecord(EventLogHandle log, std::uint32_t readFlags, std::uint32_t recordOffset,
                  void* buffer, std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                  std::uint32_t& bytesNeeded) override {
    bytesRead = 0;
    bytesNeeded = 0;
    const auto it = logs_.find(log);
    if (it == logs_.end()) return false;
    return it->second.Read(readFlags, recordOffset, buffer, bytesToRead, bytesRead, bytesNeeded);
  }

  bool CloseLog(EventLogHandle log) override {
    keptOf_.erase(log);
    return logs_.erase(log) != 0;
  }

 private:
  // A damaged event log, or a file named as one that does not begin as one, fails the open, so
  // that the pass says so, rather than passing for an audit log without events. An .evt and an
  // audit log are kept for the next open.
  std::shared_ptr<LogSource> OpenAnew() {
    if (const auto samba = SambaAuditPath()) {
      kept_ = *samba == samba_audit::kJournal ? KeepSambaAuditJournal() : KeepSambaAuditLog(*samba);
      return kept_;
    }
    switch (KindOfLog(path_)) {
      case LogKind::Evt:
        kept_ = KeepEvtLog(path_);
        return kept_;
      case LogKind::Evtx:
        return OpenEvtxLog(path_);
      case LogKind::Other:
        if (NamedAsEventLog(path_)) return nullptr;
        kept_ = KeepAuditLog(path_, auditedFolders_.empty() ? AuditedFolders() : auditedFolders_,
                             AuditLogSource::kKeptBytes);
        return kept_;
    }
    return nullptr;
  }

  // The file of a full_audit log named "samba-audit:PATH"; nullopt for any other log.
  std::optional<std::string> SambaAuditPath() const {
    if (!path_.starts_with(samba_audit::kLogScheme)) return std::nullopt;
    return path_.substr(samba_audit::kLogScheme.size());
  }

  std::string path_;
  std::vector<std::string> auditedFolders_;
  std::shared_ptr<KeptLog> kept_;
  std::map<EventLogHandle, LogSourceReads> logs_;
  std::map<EventLogHandle, std::shared_ptr<KeptLog>> keptOf_;  // the handles that read kept_
  EventLogHandle nextHandle_ = 1;
};

}  // namespace

std::unique_ptr<EventLogService> MakePosixEventLogService(std::string securityLogPath,
                                                          std::vector<std::string> auditedFolders) {
  return std::make_unique<PosixEventLogService>(std::move(securityLogPath),
                                                std::move(auditedFolders));
}

}  // namespace qs::platform
