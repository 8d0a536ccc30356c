#include "platform/services.h"

#include "platform/win32/win32_services.h"

namespace qs::platform {

PlatformServices MakePlatformServices(const std::string& securityLogPath, const PathMap& /*drives*/,
                                      const std::vector<std::string>& /*auditedFolders*/) {
  PlatformServices services;
  services.eventLog = MakeWin32EventLogService(securityLogPath);
  services.fileStatus = MakeWin32FileStatus();
  services.streams = MakeWin32StreamService();
  // Created on first use: the summary component starts COM.
  services.makeSummary = [] { return MakeWin32SummaryComponent(); };
  services.system = MakeWin32SystemInfoService();
  return services;
}

}  // namespace qs::platform
