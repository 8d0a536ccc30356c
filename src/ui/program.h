// The program as a whole: the settings file beside the executable, the platform services it
// names, the main window and the comment step, wired together. The executable and the screenshot
// tool build the same program.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "comments/comment_pass.h"
#include "comments/file_comments.h"
#include "core/settings_file.h"
#include "platform/path_map.h"
#include "platform/services.h"
#include "ui/main_window.h"

namespace qs {

class Program {
 public:
  // programFolder: where Quillstamp.ini and QuillstampDOC.htm live. trayAvailable replaces the
  // desktop's answer when set. A QApplication must exist.
  explicit Program(const std::string& programFolder, std::function<bool()> trayAvailable = {});

  frmQuillstamp& window() { return window_; }
  ProgramState& state() { return state_; }

 private:
  static WindowServices Services(Program& self, const std::string& programFolder,
                                 std::function<bool()> trayAvailable);

  SettingsFile settingsFile_;
  // Where this platform keeps the Security log and the files that the log names.
  const platform::PathMap drives_;
  platform::PlatformServices platform_;
  ProgramState state_;
  frmQuillstamp window_;
  FileComments writers_;
  FileCommentStep comments_;
};

}  // namespace qs
