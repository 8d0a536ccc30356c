#include "ui/program.h"

#include <utility>

namespace qs {

WindowServices Program::Services(Program& self, const std::string& programFolder,
                                 std::function<bool()> trayAvailable) {
  WindowServices services;
  services.system = self.platform_.system.get();
  services.eventLog = self.platform_.eventLog.get();
  services.readSettings = [&file = self.settingsFile_] { return file.ReadConfiguration(); };
  // A failed write is not examined: the new value stays in memory for the run.
  services.settingsWriter = &self.settingsFile_;
  services.trayAvailable = std::move(trayAvailable);
  services.programFolder = programFolder;
  return services;
}

Program::Program(const std::string& programFolder, std::function<bool()> trayAvailable)
    : settingsFile_(SettingsFilePathIn(programFolder)),
      drives_(settingsFile_.ReadDrives()),
      platform_(platform::MakePlatformServices(settingsFile_.SecurityLogPath(), drives_,
                                               settingsFile_.ReadAuditedFolders())),
      window_(state_, Services(*this, programFolder, std::move(trayAvailable))),
      writers_(state_.eventList, state_.scan.currentEvent, state_.settings, window_, drives_,
               *platform_.streams, platform_.makeSummary),
      comments_(state_.eventList, state_.scan.currentEvent, state_.settings, *platform_.fileStatus,
                writers_, window_) {
  window_.SetCommentStep(&comments_);
}

}  // namespace qs
