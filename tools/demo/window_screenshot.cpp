// Takes a picture of the main window after one pass over a demo, for the eye of a reviewer:
//
//   quillstamp_screenshot PROGRAM_FOLDER OUT.png [IDLE.png]
//
// PROGRAM_FOLDER holds the Quillstamp.ini that quillstamp_demo wrote. The window is built and
// wired exactly as the program builds it, Start is pressed, and once the pass is over the window
// (menu bar and client area) is saved; IDLE.png, when given, shows it before Start. Run it under
// xvfb-run or with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
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
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: quillstamp_screenshot PROGRAM_FOLDER OUT.png [IDLE.png]\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const std::string programFolder = argv[1];
  const qs::SettingsFile settingsFile(qs::SettingsFilePathIn(programFolder));
  const std::string settingsPath = settingsFile.path();
  const qs::platform::PathMap drives = settingsFile.ReadDrives();
  auto eventLog = qs::platform::MakePosixEventLogService(settingsFile.SecurityLogPath());
  auto system = qs::platform::MakePosixSystemInfoService();

  qs::ProgramState state;
  qs::WindowServices services;
  services.system = system.get();
  services.eventLog = eventLog.get();
  services.readSettings = [&settingsFile] { return settingsFile.ReadConfiguration(); };
  services.writeSetting = [settingsPath](std::string_view key, std::string_view value) {
    qs::platform::WritePrivateProfileString(qs::kConfigurationSection, key, value, settingsPath);
  };
  services.programFolder = programFolder;
  services.trayAvailable = [] { return false; };
  qs::frmQuillstamp window(state, services);
  const qs::platform::PosixFileStatus fileStatus(drives);
  qs::FileComments writers(state.eventList, state.scan.currentEvent, state.settings, window,
                           drives);
  qs::FileCommentStep comments(state.eventList, state.scan.currentEvent, state.settings, fileStatus,
                               writers, window);
  window.SetCommentStep(&comments);
  window.Form_Load();
  window.show();

  int status = 1;
  QTimer::singleShot(200, &window, [&] {
    if (argc == 4) window.grab().save(QString::fromLocal8Bit(argv[3]));
    window.cmdGo_Click();  // returns once the pass is over; the wait has begun
    QTimer::singleShot(2500, &window, [&] {
      status = window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
      std::printf("%s: %d events listed\n", argv[2], state.eventList.EventCount());
      QCoreApplication::exit(status);
    });
  });
  QApplication::exec();
  return status;
}
