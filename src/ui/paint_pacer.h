// Holds back the repaints of a window while a pass runs, so that the window paints at a steady
// rate rather than after every record.
//
// A pass changes the window after every record it reads: the grid gains a row and loses one,
// marks are written, the count and the progress bar move. Painting all of that after each record
// costs milliseconds (every visible cell is laid out and drawn again), far more than the record's
// own work, and nobody can see more than a few dozen pictures a second. So while a pass runs, the
// window's repaint requests are let through at most once per interval; a request that comes
// sooner is held, and the window paints once the interval is over (a timer, which runs in every
// yield's full round of event processing and in any nested event loop) and at the end of the
// pass. Nothing else is held: input, timers and queued calls are handled as they come (see
// frmQuillstamp::ProcessPendingEvents), and the widgets' state (texts, values, rows) changes at
// once; only its picture waits. Exposures that the window system asks for are painted at once as
// usual.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>

class QWidget;

namespace qs {

class PaintPacer : public QObject {
 public:
  // window: a top-level widget that outlives the pacer; interval: the shortest time between two
  // paints of the window while a pass runs.
  PaintPacer(QWidget* window, std::chrono::milliseconds interval);
  ~PaintPacer() override;

  // From BeginPass to EndPass the window's repaints are paced; EndPass paints what was held.
  // Passes never nest, but the calls count, so that only the outer pair counts.
  void BeginPass();
  void EndPass();
  bool Pacing() const { return passes_ > 0; }

  // Repaints the window at once, whatever the pace (run control's "repainted at once").
  void RepaintNow();

  // Whether a repaint is being held for later.
  bool PaintHeld() const { return held_; }

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PaintHeldNow();
  void Painted() { lastPaint_.restart(); }

  QWidget* window_;
  std::chrono::milliseconds interval_;
  QElapsedTimer lastPaint_;
  QTimer release_;
  int passes_ = 0;
  bool held_ = false;
  bool letThrough_ = false;
};

}  // namespace qs
