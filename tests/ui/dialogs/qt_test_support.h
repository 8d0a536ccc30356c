// Helpers for driving dialogs without a display: one application object for all tests, and the
// answering of modal windows that a click opens.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace qs::test {

// Creates the application on first use, on the offscreen platform unless one is chosen already.
void EnsureApplication();

// What a message box showed.
struct SeenBox {
  bool shown = false;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title;
  QString text;
  QMessageBox::StandardButtons buttons;
  Qt::TextFormat format = Qt::AutoText;
  int count = 0;  // how many boxes appeared
};

// Runs `action`; every message box that becomes the active modal window meanwhile is recorded and
// answered with its OK button.
SeenBox AnswerMessageBoxes(const std::function<void()>& action);

// Runs `show` (which runs a modal dialog); once the dialog is the active modal window, `act` is
// called with it once (it should close the dialog, for instance with a key press). False when the
// action left the dialog open (it is then closed by force).
bool ActOnModal(const std::function<void()>& show, const std::function<void(QWidget*)>& act);

}  // namespace qs::test
