// The performance dialog (frmPerformance): the rounds of event processing per yield, on a scroll
// bar from 1 to 100.
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/dialog_parts.h"
#include "ui/settings_dialogs.h"

namespace qs {

namespace {

// A horizontal scroll bar whose Left and Right keys move the thumb the way they point. Qt's scroll
// bars invert their controls (so that the wheel scrolls a page the natural way), which on a
// horizontal bar also turns Left into a step towards the maximum. Up, Down, Page Up, Page Down,
// Home, End and the wheel keep their behaviour: Up and Page Up go towards the minimum, as on a
// horizontal scroll bar of Windows.
class PointingScrollBar : public QScrollBar {
 public:
  using QScrollBar::QScrollBar;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (orientation() == Qt::Horizontal &&
        (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)) {
      // In a right-to-left layout the minimum is at the right end.
      const bool towardsMinimum = (event->key() == Qt::Key_Left) != isRightToLeft();
      triggerAction(towardsMinimum ? SliderSingleStepSub : SliderSingleStepAdd);
      event->accept();
      return;
    }
    QScrollBar::keyPressEvent(event);
  }
};

}  // namespace

PerformanceDialog::PerformanceDialog(Settings& settings, SettingsKeyWriter& writer, QWidget* parent)
    : QDialog(parent), settings_(settings), writer_(writer) {
  setWindowTitle(QString::fromLatin1(kVersionedTitle));
  setModal(true);

  QLabel* title = MakeLabel("Set performance", "lblPerformance", this);

  scroll_ = new PointingScrollBar(Qt::Horizontal, this);
  scroll_->setObjectName(QStringLiteral("HScroll1"));
  scroll_->setRange(1, 100);
  scroll_->setSingleStep(1);
  scroll_->setPageStep(1);  // a click beside the thumb moves one step, like an arrow
  scroll_->setValue(settings_.Performance);
  scroll_->setMinimumWidth(480);

  QLabel* lblMin = MakeLabel("Flowing less freely and quicker", "lblMin", this);
  lblMin->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QLabel* lblMax = MakeLabel("Flowing more freely and slower", "lblMax", this);
  lblMax->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* ends = new QHBoxLayout;
  ends->addWidget(lblMin);
  ends->addStretch(1);
  ends->addWidget(lblMax);

  ok_ = MakeButton("&OK", "cmdOK", this);
  cancel_ = MakeButton("&Cancel", "cmdAnnuler", this);
  ok_->setDefault(true);
  cancel_->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title);
  layout->addWidget(scroll_);
  layout->addLayout(ends);
  layout->addSpacing(6);
  layout->addLayout(ButtonRow(ok_, cancel_));
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(ok_, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  scroll_->setFocus();
}

void PerformanceDialog::cmdOK_Click() {
  // No check: the scroll bar only yields 1 to 100.
  const int value = scroll_->value();
  WritePerformance(writer_, settings_, static_cast<std::int16_t>(value));
  accept();
}

bool ShowPerformanceDialog(QWidget* parent, Settings& settings, SettingsKeyWriter& writer) {
  PerformanceDialog dialog(settings, writer, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace qs
