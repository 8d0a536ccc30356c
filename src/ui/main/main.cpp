// Quillstamp: watches the Security log for files opened for writing and stamps who changed each
// file, and when, into the file's own comments. No command-line arguments: everything comes from
// Quillstamp.ini beside the executable.
#include <QApplication>
#include <memory>
#include <string>

#include "comments/comment_pass.h"
#include "comments/file_comments.h"
#include "platform/eventlog.h"
#include "platform/file_status.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "ui/core/settings_file.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // A dialog closed while the main window hides in the notification area must not end the
  // program: "&Exit" is the only way out.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName("Quillstamp");

  const std::string programFolder = QCoreApplication::applicationDirPath().toStdString();
  const qs::SettingsFile settingsFile(qs::SettingsFilePathIn(programFolder));
  const std::string settingsPath = settingsFile.path();

  // Where this platform keeps the Security log and the files that the log names.
  const qs::platform::PathMap drives = settingsFile.ReadDrives();
  std::unique_ptr<qs::platform::EventLogService> eventLog =
      qs::platform::MakePosixEventLogService(settingsFile.SecurityLogPath());
  std::unique_ptr<qs::platform::SystemInfoService> system =
      qs::platform::MakePosixSystemInfoService();

  qs::ProgramState state;
  qs::WindowServices services;
  services.system = system.get();
  services.eventLog = eventLog.get();
  services.readSettings = [&settingsFile] { return settingsFile.ReadConfiguration(); };
  services.writeSetting = [settingsPath](std::string_view key, std::string_view value) {
    // The result is not examined: a failed write leaves the new value in memory for the run.
    qs::platform::WritePrivateProfileString(qs::kConfigurationSection, key, value, settingsPath);
  };
  services.programFolder = programFolder;

  qs::frmQuillstamp window(state, services);
  const qs::platform::PosixFileStatus fileStatus(drives);
  qs::FileComments writers(state.eventList, state.scan.currentEvent, state.settings, window,
                           drives);
  qs::FileCommentStep comments(state.eventList, state.scan.currentEvent, state.settings, fileStatus,
                               writers, window);
  window.SetCommentStep(&comments);

  window.Form_Load();
  window.show();
  return QApplication::exec();
}
