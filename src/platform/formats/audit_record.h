// A file modification found in the audit log, and the event-560 record that stands for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"

namespace qs::platform::audit {

inline constexpr std::uint32_t kUnsetId = 4294967295u;

// One file modification.
struct FileModification {
  std::uint32_t seconds = 0;  // the event's time, seconds since 1970 UTC
  std::uint32_t serial = 0;
  std::uint32_t pid = 0;
  std::uint32_t session = kUnsetId;
  std::string node;         // the node= value, empty without one
  std::string path;         // absolute
  std::string primaryUser;  // the account that acted on the file
  std::string clientUser;   // the person logged in when that differs, else "-"
  bool rename = false;      // the call was a rename
  std::string renamedFrom;  // a rename: the old name (absolute), when the log gives it
  // The file the call wrote (for a rename, the file moved onto the name), when the log's item
  // gives its inode and device.
  std::optional<FileIdentity> identity;
  bool operator==(const FileModification&) const = default;
};

// The computer name that a record of this modification carries: its node, else the host name.
// Characters that a record cannot hold are removed, and a name ending in "File" gets a trailing
// dot, so that the record's first "File" followed by a zero byte is always its object type.
std::string RecordComputerName(std::string_view node, std::string_view hostName);

// Event 560 in the Windows 2000 layout, A form, fifteen insertion strings: Object Server
// "Security", Object Type "File", Object Name (the path), New Handle ID, Operation ID (two
// strings), Process ID, Primary User Name, Primary Domain, Primary Logon ID, Client User Name,
// Client Domain, Client Logon ID, Accesses (WriteData, AppendData, WriteEA, WriteAttributes) and
// Privileges. The data area carries the file's identity, when known (platform/file_identity.h).
std::vector<std::uint8_t> BuildModificationRecord(const FileModification& modification,
                                                  std::string_view computerName);

}  // namespace qs::platform::audit
