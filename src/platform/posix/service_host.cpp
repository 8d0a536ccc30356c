#include "platform/service_host.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
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
#include <string>

namespace qs::platform {

namespace {

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

class FlockInstanceLock final : public InstanceLock {
 public:
  FlockInstanceLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~FlockInstanceLock() override { ::close(fd_); }
  const std::string& path() const override { return path_; }

 private:
  int fd_;
  std::string path_;
};

// The runtime folder of the instance locks (see LockSettingsFile).
std::string RuntimeFolder() {
  if (const char* dir = ::getenv("RUNTIME_DIRECTORY"); dir != nullptr && dir[0] == '/') {
    // systemd may list several folders, separated by colons; the first is this unit's.
    std::string first(dir);
    return first.substr(0, first.find(':'));
  }
  if (::geteuid() == 0) return "/run/quillstamp";
  if (const char* dir = ::getenv("XDG_RUNTIME_DIR"); dir != nullptr && dir[0] == '/') return dir;
  return "/tmp";
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
  const std::string folder = RuntimeFolder();
  // Only root makes the shared folder; anyone else uses one that is already there.
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    lockPath = folder;
    error = "cannot make the folder " + folder + ": " + SystemError(errno);
    return nullptr;
  }
  lockPath = folder + "/" + EscapedName(AbsolutePath(settingsPath)) + ".lock";
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot open the lock file " + lockPath + ": " + SystemError(errno);
    return nullptr;
  }
  // The lock file is never removed: removing it would let a third instance lock a new file of
  // the same name while the second still waits on the old one.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    error = e == EWOULDBLOCK ? "another instance holds the lock file " + lockPath
                             : "cannot lock " + lockPath + ": " + SystemError(e);
    return nullptr;
  }
  return std::make_unique<FlockInstanceLock>(fd, lockPath);
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
  bool ok = true;
  int failure = 0;
  std::string_view left = bytes;
  while (ok && !left.empty()) {
    const ssize_t n = ::write(fd, left.data(), left.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      failure = errno;
      break;
    }
    left.remove_prefix(static_cast<std::size_t>(n));
  }
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
