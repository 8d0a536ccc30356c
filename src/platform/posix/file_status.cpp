#include "platform/posix/file_status.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace qs::platform {

FileFacts PosixFileStatus::ReadFileFacts(std::string_view logPath) const {
  FileFacts facts;
  const std::optional<std::string> local = drives_.ToLocal(logPath);
  // A NUL inside the path would make the call look at a shorter path than the one named.
  if (!local || local->find('\0') != std::string::npos) return facts;
  struct stat st;
  if (::stat(local->c_str(), &st) != 0) return facts;
  std::uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kFileAttributeDirectory;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kFileAttributeReadOnly;
  facts.attributes = attributes == 0 ? kFileAttributeNormal : attributes;
  facts.identity =
      FileIdentity{static_cast<std::uint64_t>(st.st_ino), major(st.st_dev), minor(st.st_dev)};
  facts.links = static_cast<std::uint64_t>(st.st_nlink);
  return facts;
}

}  // namespace qs::platform
