// What the settings dialogs share: their buttons, labels and the OK/Cancel row, named as objects
// after their roles.
#pragma once

class QHBoxLayout;
class QLabel;
class QPushButton;
class QWidget;

namespace qs {

QPushButton* MakeButton(const char* caption, const char* name, QWidget* parent);
// A plain-text label.
QLabel* MakeLabel(const char* caption, const char* name, QWidget* parent);
// OK and Cancel at the right end of a row.
QHBoxLayout* ButtonRow(QPushButton* ok, QPushButton* cancel);

}  // namespace qs
