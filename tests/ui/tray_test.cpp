// The icon's mouse messages at several screen scales, the window behaviour around the icon, and
// Exit.
#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QWindow>

#include "core/tray.h"
#include "window_fixture.h"

namespace qs::test {
namespace {

struct DecodeCase {
  double dpi;
  int message;
  TrayAction action;
};

class IconDecoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(IconDecoding, MessageAtScaleGivesAction) {
  const DecodeCase& c = GetParam();
  EXPECT_EQ(DecodeIconX(IconMessageX(c.message, TwipsPerPixel(c.dpi))), c.action)
      << "dpi " << c.dpi << " message " << c.message;
}

INSTANTIATE_TEST_SUITE_P(
    Scales, IconDecoding,
    testing::Values(
        // 96 DPI, 15 twips per pixel: a double-click toggles, a single press does nothing.
        DecodeCase{96, kMouseMove, TrayAction::None},
        DecodeCase{96, kLeftButtonDown, TrayAction::None},
        DecodeCase{96, kLeftButtonDoubleClick, TrayAction::Toggle},
        DecodeCase{96, kRightButtonDown, TrayAction::PopupMenu},
        DecodeCase{96, kMiddleButtonDown, TrayAction::None},
        // 120 DPI, 12 twips per pixel: a single press toggles, a double-click does nothing.
        DecodeCase{120, kMouseMove, TrayAction::None},
        DecodeCase{120, kLeftButtonDown, TrayAction::Toggle},
        DecodeCase{120, kLeftButtonDoubleClick, TrayAction::None},
        DecodeCase{120, kRightButtonDown, TrayAction::PopupMenu},
        // Any other scale acts as 15 twips per pixel, so the icon always answers.
        DecodeCase{144, kLeftButtonDown, TrayAction::None},
        DecodeCase{144, kLeftButtonDoubleClick, TrayAction::Toggle},
        DecodeCase{144, kRightButtonDown, TrayAction::PopupMenu},
        DecodeCase{100, kLeftButtonDoubleClick, TrayAction::Toggle},
        DecodeCase{192, kRightButtonDown, TrayAction::PopupMenu}),
    [](const testing::TestParamInfo<DecodeCase>& info) {
      return "Dpi" + std::to_string(static_cast<int>(info.param.dpi)) + "Message" +
             std::to_string(info.param.message);
    });

TEST(IconDecoding, TheTableOfCodes) {
  EXPECT_EQ(IconCodeOf(7725.0f), "1E2D");
  EXPECT_EQ(IconCodeOf(6156.0f), "180C");
  EXPECT_EQ(IconCodeOf(7680.0f), "1E00");
  EXPECT_EQ(IconCodeOf(6180.0f), "1824");
  // Halves go to the even neighbour: 7724.5 is 7724, 7725.5 is 7726.
  EXPECT_EQ(DecodeIconX(7724.5f), TrayAction::None);
  EXPECT_EQ(DecodeIconX(7725.4f), TrayAction::Toggle);
  EXPECT_EQ(DecodeIconX(7725.5f), TrayAction::None);
  EXPECT_EQ(DecodeIconX(7740.0f), TrayAction::PopupMenu);
  EXPECT_EQ(DecodeIconX(6192.0f), TrayAction::PopupMenu);
  EXPECT_EQ(IconCodeOf(-1.0f), "FFFFFFFF");
}

TEST(IconClicks, TwoPressesWithinTheIntervalAreADoubleClick) {
  using N = IconClickMerger::Notice;
  IconClickMerger m;
  EXPECT_EQ(m.MessageFor(N::LeftPress, 1000, 400), kLeftButtonDown);
  EXPECT_EQ(m.MessageFor(N::LeftPress, 1300, 400), kLeftButtonDoubleClick);
  EXPECT_EQ(m.MessageFor(N::LeftPress, 1350, 400), kLeftButtonDown);  // a third starts anew
  EXPECT_EQ(m.MessageFor(N::LeftPress, 2000, 400), kLeftButtonDown);  // too late
  EXPECT_EQ(m.MessageFor(N::LeftDoubleClick, 2100, 400), kLeftButtonDoubleClick);
  EXPECT_EQ(m.MessageFor(N::LeftPress, 2200, 400), kLeftButtonDown);
  EXPECT_EQ(m.MessageFor(N::RightPress, 2300, 400), kRightButtonDown);
  EXPECT_EQ(m.MessageFor(N::LeftPress, 2350, 400), kLeftButtonDown);
}

TEST(WindowBehaviour, MinimisingHidesAndTheIconBringsTheWindowBack) {
  WindowRig rig;
  auto* restore = rig.Find<QAction>("mnuRestaurer");
  EXPECT_FALSE(restore->isVisible());
  rig.window->setWindowState(Qt::WindowMinimized);
  EXPECT_FALSE(rig.window->isVisible());
  EXPECT_TRUE(restore->isVisible());
  // At 96 DPI one press does nothing; the double-click of two quick presses toggles.
  rig.window->IconNotified(IconClickMerger::Notice::LeftPress);
  EXPECT_FALSE(rig.window->isVisible());
  rig.window->IconNotified(IconClickMerger::Notice::LeftPress);
  EXPECT_TRUE(rig.window->isVisible());
  EXPECT_FALSE(rig.window->isMinimized());
  EXPECT_FALSE(restore->isVisible());
  EXPECT_FALSE(rig.window->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
  // A second double-click hides it again.
  rig.window->IconNotified(IconClickMerger::Notice::LeftDoubleClick);
  EXPECT_FALSE(rig.window->isVisible());
  EXPECT_TRUE(restore->isVisible());
  restore->trigger();
  EXPECT_TRUE(rig.window->isVisible());
  EXPECT_FALSE(restore->isVisible());
}

TEST(WindowBehaviour, At120DpiASinglePressToggles) {
  WindowRig rig({}, {}, 3, 120);
  rig.window->IconNotified(IconClickMerger::Notice::LeftPress);
  EXPECT_FALSE(rig.window->isVisible());
  QTest::qWait(0);
  rig.window->PictureQuillstamp1_MouseMove(1, 0, 6156.0f, 0);
  EXPECT_TRUE(rig.window->isVisible());
  // Controls sit at their design places at this scale too (12 twips per pixel).
  EXPECT_EQ(rig.window->centralWidget()->size(), QSize(793, 568));
}

TEST(WindowBehaviour, WithoutANotificationAreaMinimisingKeepsTheWindowInTheTaskBar) {
  WindowRig rig({}, {}, 3, 96, /*trayAvailable=*/false);
  rig.window->setWindowState(Qt::WindowMinimized);
  EXPECT_TRUE(rig.window->isVisible());
  EXPECT_TRUE(rig.window->isMinimized());
}

TEST(WindowBehaviour, ARightPressOffersTheFileMenuWithTheRunState) {
  WindowRig rig;
  QMenu* menu = rig.window->fileMenu();
  EXPECT_EQ(rig.window->trayIcon()->contextMenu(), menu);
  rig.window->IconNotified(IconClickMerger::Notice::RightPress);
  EXPECT_TRUE(menu->isVisible());
  menu->hide();
  // During a pass the menu says "Stop analysis" and Exit is greyed out.
  bool checked = false;
  rig.log.onRecordRead = [&](int index) {
    if (index != 2) return;
    checked = true;
    EXPECT_EQ(rig.Find<QAction>("mnuStart")->text(), "Stop analysis");
    EXPECT_FALSE(rig.Find<QAction>("mnuQuitter")->isEnabled());
  };
  rig.window->cmdGo_Click();
  EXPECT_TRUE(checked);
}

TEST(Exit, AnsweredNoChangesNothing) {
  WindowRig rig;
  BoxAnswerer boxes(QMessageBox::No);
  rig.Find<QAction>("mnuQuitter")->trigger();
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0].text, "Exit program");
  EXPECT_EQ(boxes.seen[0].title, "Quillstamp");
  EXPECT_EQ(boxes.seen[0].icon, QMessageBox::Question);
  EXPECT_EQ(boxes.seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(rig.quits, 0);
  EXPECT_TRUE(rig.window->trayIcon()->isVisible());
  EXPECT_TRUE(rig.window->isVisible());
}

TEST(Exit, AnsweredYesRemovesTheIconAndEnds) {
  WindowRig rig;
  BoxAnswerer boxes(QMessageBox::Yes);
  rig.Find<QAction>("mnuQuitter")->trigger();
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(rig.quits, 1);
  EXPECT_FALSE(rig.window->trayIcon()->isVisible());
}

}  // namespace
}  // namespace qs::test
