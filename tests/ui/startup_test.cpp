// Start-up against a table of system answers: the title, the warning, the Windows 2000 comment,
// the settings applied through the window's writers, and the automatic start.
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "window_fixture.h"

namespace qs::test {
namespace {

struct StartupCase {
  const char* what;
  SystemAnswers answers;
  const char* title;
  bool warned;
  bool winCommentOffered;
};

SystemAnswers WithNames(SystemAnswers a, bool computerOk, std::string computer, bool userOk,
                        std::string user) {
  a.computerOk = computerOk;
  a.computer = std::move(computer);
  a.userOk = userOk;
  a.user = std::move(user);
  return a;
}

class StartupTest : public testing::TestWithParam<StartupCase> {};

TEST_P(StartupTest, TitleWarningAndWindows2000Comment) {
  const StartupCase& c = GetParam();
  BoxAnswerer boxes(QMessageBox::Ok);
  Settings stored;
  stored.WinComments = true;
  WindowRig rig(c.answers, stored);

  EXPECT_EQ(rig.window->windowTitle().toStdString(), c.title);
  ASSERT_EQ(boxes.seen.size(), c.warned ? 1u : 0u);
  if (c.warned) {
    EXPECT_EQ(boxes.seen[0].text, "Sorry, this program runs only on Windows NT 4 or Windows 2000");
    EXPECT_EQ(boxes.seen[0].title, "Quillstamp");
    EXPECT_EQ(boxes.seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.seen[0].buttons, QMessageBox::Ok);
  }
  auto* win = rig.Find<QCheckBox>("chkWinComments");
  EXPECT_EQ(win->isEnabled(), c.winCommentOffered);
  EXPECT_EQ(win->isChecked(), c.winCommentOffered);
  EXPECT_EQ(rig.state.settings.WinComments, c.winCommentOffered);
  // The stored "1" is written back; where the comment is not offered, it is then stored off.
  std::vector<std::pair<std::string, std::string>> expected = {{"WinComments", "1"},
                                                               {"TimeSeconds", "0"}};
  if (!c.winCommentOffered) expected.emplace_back("WinComments", "0");
  EXPECT_EQ(rig.writes, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, StartupTest,
    testing::Values(
        StartupCase{"Windows2000Sp2", SystemOf(2, 5, 0, 2195, "Service Pack 2"),
                    "Quillstamp 1.0b   FILESERVER; admin; Windows 2000 v.5.0, Build 2195, "
                    "Service Pack 2",
                    false, true},
        StartupCase{"Nt4Sp6a", SystemOf(2, 4, 0, 1381, "Service Pack 6a"),
                    "Quillstamp 1.0b   FILESERVER; admin; Windows NT v.4.0, Build 1381, "
                    "Service Pack 6a",
                    false, false},
        StartupCase{"Nt351", SystemOf(2, 3, 51, 1057, "  "),
                    "Quillstamp 1.0b   FILESERVER; admin; Windows NT v.3.51, Build 1057", false,
                    false},
        StartupCase{"XpIsNamedWindows2000", SystemOf(2, 5, 1, 2600, ""),
                    "Quillstamp 1.0b   FILESERVER; admin; Windows 2000 v.5.1, Build 2600", false,
                    true},
        StartupCase{"Windows98", SystemOf(1, 4, 10, 1998, " A "),
                    "Quillstamp 1.0b   FILESERVER; admin; Windows 98 v.4.10, Build 1998, A", true,
                    false},
        StartupCase{"Windows95", SystemOf(1, 4, 0, 950, ""),
                    "Quillstamp 1.0b   FILESERVER; admin; Windows 95 v.4.0, Build 950", true,
                    false},
        StartupCase{"WindowsMeHasNoName", SystemOf(1, 4, 90, 3000, ""),
                    "Quillstamp 1.0b   FILESERVER; admin;  v.4.90, Build 3000", true, false},
        StartupCase{"UnknownPlatform", SystemOf(0, 3, 1, 0, ""),
                    "Quillstamp 1.0b   FILESERVER; admin; ??? v.3.1, Build 0", true, false},
        // The low 16 bits of the build number, read as a signed number.
        StartupCase{"NegativeBuild", SystemOf(2, 5, 0, 0x0001F000, ""),
                    "Quillstamp 1.0b   FILESERVER; admin; Windows 2000 v.5.0, Build -4096", false,
                    true},
        StartupCase{"Linux", SystemOf(2, 6, 1, 0, "", "Linux"),
                    "Quillstamp 1.0b   FILESERVER; admin; Linux v.6.1, Build 0", false, true},
        // An old kernel keeps the comment: the host offers it whatever the version.
        StartupCase{"OldLinuxKernel", SystemOf(2, 4, 19, 0, "", "Linux"),
                    "Quillstamp 1.0b   FILESERVER; admin; Linux v.4.19, Build 0", false, true},
        StartupCase{"NameCallsFail", WithNames(SystemOf(2, 5, 0, 2195, ""), false, "X", false, "Y"),
                    "Quillstamp 1.0b; Windows 2000 v.5.0, Build 2195", false, true},
        StartupCase{"ComputerNameFails",
                    WithNames(SystemOf(2, 5, 0, 2195, ""), false, "X", true, "bob"),
                    "Quillstamp 1.0b; bob; Windows 2000 v.5.0, Build 2195", false, true},
        StartupCase{"BlanksAroundNames",
                    WithNames(SystemOf(2, 5, 0, 2195, ""), true, "  SRV", true, " carol"),
                    "Quillstamp 1.0b   SRV; carol; Windows 2000 v.5.0, Build 2195", false, true}),
    [](const testing::TestParamInfo<StartupCase>& info) { return std::string(info.param.what); });

TEST(Startup, ControlsShowTheSettingsAndTheAccount) {
  Settings stored;
  stored.Temporisation = 1;
  stored.MacComments = true;
  stored.TimeSeconds = true;
  stored.MaxWinComments = 2000;
  stored.MaxSelectedEvents = 300;
  stored.Performance = 7;
  SystemAnswers a;
  a.user = "admin";
  a.bias = -120;
  WindowRig rig(a, stored);

  EXPECT_EQ(rig.Text("lblMaxAttente"), "1 s");
  EXPECT_EQ(rig.Find<QProgressBar>("ProgressBarAttente")->maximum(), 1);
  EXPECT_EQ(rig.state.run.RemainingWait, 1);
  EXPECT_TRUE(rig.Find<QCheckBox>("chkMacComments")->isChecked());
  EXPECT_TRUE(rig.Find<QRadioButton>("optTimeSeconds")->isEnabled());
  EXPECT_TRUE(rig.Find<QRadioButton>("optTimeSeconds")->isChecked());
  EXPECT_EQ(rig.Find<QCheckBox>("chkWinComments")->text(),
            "in Windows 2000 files comments [<2000 chars]");
  EXPECT_EQ(rig.Text("lblMaxSelectedEvents"), "(Max selected events in list=300)");
  EXPECT_EQ(rig.Text("lblNotSelected"), "Events generated by account 'admin' are not selected");
  EXPECT_EQ(rig.state.selection.OwnAccountName, "admin");
  EXPECT_EQ(rig.state.selection.TimeZoneBias, -120);
  EXPECT_TRUE(rig.state.run.StopFlag);
  EXPECT_EQ(rig.state.settings.Performance, 7);
  EXPECT_EQ(rig.writes, (std::vector<std::pair<std::string, std::string>>{{"MacComments", "1"},
                                                                          {"TimeSeconds", "1"}}));
  EXPECT_EQ(rig.window->trayIcon()->toolTip(), "Quillstamp 1.0b");
  EXPECT_EQ(rig.state.eventList.CellText(0, kColFile), "File");
}

TEST(Startup, DefaultsAndAnUnreadableTimeZone) {
  SystemAnswers a;
  a.userOk = false;
  a.tzResult = platform::kTimeZoneIdInvalid;
  a.bias = 300;
  WindowRig rig(a);
  EXPECT_EQ(rig.Text("lblMaxAttente"), "10 s");
  EXPECT_EQ(rig.Find<QProgressBar>("ProgressBarAttente")->maximum(), 9);
  EXPECT_EQ(rig.state.selection.TimeZoneBias, 0);
  EXPECT_EQ(rig.Text("lblNotSelected"), "Events generated by account '' are not selected");
  EXPECT_FALSE(rig.Find<QRadioButton>("optTimeNotSeconds")->isEnabled());
  EXPECT_TRUE(rig.Find<QRadioButton>("optTimeNotSeconds")->isChecked());
}

TEST(Startup, WindowHasNoCloseAndRefusesToClose) {
  WindowRig rig;
  EXPECT_FALSE(rig.window->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(rig.window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(rig.window->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(rig.window->close());
  EXPECT_TRUE(rig.window->isVisible());
  EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
  // Fixed size: the client area of the design at 15 twips per pixel.
  EXPECT_EQ(rig.window->centralWidget()->size(), QSize(634, 454));
  EXPECT_EQ(rig.window->minimumSize(), rig.window->maximumSize());
}

TEST(Startup, FirstActivationWithAutomaticHidesAndStartsOnlyOnce) {
  Settings stored;
  stored.Automatic = true;
  WindowRig rig({}, stored);
  rig.window->activateWindow();
  QApplication::processEvents();
  // Activation may come from the platform or from the call above; once is enough.
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(rig.window.get(), &activate);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_EQ(rig.log.opens, 1);
  EXPECT_FALSE(rig.window->isVisible());
  EXPECT_FALSE(rig.state.run.StopFlag);
  // "Show main window" brings it back; that activation leaves the analysis running.
  rig.window->mnuRestaurer_Click();
  QApplication::sendEvent(rig.window.get(), &activate);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_TRUE(rig.window->isVisible());
  EXPECT_EQ(rig.log.opens, 1);
  EXPECT_FALSE(rig.state.run.StopFlag);
}

// Keeps every activation from reaching the window, as on a display without a window manager.
class NoActivation : public QObject {
 public:
  using QObject::QObject;
  int eaten = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() != QEvent::WindowActivate) return false;
    ++eaten;
    return true;
  }
};

TEST(Startup, WithoutAnyActivationAutomaticStillHidesAndStartsOnce) {
  Settings stored;
  stored.Automatic = true;
  NoActivation* filter = nullptr;
  WindowRig rig({}, stored, 20, 96, true, [&](frmQuillstamp& window) {
    filter = new NoActivation(&window);
    window.installEventFilter(filter);
  });
  // Bounded: the start follows the first showing by half a second.
  EXPECT_TRUE(QTest::qWaitFor([&] { return rig.log.opens > 0; }, 10000));
  EXPECT_EQ(rig.log.opens, 1);
  EXPECT_EQ(rig.log.recordsRead, 20);
  EXPECT_FALSE(rig.window->isVisible());
  EXPECT_FALSE(rig.state.run.StopFlag);
  // An activation that comes at last changes nothing.
  rig.window->removeEventFilter(filter);
  rig.window->mnuRestaurer_Click();
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(rig.window.get(), &activate);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_TRUE(rig.window->isVisible());
  EXPECT_EQ(rig.log.opens, 1);
  EXPECT_FALSE(rig.state.run.StopFlag);
}

TEST(Startup, AnActivationStartsAtOnceAndNoLaterShowingStartsAgain) {
  Settings stored;
  stored.Automatic = true;
  WindowRig rig({}, stored);
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(rig.window.get(), &activate);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_EQ(rig.log.opens, 1);
  // The wait for an activation is over: neither it nor a new showing starts another pass.
  auto* grace = rig.Find<QTimer>("activationGrace");
  ASSERT_NE(grace, nullptr);
  EXPECT_FALSE(grace->isActive());
  rig.window->mnuRestaurer_Click();
  QApplication::processEvents();
  EXPECT_FALSE(grace->isActive());
  EXPECT_EQ(rig.log.opens, 1);
}

TEST(Startup, WithoutAutomaticNeitherActivationNorShowingStartsAnything) {
  NoActivation* filter = nullptr;
  WindowRig rig({}, {}, 20, 96, true, [&](frmQuillstamp& window) {
    filter = new NoActivation(&window);
    window.installEventFilter(filter);
  });
  auto* grace = rig.Find<QTimer>("activationGrace");
  ASSERT_NE(grace, nullptr);
  // Bounded: the wait for an activation ends, and nothing starts.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !grace->isActive(); }, 10000));
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_EQ(rig.log.opens, 0);
  EXPECT_TRUE(rig.window->isVisible());
  EXPECT_TRUE(rig.state.run.StopFlag);
}

TEST(Startup, ActivationWithoutAutomaticDoesNothing) {
  WindowRig rig;
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(rig.window.get(), &activate);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_EQ(rig.log.opens, 0);
  EXPECT_TRUE(rig.window->isVisible());
  EXPECT_TRUE(rig.state.run.StopFlag);
}

}  // namespace
}  // namespace qs::test

namespace qs::test {
namespace {

// The Configuration menu opens the wait dialog, and its OK reaches the window's controls.
TEST(ConfigurationMenu, TheWaitDialogUpdatesTheWaitingBar) {
  WindowRig rig;
  QTimer answer;
  answer.setInterval(5);
  bool answered = false;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    auto* text = dialog->findChild<QLineEdit*>("Text1");
    auto* ok = dialog->findChild<QPushButton*>("cmdOK");
    if (text == nullptr || ok == nullptr) return;
    text->setText("30");
    ok->click();
    answered = true;
  });
  answer.start();
  rig.writes.clear();
  rig.Find<QAction>("mnuSetTime")->trigger();
  EXPECT_TRUE(answered);
  EXPECT_EQ(rig.state.settings.Temporisation, 30);
  EXPECT_EQ(rig.state.run.RemainingWait, 30);
  EXPECT_EQ(rig.Text("lblMaxAttente"), "30 s");
  EXPECT_EQ(rig.Find<QProgressBar>("ProgressBarAttente")->maximum(), 29);
  EXPECT_EQ(rig.writes,
            (std::vector<std::pair<std::string, std::string>>{{"Temporisation", "30"}}));
}

}  // namespace
}  // namespace qs::test
