#include "platform/service_host.h"

#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace qs::platform {

namespace {

// Writes all of `bytes` to `fd`; 0, or the errno of the write that failed.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// What the handlers note. A handler may only touch lock-free atomics and make async-signal-safe
// calls: it sets its flag and writes one byte into the pipe that wakes a waiting Wait.
volatile sig_atomic_t gStopRequested = 0;
volatile sig_atomic_t gReloadRequested = 0;
int gWakeWrite = -1;

extern "C" void OnServiceSignal(int signal) {
  const int saved = errno;
  if (signal == SIGHUP)
    gReloadRequested = 1;
  else
    gStopRequested = 1;
  if (gWakeWrite >= 0) {
    const char byte = 1;
    // A full pipe already holds a wake-up; the byte may be dropped.
    (void)!::write(gWakeWrite, &byte, 1);
  }
  errno = saved;
}

std::string SystemError(int error) { return std::strerror(error); }

class PosixSignalWatch final : public SignalWatch {
 public:
  PosixSignalWatch(int readEnd, int writeEnd) : read_(readEnd), write_(writeEnd) {}
  ~PosixSignalWatch() override {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &action, nullptr);
    gWakeWrite = -1;
    ::close(read_);
    ::close(write_);
  }

  ServiceSignals Take() override {
    ServiceSignals s;
    if (gStopRequested != 0) {
      gStopRequested = 0;
      s.stop = true;
    }
    if (gReloadRequested != 0) {
      gReloadRequested = 0;
      s.reload = true;
    }
    return s;
  }

  ServiceSignals Wait(std::chrono::milliseconds timeout) override {
    if (gStopRequested == 0 && gReloadRequested == 0 && timeout.count() > 0) {
      pollfd fd{read_, POLLIN, 0};
      // A signal that comes between the look at the flags and the poll has written its byte, so
      // the poll returns at once; EINTR ends the wait the same way.
      ::poll(&fd, 1, static_cast<int>(std::min<long long>(timeout.count(), INT_MAX)));
    }
    Drain();
    return Take();
  }

 private:
  void Drain() {
    char buffer[64];
    while (::read(read_, buffer, sizeof buffer) > 0) {
    }
  }

  int read_;
  int write_;
};

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// The lock file is removed while the lock is still held, then closed: a process that opened it
// before the removal and locks it after the close finds that the name no longer leads to the file
// it locked, and tries again (see LockSettingsFile), so two instances never both hold a lock.
class FlockInstanceLock final : public InstanceLock {
 public:
  FlockInstanceLock(int folder, int fd, std::string name, std::string path)
      : folder_(folder), fd_(fd), name_(std::move(name)), path_(std::move(path)) {}
  ~FlockInstanceLock() override {
    ::unlinkat(folder_, name_.c_str(), 0);
    ::close(fd_);
    ::close(folder_);
  }
  const std::string& path() const override { return path_; }

 private:
  int folder_;
  int fd_;
  std::string name_;
  std::string path_;
};

// The folder of the instance locks (see LockSettingsFile); `own` when it is the account's
// private folder, which this program makes and which must be the account's alone.
struct LockFolder {
  std::string path;
  bool own = false;
};

// The account's home folder when it is one that nobody else can write in: a folder of its own
// below it cannot be made first by another user, as a name in /tmp can.
std::optional<std::string> PrivateHome() {
  const char* home = ::getenv("HOME");
  std::string path = home != nullptr ? home : "";
  if (path.empty() || path.front() != '/') {
    const passwd* pw = ::getpwuid(::geteuid());
    if (pw == nullptr || pw->pw_dir == nullptr || pw->pw_dir[0] != '/') return std::nullopt;
    path = pw->pw_dir;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return std::nullopt;
  return path;
}

LockFolder ChooseLockFolder() {
  if (const char* dir = ::getenv("RUNTIME_DIRECTORY"); dir != nullptr && dir[0] == '/') {
    // systemd may list several folders, separated by colons; the first is this unit's.
    std::string first(dir);
    return {first.substr(0, first.find(':'))};
  }
  if (::geteuid() == 0) return {"/run/quillstamp"};
  if (const char* dir = ::getenv("XDG_RUNTIME_DIR"); dir != nullptr && dir[0] == '/') return {dir};
  if (const auto home = PrivateHome()) {
    const std::string cache = *home + (home->back() == '/' ? "" : "/") + ".cache";
    if (::mkdir(cache.c_str(), 0700) == 0 || errno == EEXIST) return {cache + "/quillstamp", true};
  }
  // An account without a home of its own (a service account): a name in /tmp, taken only when
  // it is this account's alone.
  return {"/tmp/quillstamp-" + std::to_string(::geteuid()), true};
}

std::string UserText(uid_t uid) {
  if (const passwd* pw = ::getpwuid(uid))
    return std::string(pw->pw_name) + " (uid " + std::to_string(uid) + ")";
  return "uid " + std::to_string(uid);
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool TrustedOwner(uid_t uid) { return uid == 0 || uid == ::geteuid(); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// Whether the folder `where`, of status `st`, is in trusted hands; `passing` when the walk only
// passes through it, where a sticky folder is let through.
bool FolderTrusted(const std::string& where, const struct stat& st, bool passing,
                   std::string& why) {
  if (!TrustedOwner(st.st_uid)) {
    why = "the folder " + where + " is owned by " + UserText(st.st_uid) +
          ", neither root nor the service's account";
    return false;
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !(passing && (st.st_mode & S_ISVTX) != 0)) {
    why = "the folder " + where + " is writable by others than its owner (mode " +
          ModeText(st.st_mode) + ")";
    return false;
  }
  return true;
}

// Opens the folder at `path` (O_PATH, O_DIRECTORY, O_NOFOLLOW) by walking its components from "/"
// down, each opened relative to the one before and checked as FolderInTrustedHands says; a link
// on the way is read and its target walked the same way, once its owner is found trusted. The
// descriptor is the folder that was checked: writing relative to it cannot be turned elsewhere.
// -1, with `why` set, when the folder is refused or cannot be opened.
int OpenTrustedFolder(const std::string& path, std::string& why) {
  constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  std::string full = path;
  if (full.empty()) {
    why = "no folder named";
    return -1;
  }
  if (full[0] != '/') {
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) {
      why = "the working folder cannot be found: " + SystemError(errno);
      return -1;
    }
    full = std::string(cwd) + "/" + full;
    ::free(cwd);
  }
  const auto components = [](const std::string& text) {
    std::deque<std::string> parts;
    for (std::size_t at = 0; at <= text.size();) {
      std::size_t end = text.find('/', at);
      if (end == std::string::npos) end = text.size();
      if (end > at) parts.emplace_back(text.substr(at, end - at));
      at = end + 1;
    }
    return parts;
  };
  std::deque<std::string> left = components(full);
  Descriptor fd(::open("/", kFlags));
  std::string where = "/";
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
    why = "cannot open /: " + SystemError(errno);
    return -1;
  }
  if (!FolderTrusted(where, st, true, why)) return -1;
  int links = 0;
  while (!left.empty()) {
    const std::string name = left.front();
    left.pop_front();
    if (name == ".") continue;
    if (name != "..") {
      struct stat entry;
      if (::fstatat(fd.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        why = JoinPath(where, name) + ": " + SystemError(errno);
        return -1;
      }
      if (S_ISLNK(entry.st_mode)) {
        const std::string link = JoinPath(where, name);
        if (!TrustedOwner(entry.st_uid)) {
          why = "the link " + link + " is owned by " + UserText(entry.st_uid) +
                ", neither root nor the service's account";
          return -1;
        }
        if (++links > 40) {
          why = link + ": " + SystemError(ELOOP);
          return -1;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlinkat(fd.get(), name.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) {
          why = "cannot read the link " + link + ": " + SystemError(n < 0 ? errno : ENAMETOOLONG);
          return -1;
        }
        target.resize(static_cast<std::size_t>(n));
        std::deque<std::string> parts = components(target);
        left.insert(left.begin(), parts.begin(), parts.end());
        if (target[0] == '/') {
          fd.Reset(::open("/", kFlags));
          where = "/";
          if (fd.get() < 0) {
            why = "cannot open /: " + SystemError(errno);
            return -1;
          }
        }
        continue;
      }
    }
    Descriptor next(::openat(fd.get(), name.c_str(), kFlags));
    const std::string reached =
        name == ".." ? (where.rfind('/') == 0 ? "/" : where.substr(0, where.rfind('/')))
                     : JoinPath(where, name);
    if (next.get() < 0) {
      why = reached + ": " + (errno == ENOTDIR ? "is not a folder" : SystemError(errno));
      return -1;
    }
    if (::fstat(next.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      why = reached + ": is not a folder";
      return -1;
    }
    if (!FolderTrusted(reached, st, true, why)) return -1;
    fd.Reset(next.Release());
    where = reached;
  }
  if (::fstat(fd.get(), &st) != 0) {
    why = "cannot look at " + where + ": " + SystemError(errno);
    return -1;
  }
  if (!FolderTrusted(where, st, false, why)) return -1;
  return fd.Release();
}

// A file name made from a full path: "/" becomes "-", and every byte that is not a letter, a
// digit, "." or "_" is written as "\xNN", the way systemd names units after paths; a name too
// long for the file system keeps its end and a hash of the whole.
std::string EscapedName(const std::string& path) {
  std::string name;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (c == '/') {
      if (i != 0) name += '-';
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || (c == '.' && i != 0)) {
      name += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      name += hex;
    }
  }
  constexpr std::size_t kMaxName = 200;
  if (name.size() > kMaxName) {
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (const char c : path) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    name = std::string(text) + "-" + name.substr(name.size() - (kMaxName - 17));
  }
  return name;
}

}  // namespace

std::unique_ptr<SignalWatch> WatchServiceSignals(std::string& error) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = "cannot make the signal pipe: " + SystemError(errno);
    return nullptr;
  }
  gStopRequested = 0;
  gReloadRequested = 0;
  gWakeWrite = fds[1];
  struct sigaction action {};
  action.sa_handler = OnServiceSignal;
  sigemptyset(&action.sa_mask);
  // Reads and writes in progress go on after the handler; the program looks at the flags itself.
  action.sa_flags = SA_RESTART;
  for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
    if (::sigaction(s, &action, nullptr) != 0) {
      error = "cannot catch signal " + std::to_string(s) + ": " + SystemError(errno);
      gWakeWrite = -1;
      ::close(fds[0]);
      ::close(fds[1]);
      return nullptr;
    }
  }
  // A writer of the list file whose reader went away must not be killed by SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  return std::make_unique<PosixSignalWatch>(fds[0], fds[1]);
}

std::unique_ptr<InstanceLock> LockSettingsFile(const std::string& settingsPath,
                                               std::string& lockPath, std::string& error) {
  const LockFolder folder = ChooseLockFolder();
  lockPath = folder.path;
  // Root makes its shared folder, and any account its own folder below /tmp; the other folders
  // are already there.
  if (::mkdir(folder.path.c_str(), folder.own ? 0700 : 0755) != 0 && errno != EEXIST) {
    error = "cannot make the folder " + folder.path + ": " + SystemError(errno);
    return nullptr;
  }
  std::string why;
  Descriptor dir(OpenTrustedFolder(folder.path, why));
  if (dir.get() < 0) {
    error = "the lock folder is refused: " + why;
    return nullptr;
  }
  if (folder.own) {
    // Anyone may make this name in /tmp first: it is used only when it is the account's own.
    struct stat st;
    if (::lstat(folder.path.c_str(), &st) != 0 || S_ISLNK(st.st_mode) ||
        ::fstat(dir.get(), &st) != 0 || st.st_uid != ::geteuid() ||
        (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
      error = "the lock folder " + folder.path +
              " is not a folder that only this account owns and opens (a link, another owner, "
              "or access for others): remove it, or set XDG_RUNTIME_DIR";
      return nullptr;
    }
  }
  const std::string name = EscapedName(AbsolutePath(settingsPath)) + ".lock";
  lockPath = JoinPath(folder.path, name);
  // An instance that ends removes its lock file while it still holds it; a file locked here
  // after that removal is no longer the one the name leads to, and the lock is taken again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    Descriptor fd(
        ::openat(dir.get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
      error = "cannot open the lock file " + lockPath + ": " + SystemError(errno);
      return nullptr;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      error = e == EWOULDBLOCK ? "another instance holds the lock file " + lockPath
                               : "cannot lock " + lockPath + ": " + SystemError(e);
      return nullptr;
    }
    struct stat locked, named;
    if (::fstat(fd.get(), &locked) != 0) {
      error = "cannot look at the lock file " + lockPath + ": " + SystemError(errno);
      return nullptr;
    }
    if (::fstatat(dir.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) {
      const int folderFd = dir.Release();
      return std::make_unique<FlockInstanceLock>(folderFd, fd.Release(), name, lockPath);
    }
  }
  error = "the lock file " + lockPath + " kept being replaced while it was taken";
  return nullptr;
}

bool ReplaceFileWhole(const std::string& path, std::string_view bytes, std::string& error) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = (folder == "/" ? "" : folder) + "/." + base + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot make a file in " + folder + ": " + SystemError(errno);
    return false;
  }
  int failure = WriteAll(fd, bytes);
  bool ok = failure == 0;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (ok && ::fchmod(fd, 0644 & ~mask) != 0) ok = false, failure = errno;
  if (ok && ::fsync(fd) != 0) ok = false, failure = errno;
  if (::close(fd) != 0 && ok) ok = false, failure = errno;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false, failure = errno;
  if (!ok) {
    ::unlink(temp.c_str());
    error = "cannot write " + path + ": " + SystemError(failure);
    return false;
  }
  return true;
}

std::optional<unsigned> GroupIdByName(const std::string& name, std::string& why) {
  group entry{};
  group* found = nullptr;
  std::string buffer(16384, '\0');
  int rc;
  while ((rc = ::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found)) ==
             ERANGE &&
         buffer.size() < (1u << 24))
    buffer.resize(buffer.size() * 2);
  if (found != nullptr) return static_cast<unsigned>(found->gr_gid);
  why = rc != 0 ? SystemError(rc) : "no such group";
  return std::nullopt;
}

unsigned AccountGroupId() { return static_cast<unsigned>(::getegid()); }

bool ReplaceGroupReadableFile(const std::string& path, std::string_view bytes, unsigned group,
                              std::string& note, std::string& error) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") {
    error = "cannot write " + path + ": it names no file";
    return false;
  }
  std::string why;
  const Descriptor dir(OpenTrustedFolder(folder, why));
  if (dir.get() < 0) {
    error = "refused to write " + path + ": " + why;
    return false;
  }
  // A name of its own in the folder: O_EXCL, so a name already there is never written through.
  static unsigned counter = 0;
  std::string temp;
  Descriptor fd;
  for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%x.%x.%lx", static_cast<unsigned>(::getpid()), counter++,
                  static_cast<unsigned long>(now.tv_nsec));
    temp = "." + base + suffix;
    fd.Reset(::openat(dir.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600));
    if (fd.get() < 0 && errno != EEXIST) break;
  }
  if (fd.get() < 0) {
    error = "cannot make a file in " + folder + ": " + SystemError(errno);
    return false;
  }
  int failure = WriteAll(fd.get(), bytes);
  bool ok = failure == 0;
  note.clear();
  if (ok && ::fchown(fd.get(), static_cast<uid_t>(-1), static_cast<gid_t>(group)) != 0) {
    // Only root, or a member of the group, may give a file that group.
    note = SystemError(errno);
    if (::fchown(fd.get(), static_cast<uid_t>(-1), ::getegid()) != 0) ok = false, failure = errno;
  }
  if (ok && ::fchmod(fd.get(), 0640) != 0) ok = false, failure = errno;
  if (ok && ::fsync(fd.get()) != 0) ok = false, failure = errno;
  if (::close(fd.Release()) != 0 && ok) ok = false, failure = errno;
  if (ok && ::renameat(dir.get(), temp.c_str(), dir.get(), base.c_str()) != 0)
    ok = false, failure = errno;
  if (!ok) {
    ::unlinkat(dir.get(), temp.c_str(), 0);
    error = "cannot write " + path + ": " + SystemError(failure);
    return false;
  }
  return true;
}

bool GiveFolderToGroup(const std::string& folder, unsigned group, std::string& error) {
  const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
    error = "cannot open the folder " + folder + ": " + SystemError(errno);
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    error = "the folder " + folder + " is owned by " + UserText(st.st_uid) + ", not by the service";
    return false;
  }
  if (st.st_gid == group) return true;
  if (::fchown(fd.get(), static_cast<uid_t>(-1), static_cast<gid_t>(group)) != 0) {
    error = "cannot give the folder " + folder + " the group " + std::to_string(group) + ": " +
            SystemError(errno);
    return false;
  }
  return true;
}

bool FolderInTrustedHands(const std::string& folder, std::string& why) {
  const Descriptor fd(OpenTrustedFolder(folder, why));
  return fd.get() >= 0;
}

std::string WhyFileCannotBeRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return SystemError(errno);
  struct stat st;
  const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  ::close(fd);
  return folder ? "is a folder" : "is not a log this program can read";
}

bool FileReadable(const std::string& path, bool& missing, std::string& reason) {
  missing = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    missing = errno == ENOENT;
    reason = SystemError(errno);
    return false;
  }
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) reason = "is not a regular file";
  return regular;
}

std::string AbsolutePath(const std::string& path) {
  if (char* resolved = ::realpath(path.c_str(), nullptr)) {
    std::string full(resolved);
    ::free(resolved);
    return full;
  }
  // A file that is not there yet: its folder resolved, its name as given.
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (char* resolved = ::realpath(folder.empty() ? "/" : folder.c_str(), nullptr)) {
    std::string full(resolved);
    ::free(resolved);
    return (full == "/" ? "" : full) + "/" + name;
  }
  return path;
}

std::string LocalTimestamp() {
  const time_t now = ::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::optional<std::string> Environment(const char* name) {
  const char* value = ::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace qs::platform
