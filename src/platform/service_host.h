// What a program that runs as a system service needs of the operating system: the signals that
// stop it and make it reread its settings, a wait that such a signal ends at once, a lock that
// keeps a second instance over the same settings file from starting, a file replaced whole, and
// the few facts of its environment it reports.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qs::platform {

// The signals a service reacts to, as they arrived since the last look.
struct ServiceSignals {
  bool stop = false;    // SIGTERM or SIGINT
  bool reload = false;  // SIGHUP
};

// Catches the stop and reload signals of the process for as long as it lives; only one may exist
// at a time. The handlers only note the signal: everything else happens when the program looks.
class SignalWatch {
 public:
  virtual ~SignalWatch() = default;
  // The signals that arrived since the last call, without waiting. Cheap enough to be called
  // after every record of a pass: it reads two flags and makes no system call.
  virtual ServiceSignals Take() = 0;
  // Waits until a signal arrives or `timeout` has passed, then takes the signals as Take does.
  virtual ServiceSignals Wait(std::chrono::milliseconds timeout) = 0;
};

// Installs the handlers (SIGTERM, SIGINT, SIGHUP). nullptr, with `error` set, when that fails.
std::unique_ptr<SignalWatch> WatchServiceSignals(std::string& error);

// Held for the life of the process: no other process can hold the lock of the same settings file
// while this one lives. The lock goes with the process, however it ends.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
  virtual const std::string& path() const = 0;
};

// The lock of the settings file at `settingsPath` (the file need not exist): an flock on a file
// in the lock folder named after the settings file's full path, so that every name of the same
// settings file meets the same lock. The lock folder is $RUNTIME_DIRECTORY when set (systemd's
// RuntimeDirectory=), else /run/quillstamp for root, else $XDG_RUNTIME_DIR, else ~/.cache/
// quillstamp when the account's home is its own (nobody else can make that folder first), else
// /tmp/quillstamp-<uid>; the last two made 0700 for the account. A shared folder such as /tmp
// itself would let any user take the name first. The folder must be in trusted hands (see
// FolderInTrustedHands), and the account's own folder moreover owned by the account and closed to
// everyone else. The lock file
// is removed when the lock goes. nullptr when the lock is held by another process or cannot be
// taken; `error` says which, and `lockPath` names the lock file (or the folder refused).
std::unique_ptr<InstanceLock> LockSettingsFile(const std::string& settingsPath,
                                               std::string& lockPath, std::string& error);

// Replaces the file at `path` by `bytes` whole: a temporary file in the same folder, flushed, then
// renamed over it, so that a reader sees the old content or the new, never a part. The new file is
// readable by everyone (mode 0644 less the umask). False, with `error` set and nothing changed,
// when it cannot be done.
bool ReplaceFileWhole(const std::string& path, std::string_view bytes, std::string& error);

// The id of the group named `name`; nullopt, with `why` set, when there is no such group.
std::optional<unsigned> GroupIdByName(const std::string& name, std::string& why);

// The group of the process's own account (its effective group).
unsigned AccountGroupId();

// Replaces the file at `path` by `bytes` whole, as ReplaceFileWhole does, for a file that only
// its owner and the members of `group` may read (mode 0640). The write is refused unless the
// folder is in trusted hands (see FolderInTrustedHands); the folder is opened once, and the
// temporary file is made and renamed relative to that descriptor, so that the folder checked is
// the folder written. An account that may not give the file `group` (one that is not root and not
// a member) gives it its own group, and `note` holds the system's reason; else `note` is empty.
// False, with `error` set and nothing changed, when it cannot be done.
bool ReplaceGroupReadableFile(const std::string& path, std::string_view bytes, unsigned group,
                              std::string& note, std::string& error);

// Gives the folder at `folder`, which the process's account owns, the group `group`, so that its
// members can reach the files in it. False, with `error` set, when it cannot be done.
bool GiveFolderToGroup(const std::string& folder, unsigned group, std::string& error);

// Whether the folder at `folder` is in trusted hands: every folder from "/" down to it is owned by
// root or by the process's account and writable by no one else, and every link on the way is
// owned by one of them, as sshd's StrictModes wants of the files it trusts. A folder owned by root
// with the sticky bit (/tmp) may be passed through, since no one else can rename what root or the
// account keep in it, but is refused as the last folder. False, with `why` set, when not.
bool FolderInTrustedHands(const std::string& folder, std::string& why);

// Why the file at `path` cannot be read as a log: the system's reason for a failed open, "is a
// folder", or "is not a log this program can read" when it opens.
std::string WhyFileCannotBeRead(const std::string& path);

// Whether the file at `path` can be read; when it cannot, `reason` gives the system's reason.
// A missing file gives false with `missing` set.
bool FileReadable(const std::string& path, bool& missing, std::string& reason);

// The full path of `path`, the links of its folder resolved; `path` itself when that fails.
std::string AbsolutePath(const std::string& path);

// The local time of now, "YYYY-MM-DD HH:MM:SS".
std::string LocalTimestamp();

// The value of an environment variable, nullopt when it is not set.
std::optional<std::string> Environment(const char* name);

}  // namespace qs::platform
