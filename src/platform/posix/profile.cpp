// The settings file on disk: reading it whole, and replacing it through a temporary file. What
// the content means and how a write changes it are the INI rules (platform/formats/ini_rules.h).
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

#include "platform/formats/ini_rules.h"

namespace qs::platform {

namespace {

// The whole file, or nullopt when it cannot be read. errno tells why.
std::optional<std::string> ReadAll(int fd) {
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return content;
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::optional<std::string> content;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) content = ReadAll(fd);
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

  // Replace the target of a symbolic link, not the link.
  std::string target = path;
  struct stat linkStat;
  if (::lstat(path.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return false;
    target = resolved;
  }

  std::string content;
  struct stat old;
  bool exists = false;
  const int oldFd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
  if (oldFd >= 0) {
    exists = true;
    std::optional<std::string> bytes;
    if (::fstat(oldFd, &old) == 0 && S_ISREG(old.st_mode)) bytes = ReadAll(oldFd);
    ::close(oldFd);
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
      ok = ::fchmod(fd, old.st_mode & 07777) == 0;
      // Keeps the owner when the caller may change it (as root); otherwise the file becomes the
      // caller's, as any rewrite would make it.
      if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      }
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ok = ::fchmod(fd, 0666 & ~mask) == 0;
    }
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && (!beforeReplace || beforeReplace(temp));
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncFolder(folder);
  return true;
}

}  // namespace qs::platform
