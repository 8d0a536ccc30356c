#include "platform/log_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

namespace qs::platform {

namespace {

using Clock = std::chrono::steady_clock;

// The file systems whose files other computers write: inotify sees only the writes made through
// this kernel, so following such a log would miss every change made elsewhere.
bool IsNetworkFileSystem(const struct statfs& fs) {
  constexpr unsigned long kNfs = 0x6969;
  constexpr unsigned long kSmb = 0x517B;
  constexpr unsigned long kCifs = 0xFF534D42;
  constexpr unsigned long kSmb2 = 0xFE534D42;
  constexpr unsigned long kFuse = 0x65735546;  // sshfs, and most network mounts from user space
  constexpr unsigned long kCoda = 0x73757245;
  constexpr unsigned long kAfs = 0x5346414F;
  constexpr unsigned long kCeph = 0x00C36400;
  constexpr unsigned long kGfs2 = 0x01161970;
  constexpr unsigned long kOcfs2 = 0x7461636F;
  const auto type = static_cast<unsigned long>(fs.f_type);
  for (const unsigned long t : {kNfs, kSmb, kCifs, kSmb2, kFuse, kCoda, kAfs, kCeph, kGfs2, kOcfs2})
    if (type == t) return true;
  return false;
}

// The log itself, or one of the files a rotation makes of it ("audit.log.1", "audit.log.2").
bool IsLogOrRotated(std::string_view name, std::string_view log) {
  if (name == log) return true;
  if (name.size() <= log.size() + 1 || !name.starts_with(log) || name[log.size()] != '.')
    return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(log.size()) + 1, name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

constexpr std::uint32_t kFolderEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_FROM |
                                        IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF |
                                        IN_ONLYDIR;

class InotifyLogWatch final : public LogWatch {
 public:
  InotifyLogWatch(int fd, int wd, std::string folder, std::string name)
      : fd_(fd), wd_(wd), folder_(std::move(folder)), name_(std::move(name)) {}
  ~InotifyLogWatch() override { ::close(fd_); }

  LogWaitEnd Wait(std::chrono::milliseconds timeout,
                  const std::function<bool()>& signalled) override {
    // Every signal is held back while the caller looks at the ones that came, and let through
    // again only inside ppoll: one that comes after the look interrupts the ppoll, never a
    // moment before it, where it would leave the wait running to its end.
    sigset_t all;
    sigset_t open;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &open);
    struct Restore {
      const sigset_t& mask;
      ~Restore() { ::sigprocmask(SIG_SETMASK, &mask, nullptr); }
    } restore{open};
    if (signalled()) return LogWaitEnd::kInterrupted;

    const auto deadline = Clock::now() + timeout;
    for (;;) {
      // A folder removed or moved away: look for a new one of the same name.
      if (wd_ < 0) wd_ = ::inotify_add_watch(fd_, folder_.c_str(), kFolderEvents);
      const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
      timespec wait{};
      wait.tv_sec = static_cast<time_t>(seconds.count());
      wait.tv_nsec = static_cast<long>(
          std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count());
      pollfd fd{fd_, POLLIN, 0};
      const int n = ::ppoll(&fd, 1, &wait, &open);
      if (n < 0) {
        if (errno == EINTR) return LogWaitEnd::kInterrupted;
        return LogWaitEnd::kTimedOut;  // not expected with one valid descriptor
      }
      if (n > 0 && TakeEvents()) return LogWaitEnd::kLogChanged;
      if (n == 0 || Clock::now() >= deadline) return LogWaitEnd::kTimedOut;
    }
  }

 private:
  // Reads every event queued; true when one of them concerns the log.
  bool TakeEvents() {
    bool changed = false;
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if ((e->mask & IN_Q_OVERFLOW) != 0) {
          changed = true;  // events were lost: the log may be among them
        } else if ((e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
          // The folder is gone, or the watch now follows it elsewhere: watch the name again.
          if (wd_ >= 0 && (e->mask & IN_MOVE_SELF) != 0) ::inotify_rm_watch(fd_, wd_);
          wd_ = -1;
          changed = true;
        } else if (e->len > 0 && IsLogOrRotated(e->name, name_)) {
          changed = true;
        }
      }
    }
    return changed;
  }

  int fd_;
  int wd_;
  std::string folder_;
  std::string name_;
};

}  // namespace

std::unique_ptr<LogWatch> WatchLogFolder(const std::string& logPath, std::string& why) {
  const std::size_t slash = logPath.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : logPath.substr(0, slash));
  const std::string name = slash == std::string::npos ? logPath : logPath.substr(slash + 1);
  if (name.empty()) {
    why = logPath + " names a folder, not a log file";
    return nullptr;
  }
  struct statfs fs {};
  if (::statfs(folder.c_str(), &fs) != 0) {
    why = "the folder " + folder + " cannot be watched: " + std::strerror(errno);
    return nullptr;
  }
  if (IsNetworkFileSystem(fs)) {
    why = "the folder " + folder +
          " is on a network file system, whose changes made elsewhere are never notified";
    return nullptr;
  }
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    why = std::string("no change notification (inotify) on this system: ") + std::strerror(errno);
    return nullptr;
  }
  const int wd = ::inotify_add_watch(fd, folder.c_str(), kFolderEvents);
  if (wd < 0) {
    why = "the folder " + folder + " cannot be watched: " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<InotifyLogWatch>(fd, wd, folder, name);
}

}  // namespace qs::platform
