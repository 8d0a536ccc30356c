// The settings file on disk: reading it whole, and replacing it through a temporary file. What
// the content means and how a write changes it are the INI rules (platform/formats/ini_rules.h).
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

#include "platform/formats/ini_rules.h"

namespace qs::platform {

namespace {

// How long a write waits for another writer of the same file before it gives up. A writer holds
// the lock for one read, one small write and its flushes; a holder that keeps it longer is stuck
// or hostile, and a settings write that fails only leaves the new value in memory.
constexpr std::chrono::seconds kLockWait{5};
constexpr timespec kLockRetryPause{0, 2'000'000};

// The whole file, or nullopt when it cannot be read. errno tells why.
// `sizeHint`, the size the file had when opened, is read in place: a file of tens of megabytes is
// then copied once, not again at each growth of the string.
std::optional<std::string> ReadAll(int fd, std::size_t sizeHint = 0) {
  std::string content;
  content.resize(sizeHint);
  std::size_t got = 0;
  char buffer[65536];
  for (;;) {
    // Into the string while it has room, then by pieces (a file that grew after the open).
    const bool inPlace = got < content.size();
    char* into = inPlace ? content.data() + got : buffer;
    const std::size_t room = inPlace ? content.size() - got : sizeof buffer;
    const ssize_t n = ::read(fd, into, room);
    if (n == 0) {
      content.resize(got);
      return content;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (!inPlace) content.append(buffer, static_cast<std::size_t>(n));
    got += static_cast<std::size_t>(n);
  }
}

// Only a regular file is read. The open does not block: a FIFO put in the file's place would
// otherwise hold start-up in open() until someone writes into it, and a device is never opened
// for long enough to matter.
std::optional<std::string> ReadFileBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::optional<std::string> content;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
    content = ReadAll(fd, static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)));
  ::close(fd);
  return content;
}

bool WriteAllBytes(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The exclusive lock that serialises the read-modify-write of one settings file among all the
// programs that write it: a companion file "<file>.lock" beside it, locked with flock and removed
// by its holder before it lets go. A waiter that got the lock on a file its holder had already
// removed sees that the name no longer leads to the file it locked, and starts again. The wait is
// bounded. No lock can be had in a folder that cannot take the companion file; nor could the
// temporary file be made there, so the write fails at once rather than running unserialised.
class WriteLock {
 public:
  explicit WriteLock(std::string path) : path_(std::move(path)) {
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (!Attempt()) {
      if (failed_ || std::chrono::steady_clock::now() >= deadline) return;
      ::nanosleep(&kLockRetryPause, nullptr);
    }
  }
  ~WriteLock() {
    if (fd_ < 0) return;
    if (held_) ::unlink(path_.c_str());
    ::close(fd_);
  }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

  bool held() const { return held_; }

 private:
  // One try; true when the lock is held. Sets failed_ when waiting cannot help.
  bool Attempt() {
    if (fd_ < 0) {
      // Never through a link, and never blocking on a FIFO planted under the name. Read-only is
      // enough for flock, and lets a program that may not write a companion file made by another
      // account wait for it like any other.
      fd_ = ::open(path_.c_str(),
                   O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
      if (fd_ < 0) {
        // Another account's companion file: busy until its holder removes it. Anything else
        // (no such folder, a folder that cannot take the file, a link) does not pass with time.
        struct stat st;
        failed_ = !(errno == EACCES && ::lstat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode));
        return false;
      }
      struct stat st;
      if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        failed_ = true;
        return false;
      }
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      failed_ = errno != EWOULDBLOCK && errno != EINTR;
      return false;
    }
    struct stat mine, named;
    if (::fstat(fd_, &mine) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
      held_ = true;
      return true;
    }
    // The holder before us removed the file we waited on: start again with the name as it is.
    ::close(fd_);
    fd_ = -1;
    return false;
  }

  std::string path_;
  int fd_ = -1;
  bool held_ = false;
  bool failed_ = false;
};

// The names of the file's extended attributes, or nullopt when they cannot be listed. A file
// system without them has none.
std::optional<std::vector<std::string>> AttributeNames(int fd) {
  for (;;) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) {
      if (errno == ENOTSUP) return std::vector<std::string>{};
      return std::nullopt;
    }
    std::string list(static_cast<std::size_t>(size), '\0');
    const ssize_t n = ::flistxattr(fd, list.data(), list.size());
    if (n < 0) {
      if (errno == ERANGE) continue;  // one was added in between
      return std::nullopt;
    }
    list.resize(static_cast<std::size_t>(n));
    std::vector<std::string> names;
    for (std::size_t pos = 0; pos < list.size();) {
      const std::size_t end = list.find('\0', pos);
      const std::size_t stop = end == std::string::npos ? list.size() : end;
      if (stop > pos) names.push_back(list.substr(pos, stop - pos));
      pos = stop + 1;
    }
    return names;
  }
}

std::optional<std::string> AttributeValue(int fd, const std::string& name) {
  for (;;) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return std::nullopt;
    std::string value(static_cast<std::size_t>(size), '\0');
    const ssize_t n = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (n < 0) {
      if (errno == ERANGE) continue;
      return std::nullopt;
    }
    value.resize(static_cast<std::size_t>(n));
    return value;
  }
}

constexpr std::string_view kAccessAcl = "system.posix_acl_access";

// The attributes whose loss would change what the file is to its users: their own attributes and
// the access ACL. The kernel's and the security modules' own (security.*, trusted.*) are copied
// when the caller may set them and are otherwise left to the system's policy for a new file.
bool MustCarry(std::string_view name) { return name.starts_with("user.") || name == kAccessAcl; }

// Gives the replacement `to` what the old file `from` had besides its bytes: owner and group,
// extended attributes with the access ACL, then the mode. The mode comes last because a change
// of owner clears the set-ID bits and the ACL sets the group bits to its mask. False when the
// replacement would lose an attribute or its mode.
bool CarryOver(int from, const struct stat& old, int to) {
  // Root keeps the owner; another caller cannot give a file away, so the file becomes the
  // caller's as any rewrite would make it, but keeps its group when the caller belongs to it.
  if (::fchown(to, old.st_uid, old.st_gid) != 0)
    (void)::fchown(to, static_cast<uid_t>(-1), old.st_gid);

  const std::optional<std::vector<std::string>> names = AttributeNames(from);
  if (!names) return false;
  bool hasAcl = false;
  for (const std::string& name : *names) {
    hasAcl = hasAcl || name == kAccessAcl;
    const std::optional<std::string> value = AttributeValue(from, name);
    const bool copied =
        value && ::fsetxattr(to, name.c_str(), value->data(), value->size(), 0) == 0;
    if (!copied && MustCarry(name)) return false;
  }
  // A folder's default ACL gives the temporary file an ACL that the old file did not have.
  if (!hasAcl && ::fremovexattr(to, kAccessAcl.data()) != 0 && errno != ENODATA &&
      errno != ENOTSUP) {
    return false;
  }
  return ::fchmod(to, old.st_mode & 07777) == 0;
}

// Writes `bytes` over the content of the open file, in place, and cuts what is left after them.
bool RewriteInPlace(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0;
}

// Closes a descriptor when it goes out of scope.
struct FdCloser {
  int fd = -1;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::string ReadIniString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, const std::string& path,
                          std::size_t maxLength) {
  const std::optional<std::string> content = ReadFileBytes(path);
  if (!content) return std::string(defaultValue.substr(0, maxLength));
  return ProfileStringIn(*content, section, key, defaultValue, maxLength);
}

std::vector<std::pair<std::string, std::string>> ReadIniSection(std::string_view section,
                                                                const std::string& path,
                                                                std::size_t maxLength) {
  const std::optional<std::string> content = ReadFileBytes(path);
  if (!content) return {};
  return ProfileSectionIn(*content, section, maxLength);
}

bool WriteIniString(std::string_view section, std::string_view key, std::string_view value,
                    const std::string& path, const ProfileWriteHook& beforeReplace) {
  if (!ProfileNamesValid(section, key, value) || path.empty()) return false;

  // Write through a symbolic link to its target: the link stays a link, and the lock is taken
  // beside the file that is written, whatever name each writer uses for it.
  std::string target = path;
  struct stat linkStat;
  if (::lstat(path.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return false;
    target = resolved;
  }

  const WriteLock lock(target + ".lock");
  if (!lock.held()) return false;

  std::string content;
  struct stat old;
  FdCloser oldFd;
  oldFd.fd = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  const bool exists = oldFd.fd >= 0;
  if (exists) {
    std::optional<std::string> bytes;
    if (::fstat(oldFd.fd, &old) == 0 && S_ISREG(old.st_mode)) bytes = ReadAll(oldFd.fd);
    if (!bytes) return false;
    content = std::move(*bytes);
    if ((old.st_mode & S_IWUSR) == 0 || ::access(target.c_str(), W_OK) != 0) return false;
  } else if (errno != ENOENT) {
    return false;
  }

  const std::optional<std::string> result = ProfileWithKey(content, section, key, value);
  if (!result) return false;
  const std::string& updated = *result;
  if (exists && updated == content) return true;

  const std::size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = (folder == "/" ? "" : folder) + "/." + base + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;

  bool ok = WriteAllBytes(fd, updated);
  if (ok) {
    if (exists) {
      ok = CarryOver(oldFd.fd, old, fd);
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ok = ::fchmod(fd, 0666 & ~mask) == 0;
    }
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && (!beforeReplace || beforeReplace(temp));
  // A file with several names is rewritten in place, so that every name keeps showing the one
  // file; a rename would leave the other names on the old content. The new content has reached
  // the disk in the temporary file first, so a full disk fails the write before the file is
  // touched.
  const bool inPlace = exists && old.st_nlink > 1;
  if (ok && inPlace) {
    FdCloser rw;
    rw.fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat now;
    ok = rw.fd >= 0 && ::fstat(rw.fd, &now) == 0 && now.st_dev == old.st_dev &&
         now.st_ino == old.st_ino && RewriteInPlace(rw.fd, updated);
  }
  if (inPlace || !ok) {
    ::unlink(temp.c_str());
    return ok;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncFolder(folder);
  return true;
}

}  // namespace qs::platform
