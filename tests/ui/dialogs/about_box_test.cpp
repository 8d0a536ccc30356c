// The about box and help: which paths count as the manual, and what the user sees.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "qt_test_support.h"
#include "support/temp_dir.h"
#include "ui/about_box.h"

namespace qs {
namespace {

// Stands in for the desktop's viewer: records the documents handed to it.
class FakeViewer : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened.push_back(url); }
};

class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    QDesktopServices::setUrlHandler("file", &viewer, "open");
  }
  void TearDown() override { QDesktopServices::unsetUrlHandler("file"); }

  // Runs help on `folder`; returns the message box it showed, if any.
  test::SeenBox Help(const std::string& folder) {
    return test::AnswerMessageBoxes([&] { OpenHelp(nullptr, folder); });
  }
  static void ExpectMissingMessage(const test::SeenBox& box) {
    EXPECT_TRUE(box.shown);
    EXPECT_EQ(box.count, 1);
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(box.title, "Quillstamp");
    EXPECT_EQ(box.text, "Documentation not yet available...");
  }

  FakeViewer viewer;
  test::TempDir dir;
};

TEST_F(HelpTest, OpensTheManualBesideTheProgram) {
  const std::string folder = dir.path().string();
  test::WriteFile(folder + "/QuillstampDOC.htm", "<!DOCTYPE html><title>x</title>");
  EXPECT_EQ(DocumentationPath(folder), folder + "/QuillstampDOC.htm");
  const test::SeenBox box = Help(folder);
  EXPECT_FALSE(box.shown);
  ASSERT_EQ(viewer.opened.size(), 1);
  EXPECT_TRUE(viewer.opened[0].isLocalFile());
  EXPECT_EQ(viewer.opened[0].toLocalFile().toStdString(), folder + "/QuillstampDOC.htm");
}

TEST_F(HelpTest, MissingManualIsReported) {
  ExpectMissingMessage(Help(dir.path().string()));
  EXPECT_TRUE(viewer.opened.empty());
  // A file of another case is not the manual on a case-sensitive file system.
  test::WriteFile(dir / "quillstampdoc.htm", "x");
  if (!std::filesystem::exists(dir / "QuillstampDOC.htm")) {
    ExpectMissingMessage(Help(dir.path().string()));
    EXPECT_TRUE(viewer.opened.empty());
  }
}

TEST_F(HelpTest, FolderOfThatNameCountsAsMissing) {
  std::filesystem::create_directory(dir / "QuillstampDOC.htm");
  ExpectMissingMessage(Help(dir.path().string()));
  EXPECT_TRUE(viewer.opened.empty());
}

TEST_F(HelpTest, OnlyVisibleOrdinaryFilesCount) {
  test::WriteFile(dir / "plain.htm", "x");
  test::WriteFile(dir / ".hidden.htm", "x");
  std::filesystem::create_directory(dir / "folder.htm");
  std::filesystem::create_symlink(dir / "plain.htm", dir / "link.htm");
  std::filesystem::create_symlink(dir / "folder.htm", dir / "linkdir.htm");
  std::filesystem::create_symlink(dir / "gone.htm", dir / "dangling.htm");
  EXPECT_TRUE(IsOrdinaryFile(dir / "plain.htm"));
  EXPECT_TRUE(IsOrdinaryFile(dir / "link.htm"));  // a link is followed to what it names
  EXPECT_FALSE(IsOrdinaryFile(dir / ".hidden.htm"));
  EXPECT_FALSE(IsOrdinaryFile(dir / "folder.htm"));
  EXPECT_FALSE(IsOrdinaryFile(dir / "linkdir.htm"));
  EXPECT_FALSE(IsOrdinaryFile(dir / "dangling.htm"));
  EXPECT_FALSE(IsOrdinaryFile(dir / "absent.htm"));
  EXPECT_FALSE(IsOrdinaryFile("/dev/null"));
  EXPECT_FALSE(IsOrdinaryFile(""));
}

TEST_F(HelpTest, AboutBoxReadsTheCreditAndClosesWithOkEnterOrEscape) {
  {
    AboutBox box;
    box.show();
    EXPECT_EQ(box.windowTitle(), "About...");
    EXPECT_EQ(box.lblCredit()->text(),
              "Quillstamp 1.0b: select files modifications events in Security Log and write "
              "informations in Windows 2000/Macintosh comments");
    EXPECT_EQ(box.cmdOK()->text(), "&OK");
    EXPECT_TRUE(box.cmdOK()->isDefault());
    EXPECT_EQ(box.findChildren<QPushButton*>().size(), 1);
  }
  const Qt::Key keys[] = {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_unknown};
  for (Qt::Key key : keys) {
    SCOPED_TRACE(key);
    bool closed = false;
    EXPECT_TRUE(test::ActOnModal(
        [&] {
          ShowAboutBox(nullptr);
          closed = true;
        },
        [key](QWidget* modal) {
          if (key == Qt::Key_unknown) {
            modal->findChild<QPushButton*>("cmdOK")->click();
          } else {
            QTest::keyClick(modal, key);
          }
        }));
    EXPECT_TRUE(closed);
  }
}

}  // namespace
}  // namespace qs

#include "about_box_test.moc"
