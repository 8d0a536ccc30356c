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

// How far the name that the log gives can be trusted to lead to the file.
enum class NameBasis : std::uint8_t {
  // `path` is the file's absolute path as the call found it (an absolute name, or one relative to
  // the CWD, which the log gives).
  Logged,
  // The call named the file through a descriptor's link (/proc/self/fd/N, as a file server
  // reopens a file it holds for writing): the name leads nowhere once the process has gone, and
  // only `identity` tells the file. `path` is that link's name.
  Descriptor,
  // The name is relative to a directory descriptor: the kernel logs it with the PARENT item's
  // name taken from the CWD, which need not be that directory. Only `folderIdentity`, the
  // directory's own inode and device, tells where the file lies; the last component of `path`
  // is its name in that folder, and `path` is the log's guess (the PARENT item's name and that
  // name), or the name alone when the PARENT item's name is not absolute.
  Folder,
};

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
  // A rename: the old name, when the log gives it; like `path`, absolute but for a name relative
  // to a directory descriptor whose PARENT item has no absolute name.
  std::string renamedFrom;
  // The file the call wrote (for a rename, the file moved onto the name), when the log's item
  // gives its inode and device.
  std::optional<FileIdentity> identity;
  NameBasis basis = NameBasis::Logged;
  // The folder that holds the file (the PARENT item's inode and device), when the log gives it.
  std::optional<FileIdentity> folderIdentity;
  // A rename: the file moved (the first DELETE item's inode and device) and the folder it left
  // (the first PARENT item's), when the log gives them.
  std::optional<FileIdentity> renamedFromIdentity;
  std::optional<FileIdentity> renamedFromFolder;
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
