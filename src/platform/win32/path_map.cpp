// On Windows the paths a log names are local or UNC paths as they stand: the drive map that other
// systems need to reach a Windows server's files has nothing to do here.
#include "platform/path_map.h"

namespace qs::platform {

void PathMap::SetDrive(char letter, std::string folder) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  drives_[letter] = std::move(folder);
}

std::optional<std::string> PathMap::ToLocal(std::string_view logPath) const {
  return std::string(logPath);
}

}  // namespace qs::platform
