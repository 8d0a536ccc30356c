// The notification-area icon and the window's behaviour around it: hiding when minimised, the
// first activation's automatic start, showing again, and "&Exit".
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDateTime>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <QWindowStateChangeEvent>

#include "core/app_title.h"
#include "ui/main_window.h"
#include "ui/main_window_parts.h"

namespace qs {

bool frmQuillstamp::TrayAvailable() const {
  if (services_.trayAvailable) return services_.trayAvailable();
  return QSystemTrayIcon::isSystemTrayAvailable();
}

bool frmQuillstamp::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FirstActivation();
  return QMainWindow::event(e);
}

void frmQuillstamp::FirstActivation() {
  // Only the first activation starts the analysis by itself: a later one (after "Show main
  // window") would otherwise stop a running analysis.
  if (!loaded_ || activatedOnce_) return;
  activatedOnce_ = true;
  activationGrace_->stop();
  if (state_.settings.Automatic) {
    setWindowState(windowState() | Qt::WindowMinimized);
    // The pass runs from the event loop rather than inside the activation's delivery.
    QTimer::singleShot(0, this, [this] { cmdGo_Click(); });
  }
}

void frmQuillstamp::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange) Form_Resize();
}

void frmQuillstamp::Form_Resize() {
  // Without a notification area there would be no way back to a hidden window: it stays
  // minimised in the task bar instead.
  if (isMinimized() && TrayAvailable()) hide();
  mnuRestaurer_->setVisible(isHidden());
}

void frmQuillstamp::closeEvent(QCloseEvent* e) {
  // The window has no Close: "&Exit" is the only way out.
  e->ignore();
}

void frmQuillstamp::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // Without a window manager (a virtual display, a session that activates nothing at login) no
  // activation ever comes; the automatic start then follows the first showing.
  if (loaded_ && !activatedOnce_ && !activationGrace_->isActive()) activationGrace_->start();
  if (!centred_) {
    centred_ = true;
    if (QScreen* screen = this->screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
}

void frmQuillstamp::IconNotified(IconClickMerger::Notice notice) {
  const int message = clickMerger_.MessageFor(notice, QDateTime::currentMSecsSinceEpoch(),
                                              QApplication::doubleClickInterval());
  PictureQuillstamp1_MouseMove(0, 0, IconMessageX(message, iconTwipsPerPixel()), 0);
}

void frmQuillstamp::PictureQuillstamp1_MouseMove(int /*button*/, int /*shift*/, float x,
                                                 float /*y*/) {
  switch (DecodeIconX(x)) {
    case TrayAction::Toggle:
      ToggleWindow();
      break;
    case TrayAction::PopupMenu:
      // Trays that open the icon's menu themselves have already shown it.
      if (!mnuFichier_->isVisible()) mnuFichier_->popup(QCursor::pos());
      break;
    case TrayAction::None:
      break;
  }
}

void frmQuillstamp::ToggleWindow() {
  if (isMinimized() || isHidden()) {
    // In front of every other window for a moment, then an ordinary window again.
    QWindow* handle = windowHandle();
    if (handle != nullptr) handle->setFlag(Qt::WindowStaysOnTopHint, true);
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    if (handle != nullptr) handle->setFlag(Qt::WindowStaysOnTopHint, false);
    show();
    raise();
    activateWindow();
    mnuRestaurer_->setVisible(isHidden());
  } else {
    setWindowState(windowState() | Qt::WindowMinimized);
  }
}

void frmQuillstamp::mnuRestaurer_Click() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
  mnuRestaurer_->setVisible(isHidden());
}

void frmQuillstamp::mnuQuitter_Click() {
  QMessageBox box(QMessageBox::Question, Q(kAppName), "Exit program",
                  QMessageBox::Yes | QMessageBox::No, this);
  if (box.exec() != QMessageBox::Yes) return;
  if (tray_ != nullptr) tray_->hide();
  if (services_.quit)
    services_.quit();
  else
    QCoreApplication::exit(0);
}

}  // namespace qs
