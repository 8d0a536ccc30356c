// Start/Stop and the wait between two passes: cmdGo_Click, mnuStart_Click and Timer1_Timer.
// Free of any toolkit: the window provides the controls through RunControlView.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/run_state.h"
#include "core/settings.h"

namespace qs {

inline constexpr std::string_view kStartCaption = "Start";
inline constexpr std::string_view kStartAnalysis = "Start analysis";
inline constexpr std::string_view kStopAnalysis = "Stop analysis";

// The controls that run control switches, and the pass it starts.
class RunControlView {
 public:
  virtual ~RunControlView() = default;
  // cmdGo: caption "Start" and the start image, or an empty caption and the stop image.
  virtual void SetGoButton(bool running) = 0;
  virtual void SetStartMenuCaption(std::string_view caption) = 0;  // mnuStart
  // mnuQuitter, mnuConfiguration and FrameComments together.
  virtual void SetRunLocksEnabled(bool enabled) = 0;
  virtual void RepaintNow() = 0;
  virtual void SetTimerEnabled(bool enabled) = 0;        // Timer1 (the pass itself only enables it)
  virtual void SetWaitingValue(std::int32_t value) = 0;  // ProgressBarAttente
  virtual void RunScanPass() = 0;                        // one ScanPass, synchronously
};

class RunControl {
 public:
  RunControl(RunState& run, const Settings& settings, RunControlView& view)
      : run_(run), settings_(settings), view_(view) {}

  // Starts the analysis when StopFlag is set (returning after the pass it runs), else stops it.
  // A Start that comes while a stopped pass is still winding down does nothing.
  void cmdGo_Click();
  void mnuStart_Click() { cmdGo_Click(); }
  // One tick of the wait; a tick that falls due while a pass runs does nothing.
  void Timer1_Timer();

  bool PassRunning() const { return passRunning_; }

 private:
  void RunPass();

  RunState& run_;
  const Settings& settings_;
  RunControlView& view_;
  // Busy mark: set for the length of every pass, so that no pass ever starts inside another one
  // while the running pass lets the window handle its events.
  bool passRunning_ = false;
};

}  // namespace qs
