// The platform services of the operating system the program was built for, made in one place.
// Each OS folder (posix/, and win32/ beside it) implements MakePlatformServices with its own
// classes; callers hold the interfaces only. The services that are plain functions (the settings
// file in profile.h, the locale's formats, the program's folder) have one definition per OS folder
// and are picked by the sources that the build selects.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/eventlog.h"
#include "platform/file_status.h"
#include "platform/path_map.h"
#include "platform/streams.h"
#include "platform/summary_properties.h"
#include "platform/sysinfo.h"

namespace qs::platform {

struct PlatformServices {
  std::unique_ptr<EventLogService> eventLog;
  std::unique_ptr<FileStatusService> fileStatus;
  std::unique_ptr<StreamService> streams;  // the Macintosh comments' named streams
  SummaryFactory makeSummary;              // the Windows 2000 comments' summary properties
  std::unique_ptr<SystemInfoService> system;
};

// securityLogPath: the log file that the source "Security" reads, where the platform reads that
// log from a file; drives: where the paths that the log names lead on this computer, which must
// outlive the services; auditedFolders: where the files that a Linux audit log names only by
// their identity are looked for (empty: the folders that the system's audit rules watch; a
// platform that reads no audit log ignores them).
PlatformServices MakePlatformServices(const std::string& securityLogPath, const PathMap& drives,
                                      const std::vector<std::string>& auditedFolders = {});

}  // namespace qs::platform
