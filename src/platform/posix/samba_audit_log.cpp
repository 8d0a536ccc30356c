// Opening the log of Samba's full_audit module: its files are read and fed to the portable parser
// (platform/formats/samba_audit_parser.h), whose modifications become the records of an
// AuditLogSource, as the kernel audit log's do.
//
// Samba rotates its own log file by renaming log.smbd to log.smbd.old once it reaches "max log
// size"; logrotate (and rsyslog's files) rename it to log.smbd.1, .2, ... The numbered files are
// read from the highest number down, then the .old file, then the current file, so that the
// records run over the whole history still on disk, oldest first. Compressed files are not read.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/formats/audit_log_source.h"
#include "platform/formats/samba_audit_parser.h"
#include "platform/posix/file_stamp.h"
#include "platform/posix/log_files.h"
#include "platform/posix/log_source.h"

namespace qs::platform {

namespace {

// A local time of this computer's time zone in seconds since 1970 UTC. A time without a year (a
// traditional syslog line) is of this year, or of the last one when that would put it more than
// a day ahead of now (a log read early in January).
std::optional<std::int64_t> LocalToUtc(const samba_audit::CivilTime& time) {
  auto convert = [&](int year) -> std::optional<std::int64_t> {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = time.month - 1;
    tm.tm_mday = time.day;
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    tm.tm_isdst = -1;  // whatever the zone's rules say for that day
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) || tm.tm_mday != time.day) return std::nullopt;
    return static_cast<std::int64_t>(t);
  };
  if (time.year != 0) return convert(time.year);
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  if (localtime_r(&now, &today) == nullptr) return std::nullopt;
  const auto thisYear = convert(today.tm_year + 1900);
  if (thisYear && *thisYear <= static_cast<std::int64_t>(now) + 86400) return thisYear;
  return convert(today.tm_year + 1900 - 1);
}

// The files of a full_audit log read through the parser into an AuditLogSource, the current
// file kept open and followed: Samba (or the syslog daemon) only appends to it until it rotates
// the log. The parser holds a line, or a header without its message, until the rest comes; what
// it has handed on is whole, so the records are always those of the whole log read at once.
class SambaAuditLogFiles final : public KeptLog {
 public:
  SambaAuditLogFiles(std::string path, std::size_t keptBytes)
      : path_(std::move(path)),
        files_(std::make_shared<OpenFiles>()),
        source_(
            HostName(), {},
            [files = files_](std::uint32_t file, std::uint64_t offset, std::size_t length,
                             std::string& out) { return files->Read(file, offset, length, out); },
            keptBytes, {},
            [](std::string_view text, const audit::UserNameLookup&) {
              return samba_audit::ParseSambaAuditSpan(text, LocalToUtc);
            }),
        parser_(LocalToUtc, [this](audit::FileModification&& m, const audit::EventSpan& span) {
          source_.Add(file_, m, span);
        }) {}

  bool Open() {
    std::vector<std::string> older = RotatedFiles(path_);
    older.push_back(path_ + ".old");
    for (const auto& rotated : older) {
      struct stat st {};
      if (::stat(rotated.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      const int opened = files_->Open(rotated);
      if (opened < 0) continue;
      file_ = static_cast<std::uint32_t>(opened);
      files_->Feed(file_, [this](std::string_view text) { parser_.Feed(text); });
      parser_.Finish();  // a line does not continue into the next file
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
    if (!current_.OnlyAppended()) return false;
    ReadOn();
    return true;
  }

 private:
  // The current file from where the last reading ended to its end.
  void ReadOn() {
    current_.ReadOn([this](std::string_view text) { parser_.Feed(text); });
    source_.Compact();
  }

  std::string path_;
  std::shared_ptr<OpenFiles> files_;
  AuditLogSource source_;
  samba_audit::SambaAuditParser parser_;
  std::uint32_t file_ = 0;  // the file being read; the current one once the older are read
  AppendedFile current_;
};

}  // namespace

std::unique_ptr<KeptLog> KeepSambaAuditLog(const std::string& path, std::size_t keptBytes) {
  if (access(path.c_str(), R_OK) != 0) return nullptr;
  auto log = std::make_unique<SambaAuditLogFiles>(path, keptBytes);
  if (!log->Open()) return nullptr;
  return log;
}

std::unique_ptr<KeptLog> KeepSambaAuditLog(const std::string& path) {
  return KeepSambaAuditLog(path, AuditLogSource::kKeptBytes);
}

}  // namespace qs::platform
