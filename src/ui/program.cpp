#include "ui/program.h"

#include <string_view>
#include <utility>

#include "platform/profile.h"

namespace qs {

WindowServices Program::Services(Program& self, const std::string& programFolder,
                                 std::function<bool()> trayAvailable) {
  WindowServices services;
  services.system = self.platform_.system.get();
  services.eventLog = self.platform_.eventLog.get();
  services.readSettings = [&file = self.settingsFile_] { return file.ReadConfiguration(); };
  services.writeSetting = [path = self.settingsFile_.path()](std::string_view key,
                                                             std::string_view value) {
    // The result is not examined: a failed write leaves the new value in memory for the run.
    platform::WritePrivateProfileString(kConfigurationSection, key, value, path);
  };
  services.trayAvailable = std::move(trayAvailable);
  services.programFolder = programFolder;
  return services;
}

Program::Program(const std::string& programFolder, std::function<bool()> trayAvailable)
    : settingsFile_(SettingsFilePathIn(programFolder)),
      drives_(settingsFile_.ReadDrives()),
      platform_(platform::MakePlatformServices(settingsFile_.SecurityLogPath(), drives_)),
      window_(state_, Services(*this, programFolder, std::move(trayAvailable))),
      writers_(state_.eventList, state_.scan.currentEvent, state_.settings, window_, drives_,
               *platform_.streams, platform_.makeSummary),
      comments_(state_.eventList, state_.scan.currentEvent, state_.settings, *platform_.fileStatus,
                writers_, window_) {
  window_.SetCommentStep(&comments_);
}

}  // namespace qs
