// The window program's side of the comparison with the service: the program built and wired as
// the window program builds it, over the Quillstamp.ini of PROGRAM_FOLDER, Start pressed once,
// and the event list written as its grid shows it (header and cells, in the list file's form):
//
//   quillstamp_window_list PROGRAM_FOLDER OUT.tsv
//
// Run with QT_QPA_PLATFORM=offscreen. Exits 0 once the pass is over and the list is written.
#include <QAbstractItemModel>
#include <QApplication>
#include <QTableView>
#include <cstdio>
#include <fstream>
#include <string>

#include "ui/program.h"

namespace {

// A cell as the grid shows it, with the list file's replacements for the three characters that
// would break a line of tab-separated text.
std::string Cell(const QVariant& value) {
  std::string out;
  for (const char c : value.toString().toStdString()) {
    if (c == '\t')
      out += "\u2409";
    else if (c == '\n')
      out += "\u240A";
    else if (c == '\r')
      out += "\u240D";
    else
      out += c;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: quillstamp_window_list PROGRAM_FOLDER OUT.tsv\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  qs::Program program(argv[1], [] { return false; });
  qs::frmQuillstamp& window = program.window();
  window.Form_Load();
  window.show();
  window.cmdGo_Click();  // returns once the pass and the summary check are over
  window.cmdGo_Click();  // Stop: no further pass

  const auto* grid = window.findChild<QTableView*>();
  if (grid == nullptr || grid->model() == nullptr) {
    std::fprintf(stderr, "quillstamp_window_list: the window has no grid\n");
    return 1;
  }
  const QAbstractItemModel& model = *grid->model();
  std::string text;
  for (int c = 0; c < model.columnCount(); ++c) {
    if (c != 0) text += '\t';
    text += Cell(model.headerData(c, Qt::Horizontal, Qt::DisplayRole));
  }
  text += '\n';
  for (int r = 0; r < model.rowCount(); ++r) {
    for (int c = 0; c < model.columnCount(); ++c) {
      if (c != 0) text += '\t';
      text += Cell(model.data(model.index(r, c), Qt::DisplayRole));
    }
    text += '\n';
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << text;
  return out ? 0 : 1;
}
