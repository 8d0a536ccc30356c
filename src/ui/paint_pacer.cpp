#include "ui/paint_pacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <algorithm>

namespace qs {

PaintPacer::PaintPacer(QWidget* window, std::chrono::milliseconds interval)
    : window_(window), interval_(std::max(interval, std::chrono::milliseconds(0))) {
  release_.setSingleShot(true);
  connect(&release_, &QTimer::timeout, this, [this] { PaintHeldNow(); });
  window_->installEventFilter(this);
}

PaintPacer::~PaintPacer() { window_->removeEventFilter(this); }

void PaintPacer::BeginPass() {
  if (passes_++ == 0) lastPaint_.invalidate();
}

void PaintPacer::EndPass() {
  if (passes_ == 0 || --passes_ > 0) return;
  release_.stop();
  if (held_) PaintHeldNow();
}

void PaintPacer::RepaintNow() {
  letThrough_ = true;
  window_->repaint();
  letThrough_ = false;
  held_ = false;
  release_.stop();
  Painted();
}

void PaintPacer::PaintHeldNow() {
  if (!held_) return;
  held_ = false;
  // The toolkit posts one repaint request for all that became dirty and none after it until that
  // one is handled; the request held back stands for everything dirty since, so one request
  // paints it all.
  QEvent request(QEvent::UpdateRequest);
  letThrough_ = true;
  QCoreApplication::sendEvent(window_, &request);
  letThrough_ = false;
  Painted();
}

bool PaintPacer::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_ || event->type() != QEvent::UpdateRequest || letThrough_ || passes_ == 0)
    return false;
  const std::chrono::milliseconds since(lastPaint_.isValid() ? lastPaint_.elapsed() : 0);
  if (!lastPaint_.isValid() || since >= interval_) {
    Painted();
    return false;
  }
  held_ = true;
  if (!release_.isActive()) {
    release_.start(std::max(interval_ - since, std::chrono::milliseconds(1)));
  }
  return true;
}

}  // namespace qs
