// The "?" menu: the about box (frmAbout) and help, which opens the HTML manual beside the program.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

class QLabel;
class QPushButton;

namespace qs {

// mnuAPropos: shows the about box modally, built afresh each time.
void ShowAboutBox(QWidget* parent);

// mnuAide: opens `programFolder` + "/QuillstampDOC.htm" with the desktop's viewer for HTML when an
// ordinary file is there; otherwise says "Documentation not yet available..." (information icon,
// titled "Quillstamp"). `programFolder` has no trailing separator.
void OpenHelp(QWidget* parent, const std::string& programFolder);

// The manual's path for a program folder.
std::string DocumentationPath(const std::string& programFolder);

// True for an existing ordinary file: not a folder or other special file, and not hidden (on this
// platform, a name beginning with ".").
bool IsOrdinaryFile(const std::string& path);

// Hands a document to the desktop's viewer; the result is the desktop's answer.
bool OpenDocument(const std::string& path);

class AboutBox : public QDialog {
 public:
  explicit AboutBox(QWidget* parent = nullptr);

  QLabel* lblCredit() const { return credit_; }
  QPushButton* cmdOK() const { return ok_; }

 private:
  QLabel* credit_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace qs
