#include "platform/posix/file_status.h"

#include <sys/stat.h>

namespace qs::platform {

std::uint32_t PosixFileStatus::ReadFileAttributes(std::string_view logPath) const {
  const std::optional<std::string> local = drives_.ToLocal(logPath);
  // A NUL inside the path would make the call look at a shorter path than the one named.
  if (!local || local->find('\0') != std::string::npos) return kInvalidFileAttributes;
  struct stat st;
  if (::stat(local->c_str(), &st) != 0) return kInvalidFileAttributes;
  std::uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kFileAttributeDirectory;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kFileAttributeReadOnly;
  return attributes == 0 ? kFileAttributeNormal : attributes;
}

}  // namespace qs::platform
