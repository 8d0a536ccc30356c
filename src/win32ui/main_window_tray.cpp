// The notification-area icon and the window's behaviour around it: hiding when minimised, the
// first activation's automatic start, showing again, and "&Exit".
#include <windows.h>

#include <shellapi.h>

#include "core/app_title.h"
#include "core/tray.h"
#include "win32ui/main_window.h"

namespace qs::win32ui {

void frmQuillstamp::FirstActivation() {
  // Only the first activation starts the analysis by itself: a later one (after "Show main
  // window") would otherwise stop a running analysis.
  if (!loaded_ || !shown_ || activatedOnce_) return;
  activatedOnce_ = true;
  KillTimer(hwnd_, kActivationGraceTimer);
  // Minimising and the pass come from the message loop rather than inside the activation's
  // delivery, which may itself be inside the call that shows the window.
  if (state_.settings.Automatic) PostMessageA(hwnd_, kMsgAutomaticStart, 0, 0);
}

void frmQuillstamp::Form_Resize(WPARAM sizeKind) {
  if (!loaded_) return;  // the window is still being made
  // Without a notification area there would be no way back to a hidden window: it stays
  // minimised in the task bar instead.
  if (sizeKind == SIZE_MINIMIZED && trayIconAdded_) ShowWindow(hwnd_, SW_HIDE);
  SetRestoreVisible(!::IsWindowVisible(hwnd_) || IsIconic(hwnd_));
}

void frmQuillstamp::SetRestoreVisible(bool visible) {
  // A Win32 menu has no hidden items: "Show main window" is put in and taken out, second in the
  // File menu.
  if (visible == restoreShown_) return;
  restoreShown_ = visible;
  if (visible)
    InsertMenuA(mnuFichier_, 1, MF_BYPOSITION | MF_STRING, kIdRestaurer, "Show main window");
  else
    DeleteMenu(mnuFichier_, kIdRestaurer, MF_BYCOMMAND);
}

void frmQuillstamp::IconNotified(UINT mouseMessage) {
  // The icon's picture box would report the mouse message times the screen's twips per pixel;
  // the same decoding then gives the same actions at the same scales.
  PictureQuillstamp1_MouseMove(IconMessageX(static_cast<int>(mouseMessage), TwipsPerPixel(dpi_)));
}

void frmQuillstamp::PictureQuillstamp1_MouseMove(float x) {
  switch (DecodeIconX(x)) {
    case TrayAction::Toggle:
      ToggleWindow();
      break;
    case TrayAction::PopupMenu: {
      POINT at{};
      GetCursorPos(&at);
      if (services_.popupMenu) {
        services_.popupMenu(mnuFichier_, at);
      } else {
        // The menu closes when the user clicks elsewhere only if the window is in front first.
        SetForegroundWindow(hwnd_);
        TrackPopupMenu(mnuFichier_, TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd_, nullptr);
        PostMessageA(hwnd_, WM_NULL, 0, 0);
      }
      break;
    }
    case TrayAction::None:
      break;
  }
}

void frmQuillstamp::ToggleWindow() {
  constexpr UINT kFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;  // 83
  if (IsIconic(hwnd_) || !::IsWindowVisible(hwnd_)) {
    // In front of every other window for a moment, then an ordinary window again.
    SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, kFlags);
    ShowWindow(hwnd_, SW_RESTORE);
    SetWindowPos(hwnd_, HWND_NOTOPMOST, 0, 0, 0, 0, kFlags);
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    SetFocus(hwnd_);
    SetRestoreVisible(false);
  } else {
    ShowWindow(hwnd_, SW_MINIMIZE);
  }
}

void frmQuillstamp::mnuRestaurer_Click() {
  ShowWindow(hwnd_, SW_RESTORE);
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  SetFocus(hwnd_);
  SetRestoreVisible(false);
}

void frmQuillstamp::mnuQuitter_Click() {
  // "&Exit" is greyed while the analysis runs; a command that comes anyway does nothing, so that
  // the program never ends inside a pass.
  if (!RunLocksEnabled() || exiting_) return;
  if (ShowMessage("Exit program", std::string(kAppName), MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  exiting_ = true;
  DeleteTrayIcon();
  if (services_.quit) {
    services_.quit();
  } else {
    PostQuitMessage(0);
  }
}

bool frmQuillstamp::NotifyIcon(DWORD message) {
  if (services_.notifyIcon) return services_.notifyIcon(message, trayIconData_);
  return Shell_NotifyIconA(message, &trayIconData_) != FALSE;
}

bool frmQuillstamp::AddTrayIcon() {
  trayIconData_.hIcon = smallIcon_ != nullptr ? smallIcon_ : icon_;
  trayIconAdded_ = NotifyIcon(NIM_ADD);
  return trayIconAdded_;
}

void frmQuillstamp::RetryTrayIcon() {
  if (trayIconAdded_ || trayRetriesLeft_ <= 0 || exiting_) {
    trayRetriesLeft_ = 0;
    KillTimer(hwnd_, kTrayRetryTimer);
    return;
  }
  --trayRetriesLeft_;
  if (AddTrayIcon() || trayRetriesLeft_ == 0) {
    trayRetriesLeft_ = 0;
    KillTimer(hwnd_, kTrayRetryTimer);
  }
}

void frmQuillstamp::TaskbarCreated() {
  // Explorer started again: the icons it showed are gone with it. The icon is added again (and
  // one that was never added gets its chance); an icon the new notification area still knows
  // (a message sent for another reason) is kept.
  if (!loaded_ || exiting_) return;
  if (!AddTrayIcon()) trayIconAdded_ = NotifyIcon(NIM_MODIFY);
  if (trayIconAdded_) {
    trayRetriesLeft_ = 0;
    KillTimer(hwnd_, kTrayRetryTimer);
  }
}

void frmQuillstamp::DeleteTrayIcon() {
  trayRetriesLeft_ = 0;
  if (hwnd_ != nullptr) KillTimer(hwnd_, kTrayRetryTimer);
  if (!trayIconAdded_) return;
  trayIconAdded_ = false;
  NotifyIcon(NIM_DELETE);  // a failure is ignored
}

}  // namespace qs::win32ui
