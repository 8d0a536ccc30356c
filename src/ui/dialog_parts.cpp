#include "ui/dialog_parts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace qs {

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

}  // namespace qs
