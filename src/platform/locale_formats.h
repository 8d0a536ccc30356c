// The date and time formats of the user's locale (the LC_TIME category that the program set from
// the environment), as strftime formats, for the date texts of the event list and the comments.
#pragma once

#include <string>

namespace qs::platform {

// The short date format ("%d/%m/%Y"); empty when the system gives none.
std::string LocaleDateFormat();
// The time format, with seconds ("%H:%M:%S"); empty when the system gives none.
std::string LocaleTimeFormat();

}  // namespace qs::platform
