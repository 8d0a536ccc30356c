#include "platform/program_folder.h"

#include <windows.h>

namespace qs::platform {

std::optional<std::string> ProgramFolder() {
  char buffer[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  // A result that fills the buffer is a cut path.
  if (n == 0 || n >= sizeof buffer) return std::nullopt;
  const std::string exe(buffer, n);
  const std::size_t sep = exe.find_last_of("\\/");
  if (sep == std::string::npos) return std::nullopt;
  return exe.substr(0, sep);
}

}  // namespace qs::platform
