// Where the running program lives: its settings file and its manual lie beside the executable.
#pragma once

#include <optional>
#include <string>

namespace qs::platform {

// The folder of the running executable, without a separator at the end; nullopt when it cannot
// be found.
std::optional<std::string> ProgramFolder();

}  // namespace qs::platform
