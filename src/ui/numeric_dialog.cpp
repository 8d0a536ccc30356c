// The three numeric dialogs (frmTempo, frmMaxSelected, frmMaxWinComments): one class, one row of
// the table below each.
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSizePolicy>
#include <QToolButton>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "core/text_number.h"
#include "ui/dialog_parts.h"
#include "ui/settings_dialogs.h"

namespace qs {

namespace {

// One row per numeric dialog: everything in which the three differ, apart from the order of their
// main-window updates (cmdOK_Click).
struct NumericDialogRow {
  const char* titleCaption;  // lblTempo
  const char* unitName;      // the unit label's object name
  const char* unitCaption;
  std::int32_t minimum;
  std::int32_t maximum;
  const char* minimumMessage;
  const char* maximumMessage;
  std::int32_t (*get)(const Settings&);
  // Stores the accepted value in the settings and writes its key.
  void (*write)(SettingsKeyWriter&, Settings&, std::int32_t);
};

const NumericDialogRow& RowOf(NumericDialogKind kind) {
  static const NumericDialogRow rows[] = {
      {"Set time between two Security Log analysis", "lblSecondes", "seconds", 1, 60000,
       "Minimal temporisation reached", "Maximal temporisation reached",
       [](const Settings& s) -> std::int32_t { return s.Temporisation; },
       [](SettingsKeyWriter& w, Settings& s, std::int32_t v) { WriteTemporisation(w, s, v); }},
      {"Set max selected events in list", "lblEvents", "events", 10, 3000,
       "Minimal selected events reached", "Maximal selected events reached",
       [](const Settings& s) -> std::int32_t { return s.MaxSelectedEvents; },
       [](SettingsKeyWriter& w, Settings& s, std::int32_t v) {
         WriteMaxSelectedEvents(w, s, static_cast<std::int16_t>(v));
       }},
      {"Set max size for Windows 2000 comments", "lblCharacters", "characters", 100, 10000,
       "Minimal size reached", "Maximal size reached",
       [](const Settings& s) -> std::int32_t { return s.MaxWinComments; },
       [](SettingsKeyWriter& w, Settings& s, std::int32_t v) {
         WriteMaxWinComments(w, s, static_cast<std::int16_t>(v));
       }},
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

bool RunNumeric(NumericDialogKind kind, QWidget* parent, Settings& settings,
                SettingsKeyWriter& writer, MainWindowUpdates& window) {
  NumericSettingDialog dialog(kind, settings, writer, window, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace

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
  switch (kind_) {
    case NumericDialogKind::Tempo:
      window_.SetWaitingBarMaximum(value < 2 ? 1 : value - 1);
      window_.SetMaxAttenteCaption(QString::number(value) + QStringLiteral(" s"));
      window_.SetRemainingWait(value);
      row.write(writer_, settings_, value);
      accept();
      break;
    case NumericDialogKind::MaxSelected:
      row.write(writer_, settings_, value);
      accept();
      window_.SetMaxSelectedEventsCaption(QStringLiteral("(Max selected events in list=") +
                                          QString::number(value) + QStringLiteral(")"));
      break;
    case NumericDialogKind::MaxWinComments:
      row.write(writer_, settings_, value);
      window_.SetWinCommentsCaption(QStringLiteral("in Windows 2000 files comments [<") +
                                    QString::number(value) + QStringLiteral(" chars]"));
      accept();
      break;
  }
}

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

}  // namespace qs
