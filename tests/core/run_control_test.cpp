// Start, Stop and the wait between passes, over a view that records what run control switches
// and a pass that reads a log of counted records, the way the scan pass reads StopFlag.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/run_control.h"

namespace qs {
namespace {

class RecordingView : public RunControlView {
 public:
  explicit RecordingView(const RunState& run) : run_(run) {}

  void SetGoButton(bool running) override { goRunning = running; }
  void SetStartMenuCaption(std::string_view caption) override { startCaption = caption; }
  void SetRunLocksEnabled(bool enabled) override { locksEnabled = enabled; }
  void RepaintNow() override { ++repaints; }
  void SetTimerEnabled(bool enabled) override { timerEnabled = enabled; }
  void SetWaitingValue(std::int32_t value) override { waitingValue = value; }
  // A pass over `records` records: StopFlag is read after each one, as the scan pass reads it
  // after its yield, and a pass that ends with the analysis on switches the timer on.
  void RunScanPass() override {
    if (inPass_) ++nestedPasses;
    inPass_ = true;
    ++passes;
    for (int index = 1; index <= records; ++index) {
      ++recordsRead;
      if (onRecordRead) onRecordRead(index);
      if (run_.StopFlag) break;
    }
    if (!run_.StopFlag) timerEnabled = true;
    inPass_ = false;
  }

  bool goRunning = false;
  std::string startCaption = "Start analysis";
  bool locksEnabled = true;
  int repaints = 0;
  bool timerEnabled = false;
  std::int32_t waitingValue = 0;
  int records = 20;
  int passes = 0;
  int nestedPasses = 0;
  int recordsRead = 0;
  // Called when record `index` (1-based, within the pass) has been read: what the window would
  // handle during the yield after it.
  std::function<void(int index)> onRecordRead;

 private:
  const RunState& run_;
  bool inPass_ = false;
};

struct Rig {
  explicit Rig(std::int32_t temporisation = 10, int records = 20) {
    settings.Temporisation = temporisation;
    run.RemainingWait = temporisation;  // as start-up sets it
    view.records = records;
  }
  Settings settings;
  RunState run;
  RecordingView view{run};
  RunControl control{run, settings, view};
};

void ExpectIdleControls(const RecordingView& view) {
  EXPECT_FALSE(view.goRunning);
  EXPECT_EQ(view.startCaption, "Start analysis");
  EXPECT_TRUE(view.locksEnabled);
}

TEST(RunControlCore, StartRunsOnePassAndLocksTheControlsUntilStop) {
  Rig rig;
  bool lockedDuringPass = false;
  rig.view.onRecordRead = [&](int index) {
    if (index != 1) return;
    lockedDuringPass = rig.view.goRunning && rig.view.startCaption == "Stop analysis" &&
                       !rig.view.locksEnabled && rig.view.repaints == 1;
  };
  rig.control.cmdGo_Click();
  EXPECT_EQ(rig.view.passes, 1);
  EXPECT_EQ(rig.view.recordsRead, 20);
  EXPECT_TRUE(lockedDuringPass);
  EXPECT_FALSE(rig.run.StopFlag);
  EXPECT_TRUE(rig.view.timerEnabled);
  EXPECT_EQ(rig.run.RemainingWait, 10);

  rig.control.Timer1_Timer();
  rig.control.Timer1_Timer();
  EXPECT_EQ(rig.view.waitingValue, 1);
  rig.control.mnuStart_Click();  // Stop from the File menu
  EXPECT_TRUE(rig.run.StopFlag);
  EXPECT_FALSE(rig.view.timerEnabled);
  EXPECT_EQ(rig.view.waitingValue, 0);
  ExpectIdleControls(rig.view);
}

TEST(RunControlCore, StopDuringAPassLeavesTheRestUnreadAndNoFurtherPass) {
  Rig rig(10, 100);
  rig.view.onRecordRead = [&](int index) {
    if (index == 10) rig.control.cmdGo_Click();
  };
  rig.control.cmdGo_Click();
  EXPECT_EQ(rig.view.recordsRead, 10);  // records 11 to 100 unread
  EXPECT_TRUE(rig.run.StopFlag);
  EXPECT_FALSE(rig.view.timerEnabled);
  EXPECT_FALSE(rig.control.PassRunning());
  ExpectIdleControls(rig.view);
  EXPECT_EQ(rig.view.waitingValue, 0);
  EXPECT_EQ(rig.view.passes, 1);
}

TEST(RunControlCore, AStartWhileTheStoppedPassWindsDownDoesNothing) {
  Rig rig(10, 50);
  rig.view.onRecordRead = [&](int index) {
    if (index == 5) {
      rig.control.cmdGo_Click();  // Stop
      rig.control.cmdGo_Click();  // Start again, before the pass has returned
    }
  };
  rig.control.cmdGo_Click();
  EXPECT_EQ(rig.view.passes, 1);
  EXPECT_EQ(rig.view.nestedPasses, 0);
  EXPECT_EQ(rig.view.recordsRead, 5);
  EXPECT_TRUE(rig.run.StopFlag);
  ExpectIdleControls(rig.view);
  // Once the pass has returned, Start works again.
  rig.view.onRecordRead = nullptr;
  rig.control.cmdGo_Click();
  EXPECT_EQ(rig.view.passes, 2);
  EXPECT_FALSE(rig.run.StopFlag);
}

TEST(RunControlCore, ATickDuringAPassNeverNestsOne) {
  Rig rig(1, 30);
  int ticksDuringPass = 0;
  rig.view.onRecordRead = [&](int index) {
    if (index % 10 == 0) {
      ++ticksDuringPass;
      rig.control.Timer1_Timer();
    }
  };
  rig.control.cmdGo_Click();
  EXPECT_EQ(ticksDuringPass, 3);
  EXPECT_EQ(rig.view.passes, 1);
  EXPECT_EQ(rig.run.RemainingWait, 1);  // those ticks counted nothing
  rig.control.Timer1_Timer();           // 1 -> 0
  rig.control.Timer1_Timer();           // starts a pass, with ticks inside it again
  EXPECT_EQ(rig.view.passes, 2);
  EXPECT_EQ(rig.view.nestedPasses, 0);
  EXPECT_EQ(rig.run.RemainingWait, 0);
}

class TickArithmeticCore : public testing::TestWithParam<int> {};

// After a Start, the first tick-started pass comes at tick T + 1 and then one every T ticks; the
// bar shows the elapsed part of the wait (always 0 for T = 1).
TEST_P(TickArithmeticCore, PassesAndBarFollowTheWait) {
  const int t = GetParam();
  Rig rig(t, 3);
  rig.control.cmdGo_Click();
  ASSERT_EQ(rig.view.passes, 1);
  const int ticks = 3 * t + 4;
  std::vector<int> passTicks, bars;
  for (int tick = 1; tick <= ticks; ++tick) {
    const int before = rig.view.passes;
    rig.control.Timer1_Timer();
    if (rig.view.passes != before) passTicks.push_back(tick);
    bars.push_back(rig.view.waitingValue);
  }
  std::vector<int> expectedPasses;
  for (int tick = t + 1; tick <= ticks; tick += t) expectedPasses.push_back(tick);
  EXPECT_EQ(passTicks, expectedPasses);
  std::vector<int> expectedBars;
  for (int tick = 1; tick <= ticks; ++tick) expectedBars.push_back(t < 2 ? 0 : (tick - 1) % t);
  EXPECT_EQ(bars, expectedBars);
}

INSTANTIATE_TEST_SUITE_P(Temporisation, TickArithmeticCore, testing::Values(1, 2, 10),
                         [](const auto& info) { return "T" + std::to_string(info.param); });

TEST(RunControlCore, StopInTheWaitThenStartGoesOnFromTheRemainingWait) {
  Rig rig(10, 3);
  rig.control.cmdGo_Click();
  for (int i = 0; i < 6; ++i) rig.control.Timer1_Timer();
  ASSERT_EQ(rig.run.RemainingWait, 4);
  rig.control.cmdGo_Click();  // Stop
  EXPECT_EQ(rig.view.waitingValue, 0);
  EXPECT_FALSE(rig.view.timerEnabled);
  EXPECT_EQ(rig.run.RemainingWait, 4);
  rig.control.cmdGo_Click();  // Start: a pass at once
  EXPECT_EQ(rig.view.passes, 2);
  EXPECT_TRUE(rig.view.timerEnabled);
  rig.control.Timer1_Timer();
  EXPECT_EQ(rig.view.waitingValue, 6);  // T - 4
  for (int i = 2; i <= 4; ++i) rig.control.Timer1_Timer();
  EXPECT_EQ(rig.view.passes, 2);
  rig.control.Timer1_Timer();  // the fifth tick
  EXPECT_EQ(rig.view.passes, 3);
}

}  // namespace
}  // namespace qs
