#include "qt_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdlib>

namespace qs::test {

void EnsureApplication() {
  if (QApplication::instance() != nullptr) return;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "dialogs_test";
  static char* argv[] = {name, nullptr};
  // Lives until the process ends; its destruction order against gtest's statics is not ours.
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
}

SeenBox AnswerMessageBoxes(const std::function<void()>& action) {
  SeenBox seen;
  QTimer timer;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    seen.shown = true;
    ++seen.count;
    seen.icon = box->icon();
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.buttons = box->standardButtons();
    seen.format = box->textFormat();
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
      ok->click();
    } else {
      box->reject();
    }
  });
  timer.start();
  action();
  timer.stop();
  return seen;
}

bool ActOnModal(const std::function<void()>& show, const std::function<void(QWidget*)>& act) {
  QTimer timer;
  timer.setInterval(5);
  QWidget* acted = nullptr;
  int ticksAfter = 0;
  bool forced = false;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    if (acted == nullptr) {
      acted = modal;
      act(modal);
    } else if (modal == acted && ++ticksAfter > 200) {
      // The action did not close the window: close it, so that the test fails instead of hanging.
      forced = true;
      modal->close();
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    }
  });
  timer.start();
  show();
  timer.stop();
  return acted != nullptr && !forced;
}

}  // namespace qs::test

// Fontconfig, loaded by the toolkit, keeps its configuration until the process ends and never
// frees it; that is not a leak of ours. Read by LeakSanitizer when the tests run under it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
