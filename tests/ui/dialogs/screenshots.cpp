// Grabs every settings dialog and the about box to PNG files in the folder given as argument, to
// look at them: xvfb-run -a dialogs_screenshots /tmp/shots
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <functional>
#include <string_view>

#include "ui/about_box.h"
#include "ui/settings_dialogs.h"

namespace {

struct Sink : qs::SettingsKeyWriter, qs::MainWindowUpdates {
  bool WriteKey(std::string_view, std::string_view) override { return true; }
  void SetWaitingBarMaximum(int) override {}
  void SetMaxAttenteCaption(const QString&) override {}
  void SetRemainingWait(std::int32_t) override {}
  void SetMaxSelectedEventsCaption(const QString&) override {}
  void SetWinCommentsCaption(const QString&) override {}
};

bool Save(QWidget& w, const QString& folder, const char* name) {
  w.show();
  QApplication::processEvents();
  w.activateWindow();
  QApplication::processEvents();
  const QString path = folder + "/" + name + ".png";
  const bool ok = w.grab().save(path);
  std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), w.width(), w.height());
  w.hide();
  return ok;
}

// Runs `action`, grabbing and then closing the message box it opens.
bool SaveBox(const QString& folder, const char* name, const std::function<void()>& action) {
  bool ok = false;
  QTimer timer;
  timer.setInterval(20);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    const QString path = folder + "/" + name + ".png";
    ok = box->grab().save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), box->width(),
                box->height());
    box->accept();
  });
  timer.start();
  action();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  QDir().mkpath(folder);
  qs::Settings settings;
  Sink sink;
  bool ok = true;
  {
    qs::NumericSettingDialog d(qs::NumericDialogKind::Tempo, settings, sink, sink);
    ok &= Save(d, folder, "frmTempo");
    d.Text1()->setText("59999");
    d.UpButton()->click();
    ok &= Save(d, folder, "frmTempo_max");
    d.show();
    d.Text1()->setText("abc");
    ok &= SaveBox(folder, "frmTempo_invalid", [&] { d.OkButton()->click(); });
  }
  {
    qs::NumericSettingDialog d(qs::NumericDialogKind::MaxSelected, settings, sink, sink);
    d.Text1()->setText("11");
    d.DownButton()->click();
    ok &= Save(d, folder, "frmMaxSelected_min");
  }
  {
    qs::NumericSettingDialog d(qs::NumericDialogKind::MaxWinComments, settings, sink, sink);
    ok &= Save(d, folder, "frmMaxWinComments");
  }
  {
    qs::PerformanceDialog d(settings, sink);
    ok &= Save(d, folder, "frmPerformance");
  }
  {
    qs::AboutBox d;
    ok &= Save(d, folder, "frmAbout");
  }
  ok &= SaveBox(folder, "help_missing", [&] { qs::OpenHelp(nullptr, "/nonexistent"); });
  return ok ? 0 : 1;
}
