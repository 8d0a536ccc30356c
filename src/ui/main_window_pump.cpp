// The event pump that every yield of a pass runs, and the controls that the pass and run control
// drive.
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

#include "core/app_title.h"
#include "ui/main_window.h"
#include "ui/main_window_parts.h"
#include "ui/paint_pacer.h"

namespace qs {

void frmQuillstamp::SetGoButton(bool running) {
  cmdGo_->setText(running ? QString() : Q(kStartCaption));
  cmdGo_->setIcon(QIcon(running ? ":/quillstamp/stop.png" : ":/quillstamp/start.png"));
}

void frmQuillstamp::SetStartMenuCaption(std::string_view caption) {
  mnuStart_->setText(Q(caption));
}

void frmQuillstamp::SetRunLocksEnabled(bool enabled) {
  mnuQuitter_->setEnabled(enabled);
  mnuConfiguration_->menuAction()->setEnabled(enabled);
  FrameComments_->setEnabled(enabled);
}

void frmQuillstamp::RepaintNow() { pacer_->RepaintNow(); }

void frmQuillstamp::SetTimerEnabled(bool enabled) {
  if (!enabled)
    Timer1_->stop();
  else if (!Timer1_->isActive())
    Timer1_->start();
}

void frmQuillstamp::SetWaitingValue(std::int32_t value) { ProgressBarAttente_->setValue(value); }

void frmQuillstamp::RunScanPass() {
  if (commentStep_ == nullptr) qFatal("Quillstamp: a pass was started without its comment step");
  ScanContext context{*services_.eventLog, state_.eventList, state_.scan, state_.settings,
                      state_.run,          state_.selection, *this,       *commentStep_};
  // The window paints at its own pace during the pass, and shows the pass's end at once.
  struct Paced {
    PaintPacer& pacer;
    explicit Paced(PaintPacer& p) : pacer(p) { pacer.BeginPass(); }
    ~Paced() { pacer.EndPass(); }
  } paced(*pacer_);
  ScanPass(context);
}

// ---- What the pass drives ---------------------------------------------------------------------

bool frmQuillstamp::ProcessPendingEvents() {
  // Qt 6 can no longer say beforehand whether events are pending, so a round processes what is
  // there and tells afterwards: the dispatcher reports the timers, sockets and window-system
  // events it handled, and the counter catches the posted events (repaints, queued calls) that
  // the dispatcher delivers without reporting them.
  const std::uint64_t before = eventCounter_->count;
  // A full round asks the window system and the timers whether anything waits, which costs a
  // system call even when nothing does, and a pass yields after every record and every comment
  // written, up to a hundred thousand times a second. So during a pass a full round is run once
  // kFullRoundSpacing has passed since the last one; a yield in between delivers what the program
  // has posted to itself (queued calls, input events posted to a widget). Input from the window
  // system and timers are thus handled within a millisecond, far below what anybody can notice.
  if (pacer_->Pacing() && sinceFullRound_.isValid() &&
      sinceFullRound_.nsecsElapsed() < kFullRoundSpacing.count()) {
    QCoreApplication::sendPostedEvents();
    return eventCounter_->count != before;
  }
  sinceFullRound_.restart();
  bool handled = false;
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
    handled = dispatcher->processEvents(QEventLoop::AllEvents);
  else
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  return handled || eventCounter_->count != before;
}

void frmQuillstamp::ShowEventsStatus(std::string_view text) { SetCaption(lblEvents_, Q(text)); }

void frmQuillstamp::ShowMaxEvents(std::string_view text) { SetCaption(lblMaxEvents_, Q(text)); }

void frmQuillstamp::SetProgressMaximum(std::int32_t maximum) {
  ProgressEvents_->setMaximum(maximum);
}

void frmQuillstamp::SetProgressValue(std::int32_t value) { ProgressEvents_->setValue(value); }

bool frmQuillstamp::IsWindowVisible() const { return isVisible(); }

void frmQuillstamp::ShowOpenLogError(std::string_view message) {
  QMessageBox box(QMessageBox::NoIcon, Q(kAppName), Q(message), QMessageBox::Ok, this);
  box.exec();
}

void frmQuillstamp::EnableTimer() { SetTimerEnabled(true); }

}  // namespace qs
