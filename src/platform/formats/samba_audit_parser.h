// The log of Samba's full_audit module (its lines: samba_audit_line.h) read as a list of file
// modifications, in the form the audit log's reader gives them (audit_record.h), so that the
// same source presents them as records of event 560 (AuditLogSource).
//
// A modification is a create_file that writes and a renameat (what counts:
// samba_audit_line.h's ParseMessage). Its user is the prefix's first field as Samba wrote it, the
// client user "-"; it names no node (the record carries the host's name) and no identity: the log
// gives none, so the comment step holds the file to its one name. The connection is told by the
// whole prefix: the process id is the prefix's %d, the session a hash of the prefix, so that
// AuditLogSource takes a rename for a save only when the same connection wrote the file it moves
// (with %d in the prefix, the same smbd process; without it, the same user, address and share).
//
// Lines longer than kMaxLineLength are skipped whole, however long; so is a last line without
// its newline (one Samba is still writing), until its newline comes. A header line waits for its
// message line only; any other line between them drops it. Nothing that the text holds makes the
// memory grow beyond these bounds. Times past 2038 give nothing (a record's time is a signed
// 32-bit number), nor do times before 1970.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/formats/audit_parser.h"
#include "platform/formats/audit_record.h"
#include "platform/formats/samba_audit_line.h"

namespace qs::platform::samba_audit {

inline constexpr std::size_t kMaxLineLength = 64 * 1024;

// How the settings name such a log as the Security log: "samba-audit:" then the log file's path
// (Samba's own log file, or a file that the syslog daemon writes), or "samba-audit:journal" for
// the entries of the systemd journal that full_audit logged through syslog.
inline constexpr std::string_view kLogScheme = "samba-audit:";
inline constexpr std::string_view kJournal = "journal";

class SambaAuditParser {
 public:
  using SpanSink = std::function<void(audit::FileModification&&, const audit::EventSpan&)>;

  // `localTime` turns a time without an offset (a Samba header, a traditional syslog time) into
  // UTC; without one such times are taken as UTC.
  SambaAuditParser(LocalTimeResolver localTime, SpanSink sink);

  // Any amount of text; a line may be split across calls.
  void Feed(std::string_view text);
  // The end of the text (of one file): the unterminated rest is dropped, as is a header whose
  // message has not come; offsets start again at 0.
  void Finish();
  // The bytes of an unfinished line held until its newline comes; never above kMaxLineLength.
  std::size_t BufferedBytes() const { return partial_.size(); }

 private:
  // One whole line, without its newline, at [begin, end) of the text (end past the newline).
  void Line(std::string_view line, std::uint64_t begin, std::uint64_t end);
  void Message(std::string_view message, const CivilTime& time, std::uint64_t begin,
               std::uint64_t end);

  LocalTimeResolver localTime_;
  SpanSink sink_;
  std::string partial_;
  bool skippingLine_ = false;
  std::uint64_t fed_ = 0;
  // The header line that waits for its message.
  std::optional<CivilTime> header_;
  std::uint64_t headerBegin_ = 0;
  // The last local minute turned into UTC, and its start (see Message).
  bool minuteCached_ = false;
  CivilTime cachedMinute_;
  std::optional<std::int64_t> cachedStart_;
};

// The modification of the stretch of text that the parser gave as a modification's span.
std::optional<audit::FileModification> ParseSambaAuditSpan(std::string_view text,
                                                           const LocalTimeResolver& localTime);

// All modifications of a whole text (the last line counts only when it ends with a newline).
std::vector<audit::FileModification> ParseSambaAuditText(std::string_view text,
                                                         const LocalTimeResolver& localTime = {});

}  // namespace qs::platform::samba_audit
