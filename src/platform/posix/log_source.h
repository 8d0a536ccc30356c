// Log files opened for reading on this platform, each presented as a LogSource.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/formats/log_source.h"

namespace qs::platform {

// An NT event-log (.evt) file; nullptr when the file is missing, unreadable or not such a log.
std::unique_ptr<LogSource> OpenEvtLog(const std::string& path);

// A Windows Vista-and-later event log (.evtx), read with libevtx; nullptr when libevtx refuses the
// file. The records are read up to the first one that libevtx cannot read.
std::unique_ptr<LogSource> OpenEvtxLog(const std::string& path);

// A Linux audit log (auditd's text format); nullptr when the file is missing or unreadable.
std::unique_ptr<LogSource> OpenAuditLog(const std::string& path);

// A log file kept open from pass to pass, and brought up to date with its file before each.
class KeptLog : public LogSource {
 public:
  // Brings the records up to date with the file: nothing to do for a file that has not changed;
  // only the bytes appended since for an audit log. False when the source cannot follow its file
  // (replaced, rotated, truncated or rewritten): the log must then be opened anew.
  virtual bool Update() = 0;
  // Whether the file changed while the open or the last Update read it (cut short, rewritten):
  // the records are then those of the part that was read, and the next Update reads the file
  // anew whatever its stamp says.
  virtual bool ChangedWhileRead() const { return false; }
};

// The same logs as OpenEvtLog and OpenAuditLog, kept.
std::unique_ptr<KeptLog> KeepEvtLog(const std::string& path);
// The same, `afterPiece` called after each read of the file by the walk or the records, with the
// end of the bytes read (tests change the file there, between two reads).
using EvtReadHook = std::function<void(std::size_t readUpTo)>;
std::unique_ptr<KeptLog> KeepEvtLog(const std::string& path, EvtReadHook afterPiece);
std::unique_ptr<KeptLog> KeepAuditLog(const std::string& path);
// An audit log whose modifications are kept whole in at most `keptBytes` of memory (KeepAuditLog
// takes a few megabytes); the records of the others are read from the log again when asked for.
std::unique_ptr<KeptLog> KeepAuditLog(const std::string& path, std::size_t keptBytes);
// An audit log whose names that cannot be trusted (a file server's /proc/self/fd/N, a name
// relative to a folder it holds open) are resolved below `auditedFolders` by the identities that
// the log gives. The other forms take the folders that the system's audit rules watch
// (AuditedFolders in platform/posix/audited_folders.h).
std::unique_ptr<KeptLog> KeepAuditLog(const std::string& path,
                                      std::vector<std::string> auditedFolders,
                                      std::size_t keptBytes);

// The log of Samba's full_audit module (platform/formats/samba_audit_parser.h): Samba's own log
// file or a syslog file at `path`, with its rotated files; nullptr when the file is missing or
// unreadable. Its modifications are kept whole in at most `keptBytes` of memory.
std::unique_ptr<KeptLog> KeepSambaAuditLog(const std::string& path);
std::unique_ptr<KeptLog> KeepSambaAuditLog(const std::string& path, std::size_t keptBytes);
// The same lines in the systemd journal: the entries of the tag "smbd_audit" (full_audit with
// "full_audit:syslog = true"); nullptr when the journal cannot be read.
std::unique_ptr<KeptLog> KeepSambaAuditJournal();

}  // namespace qs::platform
