#include "core/run_control.h"

namespace qs {

void RunControl::RunPass() {
  passRunning_ = true;
  // The mark must come off however the pass ends.
  struct Clear {
    bool& mark;
    ~Clear() { mark = false; }
  } clear{passRunning_};
  view_.RunScanPass();
}

void RunControl::cmdGo_Click() {
  if (run_.StopFlag) {
    if (passRunning_) return;  // the stopped pass has not returned yet
    view_.SetGoButton(true);
    run_.StopFlag = false;
    view_.SetStartMenuCaption(kStopAnalysis);
    view_.SetRunLocksEnabled(false);
    view_.RepaintNow();
    RunPass();
    return;
  }
  view_.SetTimerEnabled(false);
  view_.SetGoButton(false);
  view_.SetWaitingValue(0);
  view_.SetStartMenuCaption(kStartAnalysis);
  view_.SetRunLocksEnabled(true);
  view_.RepaintNow();
  run_.StopFlag = true;
}

void RunControl::Timer1_Timer() {
  if (passRunning_) return;
  if (run_.RemainingWait <= 0) {
    view_.SetWaitingValue(0);
    RunPass();
    run_.RemainingWait = settings_.Temporisation;
  }
  view_.SetWaitingValue(settings_.Temporisation - run_.RemainingWait);
  run_.RemainingWait -= 1;
}

}  // namespace qs
