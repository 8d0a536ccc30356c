#include "platform/posix/xattr.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

namespace qs::platform {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows in one lookup

// A descriptor that closes itself.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset(other.fd_);
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Pushes the components of `path` so that the first one is popped first; "" and "." are skipped.
void PushComponents(std::string_view path, std::vector<std::string>& pending) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, slash - start);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = slash + 1;
  }
  pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

// A link that root or the program's own user made was put there by an administrator; one that
// anybody else owns may have been planted to lead the program (often root) onto a file that its
// owner could not write, and is never followed.
bool TrustedLink(const struct stat& st) { return st.st_uid == 0 || st.st_uid == geteuid(); }

// Looks `path` up one component at a time, following only trusted links. On success `parent` is
// the folder that holds the last component, `name` that component and the result an O_PATH
// descriptor of the object itself (never of a link); -1 with errno otherwise.
int Lookup(const std::string& path, Fd& parent, std::string& name) {
  std::vector<std::string> pending;
  PushComponents(path, pending);
  if (pending.empty()) {
    errno = EISDIR;  // "/" or "."
    return -1;
  }
  Fd dir(open(path.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return -1;
  int links = 0;
  while (!pending.empty()) {
    std::string part = std::move(pending.back());
    pending.pop_back();
    Fd fd(openat(dir.get(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) return -1;
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) return -1;
    if (S_ISLNK(st.st_mode)) {
      if (!TrustedLink(st) || ++links > kMaxLinks) {
        errno = ELOOP;
        return -1;
      }
      std::string target(PATH_MAX, '\0');
      const ssize_t n = readlinkat(fd.get(), "", target.data(), target.size());
      if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) {
        if (n >= 0) errno = ENAMETOOLONG;
        return -1;
      }
      target.resize(static_cast<std::size_t>(n));
      PushComponents(target, pending);
      if (target.front() == '/') {
        dir = Fd(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() < 0) return -1;
      }
      if (pending.empty()) {  // a link to "/"
        errno = EISDIR;
        return -1;
      }
      continue;
    }
    if (pending.empty()) {
      parent = std::move(dir);
      name = std::move(part);
      return fd.release();
    }
    if (!S_ISDIR(st.st_mode)) {
      errno = ENOTDIR;
      return -1;
    }
    dir = std::move(fd);
  }
  errno = ENOENT;
  return -1;
}

// The kernel's own lookup of the whole path in one call, refusing every symbolic link on the way
// (O_NOFOLLOW in `flags` gives a link at the end as itself). Most paths hold no link, and the walk
// above costs three calls per component. -1 with errno; ELOOP means a link is on the way and the
// walk must decide whether it may be followed.
int OpenWithoutLinks(const std::string& path, int flags) {
#ifdef SYS_openat2
  struct open_how how {};
  how.flags = static_cast<std::uint64_t>(flags);
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
#else
  (void)path;
  (void)flags;
  errno = ENOSYS;
  return -1;
#endif
}

// Errors of the one-call lookup after which the walk is tried: a link on the way, a path longer
// than the kernel looks up in one call, or a kernel (or a sandbox) without the call.
bool WalkDecides(int error) {
  return error == ELOOP || error == ENAMETOOLONG || error == ENOSYS || error == EPERM ||
         error == EINVAL || error == E2BIG;
}

bool WritableByProgram(int fd, mode_t mode) {
  if ((mode & S_IWUSR) == 0) return false;
  // The access test on the descriptor itself: it names exactly the opened inode, whatever the
  // path has become. Kernels before faccessat2 (or a sandbox without it) take the descriptor's
  // own entry in /proc instead; without /proc the owner bit alone decides.
  if (faccessat(fd, "", W_OK, AT_EMPTY_PATH) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EPERM) return false;
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  if (access(self, W_OK) == 0) return true;
  return errno == ENOENT;
}

}  // namespace

int OpenFileForAttributes(const std::string& path, FileAccess fileAccess) {
  return OpenFileForAttributes(path, fileAccess, {});
}

int OpenFileForAttributes(const std::string& path, FileAccess fileAccess,
                          const std::function<void()>& beforeOpen) {
  struct stat opened {};
  return OpenFileForAttributes(path, fileAccess, beforeOpen, opened);
}

int OpenFileForAttributes(const std::string& path, FileAccess fileAccess,
                          const std::function<void()>& beforeOpen, struct stat& opened) {
  // A NUL inside the path would make every call below look at a shorter path than the one named.
  if (path.empty() || path.find('\0') != std::string::npos) {
    errno = ENOENT;
    return -1;
  }
  // The object, looked up without opening it: by the kernel in one call when no link is on the
  // way, otherwise by the walk that follows trusted links only. In the first case the real open
  // below looks the path up again, with links refused again; in the second it opens the name in
  // the folder that the walk found.
  Fd parent;
  std::string name;
  Fd object(OpenWithoutLinks(path, O_PATH | O_NOFOLLOW | O_CLOEXEC));
  bool walked = false;
  struct stat st {};
  if (object.get() >= 0) {
    if (fstat(object.get(), &st) != 0) return -1;
    walked = S_ISLNK(st.st_mode);  // a link at the end: the walk decides
  } else if (WalkDecides(errno)) {
    walked = true;
  } else {
    return -1;
  }
  if (walked) {
    object = Fd(Lookup(path, parent, name));
    if (object.get() < 0) return -1;
    if (fstat(object.get(), &st) != 0) return -1;
  }
  // Checked before the real open, so that no device or FIFO is ever opened.
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  if (beforeOpen) beforeOpen();
  // The name may have changed since the lookup. O_NOFOLLOW: a link put there now is not followed
  // (a FIFO or device behind it is never opened); O_NONBLOCK: a FIFO put there does not hold the
  // program until a writer comes; read-only: the content is never touched. Whatever regular file
  // is opened must then be the one that was checked.
  constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW;
  Fd fd(walked ? openat(parent.get(), name.c_str(), kFlags) : OpenWithoutLinks(path, kFlags));
  if (fd.get() < 0) return -1;
  if (fstat(fd.get(), &opened) != 0) return -1;
  if (opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
    errno = EAGAIN;  // replaced between the lookup and the open
    return -1;
  }
  if (fileAccess == FileAccess::Write && !WritableByProgram(fd.get(), opened.st_mode)) {
    errno = EACCES;
    return -1;
  }
  return fd.release();
}

AttributeFiles::~AttributeFiles() {
  if (fd_ >= 0) close(fd_);
}

int AttributeFiles::Open(const std::string& path, FileAccess fileAccess) {
  if (fd_ >= 0 && !releasing_ && path == path_) {
    bool same = checked_;
    if (!same) {
      struct stat st {};
      // The path names the held file still. A link at the end is never the file; links on the
      // way only lead to it, and it was opened by the rules above.
      same = fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
             S_ISREG(st.st_mode) && st.st_dev == device_ && st.st_ino == inode_;
      if (same) mode_ = st.st_mode;
      checked_ = same;
    }
    if (same && fileAccess == FileAccess::Write) {
      same = (mode_ & S_IWUSR) != 0 && (writeChecked_ || WritableByProgram(fd_, mode_));
      writeChecked_ = same;
    }
    if (same) {
      ++lent_;
      return fd_;
    }
    // Otherwise a full open below gives the true answer, with its errno.
  }
  struct stat opened {};
  const int fd = OpenFileForAttributes(path, fileAccess, {}, opened);
  if (fd < 0) return -1;
  // The new file is held in place of the old one unless the old one is still handed out.
  if (hold_ && lent_ == 0) {
    CloseHeld();
    path_ = path;
    fd_ = fd;
    device_ = opened.st_dev;
    inode_ = opened.st_ino;
    mode_ = opened.st_mode;
    checked_ = true;
    writeChecked_ = fileAccess == FileAccess::Write;
    lent_ = 1;
  }
  return fd;
}

int AttributeFiles::Open(const std::string& path, FileAccess fileAccess,
                         const std::optional<ExpectedFile>& expected) {
  const int fd = Open(path, fileAccess);
  if (fd < 0 || !expected) return fd;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    const int error = errno;
    Done(fd);
    errno = error;
    return -1;
  }
  const FileIdentity found{static_cast<std::uint64_t>(st.st_ino), major(st.st_dev),
                           minor(st.st_dev)};
  if (IsExpectedFile(*expected, found, static_cast<std::uint64_t>(st.st_nlink))) return fd;
  Done(fd);
  if (fd == fd_) Release();  // not to be handed out again for this path
  errno = ESTALE;
  return -1;
}

void AttributeFiles::Done(int fd) {
  if (fd < 0) return;
  if (fd != fd_) {
    close(fd);
    return;
  }
  if (lent_ > 0) --lent_;
  if (lent_ == 0 && releasing_) CloseHeld();
}

void AttributeFiles::Release() {
  if (lent_ > 0) {
    releasing_ = true;
    return;
  }
  CloseHeld();
}

void AttributeFiles::CloseHeld() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  path_.clear();
  checked_ = false;
  writeChecked_ = false;
  lent_ = 0;
  releasing_ = false;
}

bool XattrIo::Get(int fd, const std::string& name, std::string& value) {
  // The value may change between the size query and the read; ERANGE means ask again.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return false;
    value.assign(static_cast<std::size_t>(size), '\0');
    if (size == 0) return true;
    const ssize_t got = fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
  errno = EAGAIN;
  return false;
}

bool XattrIo::Set(int fd, const std::string& name, std::string_view value) {
  return fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0;
}

XattrIo& SystemXattrIo() {
  static XattrIo io;
  return io;
}

}  // namespace qs::platform
