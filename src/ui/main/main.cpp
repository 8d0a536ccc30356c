// Quillstamp: watches the Security log for files opened for writing and stamps who changed each
// file, and when, into the file's own comments. No command-line arguments: everything comes from
// Quillstamp.ini beside the executable.
#include <QApplication>
#include <string>

#include "ui/program.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // A dialog closed while the main window hides in the notification area must not end the
  // program: "&Exit" is the only way out.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName("Quillstamp");

  const std::string programFolder = QCoreApplication::applicationDirPath().toStdString();
  qs::Program program(programFolder);
  qs::frmQuillstamp& window = program.window();
  window.Form_Load();
  window.show();
  return QApplication::exec();
}
