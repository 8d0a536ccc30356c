// The program's name and its versioned title: the main window's title (completed with the
// computer, the user and the system), the tip of the notification-area icon, and the title of
// the settings dialogs and of their input-error messages.
#pragma once

#include <string_view>

namespace qs {

inline constexpr std::string_view kAppName = "Quillstamp";
inline constexpr const char* kVersionedTitle = "Quillstamp 1.0b";

}  // namespace qs
