// The file-status service: the attribute word of a file named as a log names it, the three facts
// that the comment pass needs (can it be read at all, is it a folder, is it read-only).
#pragma once

#include <cstdint>
#include <string_view>

namespace qs::platform {

inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;  // not readable, or no file
inline constexpr std::uint32_t kFileAttributeReadOnly = 0x00000001;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x00000010;
inline constexpr std::uint32_t kFileAttributeNormal = 0x00000080;  // none of the others

class FileStatusService {
 public:
  virtual ~FileStatusService() = default;
  // The attributes of the file at `logPath` (the path as the log gives it), or
  // kInvalidFileAttributes.
  virtual std::uint32_t ReadFileAttributes(std::string_view logPath) const = 0;
};

}  // namespace qs::platform
