// The lines of Samba's full_audit module in the systemd journal ("samba-audit:journal"): the
// entries that smbd logged through syslog under the tag "smbd_audit".
//
// The entries that may show a change (a create_file or a renameat) are copied, as syslog lines
// with their UTC time, into an unnamed file of the temporary folder, and that file is read as a
// full_audit log file is (samba_audit_log.cpp): the records are built from it again when the scan
// asks for them, so the memory stays bounded however long the journal is. Each pass copies the
// entries that came since the last.
#include <fcntl.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/log_files.h"
#include "platform/posix/log_source.h"

namespace qs::platform {

namespace {

constexpr const char* kIdentifierMatch = "SYSLOG_IDENTIFIER=smbd_audit";

// An unnamed file for the copied lines: gone with its last descriptor.
int UnnamedFile() {
  for (const char* folder : {"/var/tmp", "/tmp"}) {
    const int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
  }
  return -1;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

class SambaAuditJournal final : public KeptLog {
 public:
  ~SambaAuditJournal() override {
    if (journal_ != nullptr) sd_journal_close(journal_);
    if (copy_ >= 0) ::close(copy_);
  }

  bool Open() {
    copy_ = UnnamedFile();
    if (copy_ < 0) return false;
    if (sd_journal_open(&journal_, SD_JOURNAL_LOCAL_ONLY) < 0) return false;
    if (sd_journal_add_match(journal_, kIdentifierMatch, 0) < 0) return false;
    if (!Pull()) return false;
    // Read through the descriptor's link: the copy has no name of its own.
    lines_ = KeepSambaAuditLog("/proc/self/fd/" + std::to_string(copy_));
    return lines_ != nullptr;
  }

  std::size_t RecordCount() const override { return lines_->RecordCount(); }
  const std::vector<std::uint8_t>& Record(std::size_t index) override {
    return lines_->Record(index);
  }
  std::uint32_t RecordNumber(std::size_t index) override { return lines_->RecordNumber(index); }
  bool NumbersItsRecords() const override { return true; }
  std::optional<std::size_t> IndexOfNumber(std::uint32_t number) override {
    return lines_->IndexOfNumber(number);
  }
  bool Update() override { return Pull() && lines_->Update(); }

 private:
  // The entries after the last one copied, appended to the copy.
  bool Pull() {
    std::string text;
    int step;
    while ((step = sd_journal_next(journal_)) > 0) {
      const void* data = nullptr;
      std::size_t length = 0;
      if (sd_journal_get_data(journal_, "MESSAGE", &data, &length) < 0) continue;
      std::string_view message(static_cast<const char*>(data), length);
      message.remove_prefix(std::string_view("MESSAGE=").size());
      while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.remove_suffix(1);
      if (message.find("|create_file|ok|") == std::string_view::npos &&
          message.find("|renameat|ok|") == std::string_view::npos)
        continue;
      if (message.find('\n') != std::string_view::npos) continue;  // it would part the copy
      std::uint64_t usec = 0;
      if (sd_journal_get_realtime_usec(journal_, &usec) < 0) continue;
      const std::time_t seconds = static_cast<std::time_t>(usec / 1000000);
      std::tm utc{};
      if (gmtime_r(&seconds, &utc) == nullptr) continue;
      char stamp[96];
      std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%06uZ", utc.tm_year + 1900,
                    utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                    static_cast<unsigned>(usec % 1000000));
      text.append(stamp).append(" journal smbd_audit: ").append(message).push_back('\n');
      if (text.size() >= (1u << 20)) {
        if (!WriteAll(copy_, text)) return false;
        text.clear();
      }
    }
    return step >= 0 && WriteAll(copy_, text);
  }

  sd_journal* journal_ = nullptr;
  int copy_ = -1;
  std::unique_ptr<KeptLog> lines_;
};

}  // namespace

std::unique_ptr<KeptLog> KeepSambaAuditJournal() {
  auto log = std::make_unique<SambaAuditJournal>();
  if (!log->Open()) return nullptr;
  return log;
}

}  // namespace qs::platform
