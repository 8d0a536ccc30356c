#include "ui/program.h"

#include <string_view>
#include <utility>

#include "platform/profile.h"

namespace qs {

WindowServices Program::Services(Program& self, const std::string& programFolder,
                                 std::function<bool()> trayAvailable) {
  WindowServices services;
  services.system = self.system_.get();
  services.eventLog = self.eventLog_.get();
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
      eventLog_(platform::MakePosixEventLogService(settingsFile_.SecurityLogPath())),
      system_(platform::MakePosixSystemInfoService()),
      window_(state_, Services(*this, programFolder, std::move(trayAvailable))),
      fileStatus_(drives_),
      writers_(state_.eventList, state_.scan.currentEvent, state_.settings, window_, drives_),
      comments_(state_.eventList, state_.scan.currentEvent, state_.settings, fileStatus_, writers_,
                window_) {
  window_.SetCommentStep(&comments_);
}

}  // namespace qs
