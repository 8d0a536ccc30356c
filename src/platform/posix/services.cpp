#include "platform/services.h"

#include "platform/posix/file_status.h"
#include "platform/posix/posix_eventlog.h"
#include "platform/posix/posix_sysinfo.h"
#include "platform/posix/streams_xattr.h"
#include "platform/posix/xdg_comment_summary.h"

namespace qs::platform {

PlatformServices MakePlatformServices(const std::string& securityLogPath, const PathMap& drives,
                                      const std::vector<std::string>& auditedFolders) {
  PlatformServices services;
  services.eventLog = MakePosixEventLogService(securityLogPath, auditedFolders);
  services.fileStatus = std::make_unique<PosixFileStatus>(drives);
  // One file at a time is held open for both comments of an event (see AttributeFiles).
  auto files = std::make_shared<AttributeFiles>();
  services.streams = std::make_unique<XattrStreamFiles>(SystemXattrIo(), files);
  services.makeSummary = [files] {
    return std::unique_ptr<SummaryPropertyComponent>(
        std::make_unique<XdgCommentSummary>(SystemXattrIo(), files));
  };
  services.system = MakePosixSystemInfoService();
  return services;
}

}  // namespace qs::platform
