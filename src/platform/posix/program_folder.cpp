#include "platform/program_folder.h"

#include <limits.h>
#include <unistd.h>

namespace qs::platform {

std::optional<std::string> ProgramFolder() {
  // The kernel's link names the executable itself, whatever the program was started as.
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return std::nullopt;
  const std::string exe(buffer, static_cast<std::size_t>(n));
  const std::size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  return exe.substr(0, slash);
}

}  // namespace qs::platform
