// Takes a picture of the main window after one pass over a demo, for the eye of a reviewer:
//
//   quillstamp_screenshot PROGRAM_FOLDER OUT.png [IDLE.png [DURING.png]]
//
// PROGRAM_FOLDER holds the Quillstamp.ini that quillstamp_demo wrote. The window is built and
// wired exactly as the program builds it, Start is pressed, and once the pass is over the window
// (menu bar and client area) is saved; IDLE.png, when given, shows it before Start. DURING.png,
// when given, is what the screen shows of the window at the first yield of the pass after two
// events are listed: the picture that the window last painted, not a fresh rendering. Run it
// under xvfb-run or with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <string>

#include "ui/program.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr,
                 "usage: quillstamp_screenshot PROGRAM_FOLDER OUT.png [IDLE.png [DURING.png]]\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  // No notification area, so that the window stays on screen for its picture.
  qs::Program program(argv[1], [] { return false; });
  qs::frmQuillstamp& window = program.window();
  qs::ProgramState& state = program.state();
  window.Form_Load();
  window.show();

  int status = 1;
  // Runs at every yield of the pass: the first one after two events were listed takes the
  // picture of the screen.
  QTimer during;
  during.setInterval(0);
  QObject::connect(&during, &QTimer::timeout, &window, [&] {
    if (state.eventList.EventCount() < 2) return;
    during.stop();
    QScreen* screen = window.screen();
    if (screen != nullptr) screen->grabWindow(window.winId()).save(QString::fromLocal8Bit(argv[4]));
  });
  QTimer::singleShot(200, &window, [&] {
    if (argc >= 4) window.grab().save(QString::fromLocal8Bit(argv[3]));
    if (argc == 5) during.start();
    window.cmdGo_Click();
    during.stop();  // returns once the pass is over; the wait has begun
    QTimer::singleShot(2500, &window, [&] {
      status = window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
      std::printf("%s: %d events listed\n", argv[2], state.eventList.EventCount());
      QCoreApplication::exit(status);
    });
  });
  QApplication::exec();
  return status;
}
