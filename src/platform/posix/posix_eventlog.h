// The event-log service of this platform.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/eventlog.h"

namespace qs::platform {

// The source "Security" is the log file at securityLogPath, an NT .evt file, a Vista-and-later
// .evtx file or a Linux audit log; a file named *.evt or *.evtx is never read as an audit log. Any
// other server or source fails to open. An audit log's names that cannot be trusted are resolved
// below `auditedFolders`; when none are given, below the folders that the audit rules watch, as
// they stand each time the log is opened anew.
std::unique_ptr<EventLogService> MakePosixEventLogService(
    std::string securityLogPath, std::vector<std::string> auditedFolders = {});

}  // namespace qs::platform
