#include <windows.h>

#include "platform/win32/win32_services.h"

namespace qs::platform {

namespace {

class Win32FileStatus final : public FileStatusService {
 public:
  std::uint32_t ReadFileAttributes(std::string_view logPath) const override {
    const std::string path(logPath);
    // A NUL inside the path would make the call look at a shorter path than the one named.
    if (path.find('\0') != std::string::npos) return kInvalidFileAttributes;
    return GetFileAttributesA(path.c_str());
  }
};

}  // namespace

std::unique_ptr<FileStatusService> MakeWin32FileStatus() {
  return std::make_unique<Win32FileStatus>();
}

}  // namespace qs::platform
