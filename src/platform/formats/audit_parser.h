// The Linux audit log (auditd's text format, RAW or ENRICHED) read as a list of file
// modifications, and each modification written as an object-access record of event 560.
//
// What counts as a modification of a file:
// - a successful open, openat or creat whose flags ask for writing (O_WRONLY or O_RDWR) or
//   truncate (O_TRUNC); creat always writes. For openat2 the flags live in a structure that the
//   SYSCALL record does not show: they are taken from the OPENAT2 record that the kernel writes
//   beside it; without that record the call gives nothing;
// - a successful truncate. ftruncate names no file (the kernel writes no PATH item for it); the
//   open that gave the descriptor for writing is what shows the change;
// - a successful rename, renameat or renameat2: the file named by the CREATE item, the name that
//   now holds the new content (a program that saves through a temporary file and a rename).
// A file item whose mode shows something other than a regular file (a directory, a symbolic link,
// a device) gives nothing: such an object has no contents of its own to stamp.
// Failed calls (success=no), reads and every other call give nothing; so does a path holding a tab
// or a zero byte (the record's texts cannot hold them) and a time past 2038 (TimeWritten is read
// as a signed 32-bit number).
//
// Syscall numbers are read for x86_64, i386 and aarch64 (the arch= field); other architectures
// give nothing rather than a wrong reading of their numbers.
//
// The path is absolute: a relative name is joined to the event's CWD, or, for a call relative to a
// directory descriptor other than AT_FDCWD, to the PARENT item's name when that is absolute;
// otherwise the event gives nothing. "." components and repeated slashes are removed; ".." is
// kept, since only the file system knows where it leads through a symbolic link.
//
// The users: the primary user is the account that acted on the file, the file-system uid (fsuid;
// euid, then uid, when the record lacks it): a file server such as smbd switches only its
// effective ids to the client's and keeps uid 0. The client user is the login uid (auid) when it
// is set and differs from that account (a person working through sudo), else "-". Names come from
// the ENRICHED fields (FSUID="alice", AUID="bob") when the log has them, else from the account
// database; an id without a name becomes its number.
//
// Records of one event share the text in msg=audit(SECONDS.MILLIS:SERIAL) (and the node= prefix);
// the events of several serials may interleave. auditd writes no end-of-event record to its log,
// so an event is taken as complete when kMaxOpenEvents younger events have begun after it, or at
// the end of the text. Events come out in the order of their first line. Lines longer than
// kMaxLineLength and a last line without its newline (one that auditd is still writing) are
// skipped; nothing that the text holds makes the memory grow beyond these bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/formats/audit_record.h"

// The parser's parts, each in its own file beside this one: audit_fields (lines and fields),
// audit_syscalls (the calls that modify a file), audit_paths (absolute paths), audit_event (one
// handler per record type, and the modification an event shows) and audit_record (the record
// that stands for a modification).
namespace qs::platform::audit {

inline constexpr std::size_t kMaxOpenEvents = 256;
inline constexpr std::size_t kMaxLineLength = 64 * 1024;

struct AuditEvent;

// The name of a numeric user id in the account database, nullopt when it has none. The parser
// itself reads no account database: the platform passes its own (AccountDatabaseLookup in
// platform/posix/account_database.h), tests pass a table.
using UserNameLookup = std::function<std::optional<std::string>(std::uint32_t uid)>;

// Where the lines of one event lie in the text fed since the parser began or last finished: from
// the start of its first record of interest to the end (newline included) of its last one. Every
// line of that stretch with the event's stamp belongs to the event, so the stretch alone gives
// the event again (ParseEventSpan) and a reader need keep no more than these two numbers.
struct EventSpan {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// Reads audit text line by line and hands every modification to the sink.
class AuditParser {
 public:
  using SpanSink = std::function<void(FileModification&&, const EventSpan&)>;

  AuditParser(UserNameLookup lookup, std::function<void(FileModification&&)> sink);
  // The same, with where each modification's event lies (meaningful for text given to Feed).
  AuditParser(UserNameLookup lookup, SpanSink sink);
  ~AuditParser();
  AuditParser(const AuditParser&) = delete;
  AuditParser& operator=(const AuditParser&) = delete;

  // One line, without its newline.
  void Line(std::string_view line);
  // Any amount of text; a line may be split across calls. Over-long lines are dropped here.
  void Feed(std::string_view text);
  // The end of the text: the unterminated rest is dropped and every open event completes.
  void Finish();
  // What Finish would hand to the sink now, handed to `sink`, while the parser stays as it is:
  // the text that follows may still add to the open events.
  void Peek(const SpanSink& sink) const;
  // The bytes of an unfinished line held until its newline comes; never above kMaxLineLength.
  std::size_t BufferedBytes() const { return partial_.size(); }
  // From now on the modifications handed on name no users (both empty): for a reader that keeps
  // only where they lie and builds their records from the log again. Whether an event shows a
  // modification, and which, does not depend on the names.
  void SkipNames() { namesWanted_ = false; }

 private:
  void CompleteFront();
  // Takes the event out of bySerial_.
  void Unindex(const AuditEvent& event);

  UserNameLookup lookup_;
  SpanSink sink_;
  // Open events, oldest first; finished ones wait here until those before them are done.
  std::deque<std::unique_ptr<AuditEvent>> open_;
  // Completed events kept for reuse; never more than kMaxOpenEvents + 1.
  std::vector<std::unique_ptr<AuditEvent>> spare_;
  // The open events by the hash of their key (AuditEvent::keyHash), in open addressing: a slot
  // holds an event or nullptr. Never more than a quarter full.
  std::vector<AuditEvent*> bySerial_;
  std::string key_;  // the key of the line in hand, its storage kept from line to line
  // The event of the previous record: an event's records mostly follow one another.
  AuditEvent* last_ = nullptr;
  std::string partial_;
  bool skippingLine_ = false;
  bool namesWanted_ = true;
  std::uint64_t fed_ = 0;        // bytes fed since the start or the last Finish
  std::uint64_t lineBegin_ = 0;  // where the line given to Line begins in them
  std::uint64_t lineEnd_ = 0;    // and where it ends, its newline included
};

// The modification of the event whose span (EventSpan) is `text`; nullopt when it shows none.
// Gives exactly what the parser gave for that event.
std::optional<FileModification> ParseEventSpan(std::string_view text, const UserNameLookup& lookup);

// All modifications of a whole text (the last line counts only when it ends with a newline).
std::vector<FileModification> ParseAuditText(std::string_view text, const UserNameLookup& lookup);

}  // namespace qs::platform::audit
