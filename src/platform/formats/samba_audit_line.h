// One line of the log that Samba's full_audit VFS module writes, read for what it says about a
// file: the operation, its user and connection, the file's path, and the line's time.
//
// full_audit writes each operation as one message, its fields separated by "|":
//
//   PREFIX|OPERATION|RESULT|ARGUMENTS...
//
// PREFIX is what `full_audit:prefix` makes of its macros (the administrator's choice, itself
// fields separated by "|"); RESULT is "ok", or "fail (reason)". Two operations show that a
// client changed a file:
//
//   ...|create_file|ok|0x12019f|file|overwrite_if|/srv/share/a.txt
//       the access mask the client asked for, "file" or "dir", the create disposition, the path;
//   ...|renameat|ok|/srv/share/a.txt|/srv/share/c.txt
//       the old path and the new one.
//
// The message reaches the log in one of three forms:
//   - Samba's own log file, a header line that holds the local time, then the message indented:
//       [2026/12/11 15:25:51.986029,  1] ../../source3/modules/vfs_full_audit.c:643(do_log)
//         alice|127.0.0.1|4242|share|create_file|ok|0x12019f|file|overwrite_if|/srv/share/a.txt
//     (with "debug prefix timestamp = yes" the message follows the header's "] " on its line);
//   - a syslog file, one line each, with an RFC 3339 time (rsyslog's default) or the traditional
//     "Dec 11 15:25:51" (local time, no year):
//       2026-12-11T15:25:51.986029+01:00 files smbd_audit: alice|127.0.0.1|4242|share|...
//   - the journal, whose entries the platform writes as such RFC 3339 lines.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace qs::platform::samba_audit {

// A time as a line writes it. `utcOffset` (seconds east of UTC) is known only where the line
// gives it (RFC 3339); `year` is 0 where the line gives none (a traditional syslog time).
struct CivilTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  std::optional<int> utcOffset;
};

// Seconds since 1970 UTC of a local time without an offset: the platform's time zone (tests pass
// their own). For a time without a year the resolver picks the year (the latest that does not lie
// in the future). nullopt when the time cannot be told.
using LocalTimeResolver = std::function<std::optional<std::int64_t>(const CivilTime&)>;

// Seconds since 1970 UTC of a time with its year and offset (a time without an offset is taken
// as UTC); nullopt for a date that does not exist.
std::optional<std::int64_t> UtcSeconds(const CivilTime& time);

// The time of a Samba log header ("[2026/12/11 15:25:51.986029,  1] ..."); nullopt when the line
// is none. `rest` is what follows the header's "] ".
std::optional<CivilTime> ParseDebugHeader(std::string_view line, std::string_view& rest);

// The time of a syslog line and its message (the text after the tag's ": "); nullopt when the
// line is none.
std::optional<CivilTime> ParseSyslogLine(std::string_view line, std::string_view& message);

// What one message says a client did to a file, when it did something that may change one.
struct Operation {
  bool rename = false;
  std::string_view user;    // the prefix's first field, as Samba wrote it ("EXAMPLE\alice")
  std::string_view prefix;  // the whole prefix: the same text for the same connection
  std::uint32_t pid = 0;    // the prefix's first number after the user (%d), else 0
  std::string_view path;    // the file written, or a rename's new name
  std::string_view renamedFrom;
};

// The operation of a message that changes a file: a successful create_file of a file (not a
// folder, not a named stream such as "a.txt:Comments") that asks for writing (FILE_WRITE_DATA,
// FILE_APPEND_DATA, GENERIC_WRITE or GENERIC_ALL in its access mask) or truncates it (the
// dispositions supersede, overwrite and overwrite_if); or a successful renameat of a file to
// another name. Everything else (reads, opens for deleting or renaming, failures, unlinkat, other
// operations) is nullopt, as is a path that is not absolute or holds a control character, and a
// rename whose two paths cannot be told apart (a name holding "|/").
std::optional<Operation> ParseMessage(std::string_view message);

}  // namespace qs::platform::samba_audit
