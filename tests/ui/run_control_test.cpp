// Start, Stop and the wait between passes, on the real window over a counting log.
#include <QAction>
#include <QGroupBox>
#include <QMenu>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "window_fixture.h"

namespace qs::test {
namespace {

// Clicks cmdGo the way the user would: the click waits in the event queue for the next yield.
void PostClick(WindowRig& rig) {
  QMetaObject::invokeMethod(rig.Find<QToolButton>("cmdGo"), "click", Qt::QueuedConnection);
}

void ExpectIdleControls(WindowRig& rig) {
  EXPECT_EQ(rig.Find<QToolButton>("cmdGo")->text(), "Start");
  EXPECT_EQ(rig.Find<QAction>("mnuStart")->text(), "Start analysis");
  EXPECT_TRUE(rig.Find<QAction>("mnuQuitter")->isEnabled());
  EXPECT_TRUE(rig.Find<QMenu>("mnuConfiguration")->menuAction()->isEnabled());
  EXPECT_TRUE(rig.Find<QGroupBox>("FrameComments")->isEnabled());
}

TEST(RunControl, StartRunsOnePassAndLocksTheWindowUntilStop) {
  WindowRig rig;
  bool lockedDuringPass = false;
  rig.log.onRecordRead = [&](int index) {
    if (index != 1) return;
    lockedDuringPass = rig.Find<QToolButton>("cmdGo")->text().isEmpty() &&
                       rig.Find<QAction>("mnuStart")->text() == "Stop analysis" &&
                       !rig.Find<QAction>("mnuQuitter")->isEnabled() &&
                       !rig.Find<QMenu>("mnuConfiguration")->menuAction()->isEnabled() &&
                       !rig.Find<QGroupBox>("FrameComments")->isEnabled();
  };
  QTest::mouseClick(rig.Find<QToolButton>("cmdGo"), Qt::LeftButton);
  EXPECT_EQ(rig.log.opens, 1);
  EXPECT_EQ(rig.log.recordsRead, 20);
  EXPECT_TRUE(lockedDuringPass);
  EXPECT_FALSE(rig.state.run.StopFlag);
  EXPECT_TRUE(rig.Find<QTimer>("Timer1")->isActive());
  EXPECT_EQ(rig.Text("lblMaxEvents"), "20");
  EXPECT_EQ(rig.Find<QProgressBar>("ProgressEvents")->value(), 0);
  EXPECT_EQ(rig.state.run.RemainingWait, 10);

  rig.window->Timer1_Timer();
  rig.window->Timer1_Timer();
  EXPECT_EQ(rig.WaitingValue(), 1);
  rig.Find<QAction>("mnuStart")->trigger();  // Stop from the File menu
  EXPECT_TRUE(rig.state.run.StopFlag);
  EXPECT_FALSE(rig.Find<QTimer>("Timer1")->isActive());
  EXPECT_EQ(rig.WaitingValue(), 0);
  ExpectIdleControls(rig);
}

TEST(RunControl, StopDuringAPassLeavesTheRestUnreadAndNoFurtherPass) {
  WindowRig rig({}, {}, 100);
  rig.log.onRecordRead = [&](int index) {
    if (index == 10) PostClick(rig);
  };
  rig.window->cmdGo_Click();
  EXPECT_EQ(rig.log.recordsRead, 10);  // records 11 to 100 unread
  EXPECT_TRUE(rig.state.run.StopFlag);
  EXPECT_FALSE(rig.Find<QTimer>("Timer1")->isActive());
  EXPECT_FALSE(rig.window->PassRunning());
  ExpectIdleControls(rig);
  EXPECT_EQ(rig.WaitingValue(), 0);
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
  EXPECT_EQ(rig.log.opens, 1);
}

TEST(RunControl, AStartWhileTheStoppedPassWindsDownDoesNothing) {
  WindowRig rig({}, {}, 50);
  rig.log.onRecordRead = [&](int index) {
    if (index == 5) {
      PostClick(rig);  // Stop
      PostClick(rig);  // Start again, before the pass has returned
    }
  };
  rig.window->cmdGo_Click();
  EXPECT_EQ(rig.log.opens, 1);
  EXPECT_EQ(rig.log.nestedOpens, 0);
  EXPECT_EQ(rig.log.recordsRead, 5);
  EXPECT_TRUE(rig.state.run.StopFlag);
  ExpectIdleControls(rig);
  // Once the pass has returned, Start works again.
  rig.log.onRecordRead = nullptr;
  rig.window->cmdGo_Click();
  EXPECT_EQ(rig.log.opens, 2);
  EXPECT_FALSE(rig.state.run.StopFlag);
}

TEST(RunControl, ATickDuringAPassNeverNestsOne) {
  Settings stored;
  stored.Temporisation = 1;
  WindowRig rig({}, stored, 30);
  int ticksDuringPass = 0;
  rig.log.onRecordRead = [&](int index) {
    if (index % 10 == 0) {
      ++ticksDuringPass;
      QTimer::singleShot(0, rig.window.get(), [&] { rig.window->Timer1_Timer(); });
    }
  };
  rig.window->cmdGo_Click();
  EXPECT_EQ(ticksDuringPass, 3);
  EXPECT_EQ(rig.log.opens, 1);
  EXPECT_EQ(rig.state.run.RemainingWait, 1);  // those ticks counted nothing
  rig.window->Timer1_Timer();                 // 1 -> 0
  rig.window->Timer1_Timer();                 // starts a pass, with ticks inside it again
  EXPECT_EQ(rig.log.opens, 2);
  EXPECT_EQ(rig.log.nestedOpens, 0);
  EXPECT_EQ(rig.state.run.RemainingWait, 0);
}

struct TickCase {
  int temporisation;
};

class TickArithmetic : public testing::TestWithParam<TickCase> {};

// After a Start, the first tick-started pass comes at tick T + 1 and then one every T ticks; the
// bar shows the elapsed part of the wait (always 0 for T = 1, whose bar has the maximum 1).
TEST_P(TickArithmetic, PassesAndBarFollowTheWait) {
  const int t = GetParam().temporisation;
  Settings stored;
  stored.Temporisation = t;
  WindowRig rig({}, stored, 3);
  rig.window->cmdGo_Click();
  ASSERT_EQ(rig.log.opens, 1);
  const int ticks = 3 * t + 4;
  std::vector<int> passTicks, bars;
  for (int tick = 1; tick <= ticks; ++tick) {
    const int before = rig.log.opens;
    rig.window->Timer1_Timer();
    if (rig.log.opens != before) passTicks.push_back(tick);
    bars.push_back(rig.WaitingValue());
  }
  std::vector<int> expectedPasses;
  for (int tick = t + 1; tick <= ticks; tick += t) expectedPasses.push_back(tick);
  EXPECT_EQ(passTicks, expectedPasses);
  std::vector<int> expectedBars;
  for (int tick = 1; tick <= ticks; ++tick) expectedBars.push_back(t < 2 ? 0 : (tick - 1) % t);
  EXPECT_EQ(bars, expectedBars);
  EXPECT_EQ(rig.Find<QProgressBar>("ProgressBarAttente")->maximum(), t < 2 ? 1 : t - 1);
}

INSTANTIATE_TEST_SUITE_P(Temporisation, TickArithmetic,
                         testing::Values(TickCase{1}, TickCase{2}, TickCase{10}),
                         [](const auto& info) {
                           return "T" + std::to_string(info.param.temporisation);
                         });

TEST(RunControl, StopInTheWaitThenStartGoesOnFromTheRemainingWait) {
  WindowRig rig({}, {}, 3);  // Temporisation 10
  rig.window->cmdGo_Click();
  for (int i = 0; i < 6; ++i) rig.window->Timer1_Timer();
  ASSERT_EQ(rig.state.run.RemainingWait, 4);
  rig.window->cmdGo_Click();  // Stop
  EXPECT_EQ(rig.WaitingValue(), 0);
  EXPECT_FALSE(rig.Find<QTimer>("Timer1")->isActive());
  EXPECT_EQ(rig.state.run.RemainingWait, 4);
  rig.window->cmdGo_Click();  // Start: a pass at once
  EXPECT_EQ(rig.log.opens, 2);
  EXPECT_TRUE(rig.Find<QTimer>("Timer1")->isActive());
  rig.window->Timer1_Timer();
  EXPECT_EQ(rig.WaitingValue(), 6);  // T - 4
  for (int i = 2; i <= 4; ++i) rig.window->Timer1_Timer();
  EXPECT_EQ(rig.log.opens, 2);
  rig.window->Timer1_Timer();  // the fifth tick
  EXPECT_EQ(rig.log.opens, 3);
}

TEST(RunControl, AnUnopenableLogIsReportedAndTheWaitStillFollows) {
  BoxAnswerer boxes(QMessageBox::Ok);
  WindowRig rig;
  rig.log.openFailuresLeft = 1;
  rig.window->cmdGo_Click();
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0].text, "Error. Unable to open Log: Security");
  EXPECT_EQ(boxes.seen[0].buttons, QMessageBox::Ok);
  EXPECT_EQ(boxes.seen[0].title, "Quillstamp");
  EXPECT_EQ(rig.Text("lblEvents"), "Reading Security Log");
  EXPECT_TRUE(rig.Find<QTimer>("Timer1")->isActive());
}

TEST(RunControl, YieldStopsAsSoonAsNothingIsPending) {
  WindowRig rig;
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
  // Nothing waits: a round reports it had nothing to do.
  EXPECT_FALSE(rig.window->ProcessPendingEvents());
  int delivered = 0;
  QTimer::singleShot(0, rig.window.get(), [&] { ++delivered; });
  EXPECT_TRUE(rig.window->ProcessPendingEvents());
  EXPECT_EQ(delivered, 1);
  // A posted event that the dispatcher delivers without reporting it also counts.
  QMetaObject::invokeMethod(
      rig.window.get(), [&] { ++delivered; }, Qt::QueuedConnection);
  EXPECT_TRUE(rig.window->ProcessPendingEvents());
  EXPECT_EQ(delivered, 2);
  EXPECT_FALSE(rig.window->ProcessPendingEvents());
}

}  // namespace
}  // namespace qs::test
