// The event-log service of this platform.
#pragma once

#include <memory>
#include <string>

#include "platform/eventlog.h"

namespace qs::platform {

// The source "Security" is the log file at securityLogPath, an NT .evt file, a Vista-and-later
// .evtx file or a Linux audit log; a file named *.evt or *.evtx is never read as an audit log. Any
// other server or source fails to open.
std::unique_ptr<EventLogService> MakePosixEventLogService(std::string securityLogPath);

}  // namespace qs::platform
