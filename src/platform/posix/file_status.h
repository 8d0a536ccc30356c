// The file-status service of this platform.
#pragma once

#include "platform/file_status.h"
#include "platform/path_map.h"

namespace qs::platform {

// The path goes through `drives` (which must outlive the service); a path that cannot be mapped
// or whose stat fails is kInvalidFileAttributes; a folder has the directory bit; a file or folder
// without owner write permission is read-only, the way file servers map the DOS read-only
// attribute; anything else is kFileAttributeNormal. Symbolic links are followed. The identity is
// the inode and the device's major and minor numbers, as an audit log names them.
class PosixFileStatus final : public FileStatusService {
 public:
  explicit PosixFileStatus(const PathMap& drives) : drives_(drives) {}
  FileFacts ReadFileFacts(std::string_view logPath) const override;

 private:
  const PathMap& drives_;
};

}  // namespace qs::platform
