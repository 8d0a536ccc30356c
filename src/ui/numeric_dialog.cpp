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

#include "core/text_number.h"
#include "ui/dialog_parts.h"
#include "ui/settings_dialogs.h"

namespace qs {

namespace {

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

NumericSettingDialog::NumericSettingDialog(NumericDialogKind kind, Settings& settings,
                                           SettingsKeyWriter& writer, MainWindowUpdates& window,
                                           QWidget* parent)
    : QDialog(parent), kind_(kind), settings_(settings), writer_(writer), window_(window) {
  const NumericSettingRow& row = NumericSettingRowOf(kind_);
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
  ShowArrowStep(DownArrowStep(kind_, NumberOf(text1_)));
}

void NumericSettingDialog::UpDown1_UpClick() {
  ShowArrowStep(UpArrowStep(kind_, NumberOf(text1_)));
}

void NumericSettingDialog::ShowArrowStep(const ArrowStep& step) {
  if (step.message != nullptr) {
    label1_->setText(QString::fromUtf8(step.message));
    label1_->show();
  } else {
    label1_->hide();
  }
  text1_->setText(QString::fromStdString(DecimalText(step.value)));
  text1_->repaint();
}

void NumericSettingDialog::cmdOK_Click() {
  const NumericSettingRow& row = NumericSettingRowOf(kind_);
  const double number = NumberOf(text1_);
  // The limits apply to the number as typed, before rounding: 9.6 is refused where 10 is not.
  if (!NumericValueAccepted(kind_, number)) {
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
