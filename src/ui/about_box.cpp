#include "ui/about_box.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace qs {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About..."));
  setModal(true);

  credit_ = new QLabel(QStringLiteral("Quillstamp") + QStringLiteral(" ") + QStringLiteral("1.0b") +
                           QStringLiteral(": select files modifications events in Security Log and "
                                          "write informations in Windows 2000/Macintosh comments"),
                       this);
  credit_->setObjectName(QStringLiteral("lblCredit"));
  credit_->setTextFormat(Qt::PlainText);
  credit_->setWordWrap(true);
  credit_->setMinimumWidth(360);

  ok_ = new QPushButton(QStringLiteral("&OK"), this);
  ok_->setObjectName(QStringLiteral("cmdOK"));
  ok_->setDefault(true);  // Enter; Esc closes the dialog through reject() just the same

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(credit_);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

void ShowAboutBox(QWidget* parent) {
  AboutBox box(parent);
  box.exec();
}

std::string DocumentationPath(const std::string& programFolder) {
  return programFolder + "/QuillstampDOC.htm";
}

bool IsOrdinaryFile(const std::string& path) {
  const QFileInfo info(QString::fromStdString(path));
  // isFile() follows a symbolic link to what it names, and is false for folders, devices, pipes
  // and sockets; isHidden() is the platform's own notion (a leading "." here).
  return info.exists() && info.isFile() && !info.isHidden();
}

bool OpenDocument(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void OpenHelp(QWidget* parent, const std::string& programFolder) {
  const std::string path = DocumentationPath(programFolder);
  if (IsOrdinaryFile(path)) {
    OpenDocument(path);  // a viewer that fails to start is not reported
    return;
  }
  QMessageBox box(QMessageBox::Information, QStringLiteral("Quillstamp"),
                  QStringLiteral("Documentation not yet available..."), QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace qs
