// The Windows program as a whole: the settings file beside the executable, the platform services
// it names, the main window and the comment step, wired together. The executable and the tests
// build the same program.
#pragma once

#include <windows.h>

#include <string>

#include "comments/comment_pass.h"
#include "comments/file_comments.h"
#include "core/settings_file.h"
#include "platform/path_map.h"
#include "platform/services.h"
#include "win32ui/main_window.h"

namespace qs::win32ui {

class Program {
 public:
  // programFolder: where Quillstamp.ini and QuillstampDOC.htm live. `hooks` gives the window's
  // message box, quit, shell and popup-menu replacements (tests); its other fields are filled
  // here.
  Program(const std::string& programFolder, WindowServices hooks = {});

  frmQuillstamp& window() { return window_; }
  ProgramState& state() { return state_; }
  SettingsFile& settingsFile() { return settingsFile_; }

 private:
  static WindowServices Services(Program& self, const std::string& programFolder,
                                 WindowServices hooks);

  SettingsFile settingsFile_;
  // Where the Security log and the files that the log names are found.
  const platform::PathMap drives_;
  platform::PlatformServices platform_;
  ProgramState state_;
  frmQuillstamp window_;
  FileComments writers_;
  FileCommentStep comments_;
};

}  // namespace qs::win32ui
