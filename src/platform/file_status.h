// The file-status service: the attribute word of a file named as a log names it, the three facts
// that the comment pass needs (can it be read at all, is it a folder, is it read-only).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/file_identity.h"

namespace qs::platform {

inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;  // not readable, or no file
inline constexpr std::uint32_t kFileAttributeReadOnly = 0x00000001;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x00000010;
inline constexpr std::uint32_t kFileAttributeNormal = 0x00000080;  // none of the others

// What one look at a file tells, all from that one look.
struct FileFacts {
  std::uint32_t attributes = kInvalidFileAttributes;
  std::optional<FileIdentity> identity;  // where the platform can tell it
  std::uint64_t links = 0;               // the number of names of the file (hard links)
};

class FileStatusService {
 public:
  virtual ~FileStatusService() = default;
  // The facts of the file at `logPath` (the path as the log gives it); attributes
  // kInvalidFileAttributes when it cannot be read.
  virtual FileFacts ReadFileFacts(std::string_view logPath) const = 0;
  // The attributes alone.
  std::uint32_t ReadFileAttributes(std::string_view logPath) const {
    return ReadFileFacts(logPath).attributes;
  }
};

}  // namespace qs::platform
