#include "platform/xattr.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>

namespace qs::platform {

namespace {

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW;

int OpenWithoutLinks(const std::string& path) {
#ifdef SYS_openat2
  open_how how{};
  how.flags = kOpenFlags;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
  if (fd >= 0) return static_cast<int>(fd);
  // Kernels before 5.6 (or a sandbox that filters the call): fall back to the last component.
  if (errno != ENOSYS && errno != EPERM) return -1;
#endif
  return open(path.c_str(), kOpenFlags);
}

bool WritableByProgram(int fd, const struct stat& st) {
  if ((st.st_mode & S_IWUSR) == 0) return false;
  // The descriptor's own entry names exactly the opened inode, whatever the path has become.
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  if (access(self, W_OK) == 0) return true;
  // Without /proc the owner bit alone decides.
  return errno == ENOENT;
}

}  // namespace

int OpenFileForAttributes(const std::string& path, FileAccess fileAccess) {
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  const int fd = OpenWithoutLinks(path);
  if (fd < 0) return -1;
  struct stat st {};
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    error = EINVAL;
  } else if (fileAccess == FileAccess::Write && !WritableByProgram(fd, st)) {
    error = EACCES;
  }
  if (error != 0) {
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
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
