// The settings dialogs of the Configuration menu (frmTempo, frmMaxSelected, frmMaxWinComments,
// frmPerformance), the about box (frmAbout), help, and the message boxes of the window.
//
// Each dialog is built afresh from its resource template, runs modally over the main window and
// returns true when the user accepted a value (OK), false on Cancel or Esc. On OK the dialog
// stores the value in the settings, writes its one key and brings the main window up to date; on
// Cancel nothing changes.
#pragma once

#include <windows.h>

#include <string>

#include "core/numeric_setting.h"
#include "win32ui/main_window.h"

namespace qs::win32ui {

bool ShowNumericDialog(NumericDialogKind kind, frmQuillstamp& window);
bool ShowPerformanceDialog(frmQuillstamp& window);
void ShowAboutBox(const WindowServices& services, HWND owner);

// mnuAide: opens `programFolder` + "\QuillstampDOC.htm" with the shell when an ordinary file is
// there (not a folder, not hidden, not a system file); otherwise says "Documentation not yet
// available..." (information icon, titled "Quillstamp"). When the shell cannot open it, says so
// and where the file is: "No program on this computer opens .htm files. The documentation is the
// file " and its path when no program is set for .htm files, "The documentation could not be
// opened: " and its path otherwise.
void OpenHelp(const WindowServices& services, HWND owner, const std::string& programFolder);
std::string DocumentationPath(const std::string& programFolder);

// The services' message box, or MessageBoxA.
int ShowMessageBox(const WindowServices& services, HWND owner, const std::string& text,
                   const std::string& title, UINT style);

// The about box's description line.
std::string AboutCredit();

}  // namespace qs::win32ui
