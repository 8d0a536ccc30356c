// One audit event: the records that share a stamp, each read by the handler of its type, and
// the file modification that the whole event shows, if any.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/formats/audit_parser.h"

namespace qs::platform::audit {

inline constexpr std::size_t kMaxItemsPerEvent = 16;

enum class NameType { Normal, Parent, Create, Delete, Unknown, Other };

struct AuditEvent {
  struct Item {
    std::optional<std::string> name;  // nullopt: (null) or malformed
    NameType type = NameType::Normal;
    std::optional<std::uint32_t> mode;
    std::optional<std::uint64_t> inode;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> device;  // major, minor
  };

  std::string key;
  std::uint64_t keyHash = 0;  // of its node and stamp (the parser's index of open events)
  std::string node;
  std::uint32_t seconds = 0;
  std::uint32_t serial = 0;
  bool timeValid = true;
  // Its SYSCALL record has shown that it gives nothing (a failed call, a read-only open, a call
  // that changes no file): the records that follow need not be read.
  bool settled = false;
  // Whether the users' names are read: a reader that only finds where the modifications are, and
  // builds their records from the log later, has no use for them.
  bool namesWanted = true;
  EventSpan span;  // where its records lie in the text fed to the parser

  bool haveSyscall = false;
  bool syscallValid = true;  // every number that is used parsed within its range
  std::uint32_t arch = 0;
  std::uint64_t syscall = 0;
  bool success = false;
  std::uint64_t args[3] = {0, 0, 0};
  std::uint32_t pid = 0;
  std::optional<std::uint32_t> uid, euid, fsuid, auid;
  std::uint32_t session = kUnsetId;
  std::optional<std::string> uidName, euidName, fsuidName, auidName;

  std::optional<std::string> cwd;
  std::optional<std::uint64_t> openat2Flags;
  std::vector<Item> items;
  bool itemsOverflow = false;  // more PATH records came than kMaxItemsPerEvent
};

// Makes the event as a new one, keeping the storage of its key and items.
void Recycle(AuditEvent& event);

// Reads the body of one record into the event.
using RecordHandler = void (*)(AuditEvent& event, std::string_view body);

// The handler of a record type ("SYSCALL", "CWD", "PATH", "OPENAT2"); nullptr for the types that
// tell nothing about a file modification.
RecordHandler HandlerOf(std::string_view type);

// The modification that a complete event shows, or nullopt (what counts: audit_parser.h). Ids
// without an ENRICHED name are looked up through `lookup`, when given; an event read without its
// names gives none (empty users).
std::optional<FileModification> AssembleModification(const AuditEvent& event,
                                                     const UserNameLookup& lookup);

}  // namespace qs::platform::audit
