#include "ui/settings_dialogs.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSizePolicy>
#include <QToolButton>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "platform/profile.h"
#include "ui/core/settings_file.h"
#include "ui/core/text_number.h"

namespace qs {

namespace {

// One row per numeric dialog: everything in which the three differ, apart from the order of their
// main-window updates (cmdOK_Click).
struct NumericDialogRow {
  const char* titleCaption;  // lblTempo
  const char* unitName;      // the unit label's object name
  const char* unitCaption;
  const char* key;
  std::int32_t minimum;
  std::int32_t maximum;
  const char* minimumMessage;
  const char* maximumMessage;
  std::int32_t (*get)(const Settings&);
  void (*set)(Settings&, std::int32_t);
};

const NumericDialogRow& RowOf(NumericDialogKind kind) {
  static const NumericDialogRow rows[] = {
      {"Set time between two Security Log analysis", "lblSecondes", "seconds", "Temporisation", 1,
       60000, "Minimal temporisation reached", "Maximal temporisation reached",
       [](const Settings& s) -> std::int32_t { return s.Temporisation; },
       [](Settings& s, std::int32_t v) { s.Temporisation = v; }},
      {"Set max selected events in list", "lblEvents", "events", "MaxSelectedEvents", 10, 3000,
       "Minimal selected events reached", "Maximal selected events reached",
       [](const Settings& s) -> std::int32_t { return s.MaxSelectedEvents; },
       [](Settings& s, std::int32_t v) { s.MaxSelectedEvents = static_cast<std::int16_t>(v); }},
      {"Set max size for Windows 2000 comments", "lblCharacters", "characters", "MaxWinComments",
       100, 10000, "Minimal size reached", "Maximal size reached",
       [](const Settings& s) -> std::int32_t { return s.MaxWinComments; },
       [](Settings& s, std::int32_t v) { s.MaxWinComments = static_cast<std::int16_t>(v); }},
  };
  switch (kind) {
    case NumericDialogKind::Tempo:
      return rows[0];
    case NumericDialogKind::MaxSelected:
      return rows[1];
    case NumericDialogKind::MaxWinComments:
      return rows[2];
  }
  return rows[0];
}

// The number at the start of a text box's text, by the same rule as the settings file.
double NumberOf(const QLineEdit* edit) {
  const QByteArray text = edit->text().toUtf8();
  return TextToNumber(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}

QPushButton* MakeButton(const char* caption, const char* name, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

QLabel* MakeLabel(const char* caption, const char* name, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

QHBoxLayout* ButtonRow(QPushButton* ok, QPushButton* cancel) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(ok);
  row->addWidget(cancel);
  return row;
}

std::string Decimal(std::int32_t value) { return std::to_string(value); }

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

void SettingsFileKeyWriter::WriteKey(std::string_view key, std::string_view value) {
  platform::WritePrivateProfileString(kConfigurationSection, key, value, path_);
}

QString DecimalText(double n) {
  if (std::isnan(n)) return QStringLiteral("0");
  // An infinite reading stays on the largest number the box can show, so that the arrows keep
  // working on it.
  if (std::isinf(n)) n = std::copysign(std::numeric_limits<double>::max(), n);
  if (n == 0) return QStringLiteral("0");  // also -0
  // Shortest round-trip digits in scientific form, then laid out without the exponent, so that
  // 1e20 shows as 100000000000000000000 rather than as the binary value's exact expansion.
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, n, std::chars_format::scientific);
  if (ec != std::errc()) return QStringLiteral("0");
  const std::string text(buffer, end);
  const std::size_t e = text.find('e');
  const int exponent = std::stoi(text.substr(e + 1));
  std::string mantissa = text.substr(0, e);
  std::string sign;
  if (mantissa[0] == '-') {
    sign = "-";
    mantissa.erase(0, 1);
  }
  std::string digits;
  for (char c : mantissa)
    if (c != '.') digits += c;
  // digits = d0 d1 d2 ..., value = 0.d0d1d2... * 10^(exponent + 1)
  const int pointAt = exponent + 1;
  std::string out;
  if (pointAt <= 0) {
    out = "0." + std::string(static_cast<std::size_t>(-pointAt), '0') + digits;
  } else if (static_cast<std::size_t>(pointAt) >= digits.size()) {
    out = digits + std::string(static_cast<std::size_t>(pointAt) - digits.size(), '0');
  } else {
    out = digits.substr(0, static_cast<std::size_t>(pointAt)) + "." +
          digits.substr(static_cast<std::size_t>(pointAt));
  }
  return QString::fromStdString(sign + out);
}

NumericSettingDialog::NumericSettingDialog(NumericDialogKind kind, Settings& settings,
                                           SettingsKeyWriter& writer, MainWindowUpdates& window,
                                           QWidget* parent)
    : QDialog(parent), kind_(kind), settings_(settings), writer_(writer), window_(window) {
  const NumericDialogRow& row = RowOf(kind_);
  setWindowTitle(QString::fromLatin1(kVersionedTitle));
  setModal(true);

  QLabel* title = MakeLabel(row.titleCaption, "lblTempo", this);

  text1_ = new QLineEdit(this);
  text1_->setObjectName(QStringLiteral("Text1"));
  text1_->setText(QString::number(row.get(settings_)));

  auto* upDown = new QWidget(this);
  upDown->setObjectName(QStringLiteral("UpDown1"));
  auto* arrows = new QVBoxLayout(upDown);
  arrows->setContentsMargins(0, 0, 0, 0);
  arrows->setSpacing(0);
  up_ = new QToolButton(upDown);
  up_->setObjectName(QStringLiteral("UpDown1Up"));
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(upDown);
  down_->setObjectName(QStringLiteral("UpDown1Down"));
  down_->setArrowType(Qt::DownArrow);
  const int arrowHeight = text1_->sizeHint().height() / 2;
  for (QToolButton* arrow : {up_, down_}) {
    arrow->setFixedSize(arrowHeight + 6, arrowHeight);
    arrow->setFocusPolicy(Qt::NoFocus);
    arrows->addWidget(arrow);
  }

  QLabel* unit = MakeLabel(row.unitCaption, row.unitName, this);

  auto* valueRow = new QHBoxLayout;
  valueRow->setSpacing(2);
  valueRow->addWidget(text1_);
  valueRow->addWidget(upDown);
  valueRow->addSpacing(6);
  valueRow->addWidget(unit);
  valueRow->addStretch(1);

  label1_ = MakeLabel("", "Label1", this);
  // The message label keeps its place while hidden, so the dialog does not jump at each click.
  QSizePolicy keep = label1_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  label1_->setSizePolicy(keep);
  label1_->setMinimumWidth(
      label1_->fontMetrics().horizontalAdvance(QString::fromUtf8(row.maximumMessage)));
  label1_->setText(QString::fromUtf8(row.maximumMessage));  // sizes the line; hidden until used
  label1_->hide();

  ok_ = MakeButton("&OK", "cmdOK", this);
  cancel_ = MakeButton("&Cancel", "cmdAnnuler", this);
  ok_->setDefault(true);
  cancel_->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title);
  layout->addLayout(valueRow);
  layout->addWidget(label1_);
  layout->addLayout(ButtonRow(ok_, cancel_));
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(down_, &QToolButton::clicked, this, [this] { UpDown1_DownClick(); });
  connect(up_, &QToolButton::clicked, this, [this] { UpDown1_UpClick(); });
  connect(ok_, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
  // Cancel and Esc both close the dialog without touching anything.
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  text1_->setFocus();
  text1_->selectAll();
}

void NumericSettingDialog::UpDown1_DownClick() {
  const NumericDialogRow& row = RowOf(kind_);
  double n = RoundHalfEven(NumberOf(text1_) - 1);
  if (n <= row.minimum) {
    n = row.minimum;
    label1_->setText(QString::fromUtf8(row.minimumMessage));
    label1_->show();
  } else {
    label1_->hide();
  }
  text1_->setText(DecimalText(n));
  text1_->repaint();
}

void NumericSettingDialog::UpDown1_UpClick() {
  const NumericDialogRow& row = RowOf(kind_);
  double n = RoundHalfEven(NumberOf(text1_) + 1);
  if (n >= row.maximum) {
    n = row.maximum;
    label1_->setText(QString::fromUtf8(row.maximumMessage));
    label1_->show();
  } else {
    label1_->hide();
  }
  text1_->setText(DecimalText(n));
  text1_->repaint();
}

void NumericSettingDialog::cmdOK_Click() {
  const NumericDialogRow& row = RowOf(kind_);
  const double number = NumberOf(text1_);
  // The limits apply to the number as typed, before rounding: 9.6 is refused where 10 is not.
  if (!(number >= row.minimum && number <= row.maximum)) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kVersionedTitle),
                    QStringLiteral("Invalid value: ") + text1_->text(), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);  // the text exactly as typed, even if it looks like markup
    box.exec();
    return;
  }
  const auto value = static_cast<std::int32_t>(RoundHalfEven(number));
  row.set(settings_, value);
  switch (kind_) {
    case NumericDialogKind::Tempo:
      window_.SetWaitingBarMaximum(value < 2 ? 1 : value - 1);
      window_.SetMaxAttenteCaption(QString::number(value) + QStringLiteral(" s"));
      window_.SetRemainingWait(value);
      writer_.WriteKey(row.key, Decimal(value));
      accept();
      break;
    case NumericDialogKind::MaxSelected:
      writer_.WriteKey(row.key, Decimal(value));
      accept();
      window_.SetMaxSelectedEventsCaption(QStringLiteral("(Max selected events in list=") +
                                          QString::number(value) + QStringLiteral(")"));
      break;
    case NumericDialogKind::MaxWinComments:
      writer_.WriteKey(row.key, Decimal(value));
      window_.SetWinCommentsCaption(QStringLiteral("in Windows 2000 files comments [<") +
                                    QString::number(value) + QStringLiteral(" chars]"));
      accept();
      break;
  }
}

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
  settings_.Performance = static_cast<std::int16_t>(value);
  writer_.WriteKey("Performance", Decimal(value));
  accept();
}

namespace {

bool RunNumeric(NumericDialogKind kind, QWidget* parent, Settings& settings,
                SettingsKeyWriter& writer, MainWindowUpdates& window) {
  NumericSettingDialog dialog(kind, settings, writer, window, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace

bool ShowTempoDialog(QWidget* parent, Settings& settings, SettingsKeyWriter& writer,
                     MainWindowUpdates& window) {
  return RunNumeric(NumericDialogKind::Tempo, parent, settings, writer, window);
}

bool ShowMaxSelectedDialog(QWidget* parent, Settings& settings, SettingsKeyWriter& writer,
                           MainWindowUpdates& window) {
  return RunNumeric(NumericDialogKind::MaxSelected, parent, settings, writer, window);
}

bool ShowMaxWinCommentsDialog(QWidget* parent, Settings& settings, SettingsKeyWriter& writer,
                              MainWindowUpdates& window) {
  return RunNumeric(NumericDialogKind::MaxWinComments, parent, settings, writer, window);
}

bool ShowPerformanceDialog(QWidget* parent, Settings& settings, SettingsKeyWriter& writer) {
  PerformanceDialog dialog(settings, writer, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace qs
