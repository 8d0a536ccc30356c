// The window on screens of 96, 120 and 144 dots per inch as the toolkit's high-DPI scaling shows
// them: each reports 96 logical dots per inch, at device pixel ratios of 1, 1.25 and 1.5. The
// icon must act at the screen's real scale, and every control must be whole on each.
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <cstdlib>
#include <ostream>

#include "window_fixture.h"

namespace qs::test {
namespace {

// Before the application exists: the offscreen platform with the three screens of the
// configuration file, whatever platform the environment names (the scales are the test).
[[maybe_unused]] const bool kScreensChosen = [] {
  setenv("QT_QPA_PLATFORM", "offscreen:configfile=" QS_SCREENS_CONFIG, 1);
  return true;
}();

struct ScaleCase {
  const char* screen;
  double ratio;
  double iconTwips;  // the icon acts as at 15 twips per pixel where the decoding knows no other
  // Whether the window is shown after a single left press, then a double-click, then a press.
  bool shownAfterPress;
  bool shownAfterDoubleClick;
  bool shownAfterSecondPress;
};

void PrintTo(const ScaleCase& c, std::ostream* out) { *out << "screen " << c.screen; }

class ScaledScreen : public testing::TestWithParam<ScaleCase> {
 protected:
  void SetUp() override {
    App();
    for (QScreen* screen : QGuiApplication::screens())
      if (screen->name() == GetParam().screen) screen_ = screen;
    ASSERT_NE(screen_, nullptr) << "the offscreen platform did not take " QS_SCREENS_CONFIG;
  }
  std::function<void(frmQuillstamp&)> OnScreen() const {
    return [screen = screen_](frmQuillstamp& window) {
      window.setScreen(screen);
      window.move(screen->availableGeometry().topLeft() + QPoint(20, 20));
    };
  }
  QScreen* screen_ = nullptr;
};

TEST_P(ScaledScreen, TheIconActsAtTheScreensRealScale) {
  const ScaleCase& c = GetParam();
  WindowRig rig({}, {}, 3, /*dpi=*/0, true, OnScreen());
  ASSERT_EQ(rig.window->screen(), screen_);
  EXPECT_DOUBLE_EQ(rig.window->devicePixelRatioF(), c.ratio);
  EXPECT_DOUBLE_EQ(screen_->logicalDotsPerInch(), 96.0);
  EXPECT_DOUBLE_EQ(rig.window->twipsPerPixel(), 15.0);  // the design places, in logical pixels
  EXPECT_DOUBLE_EQ(rig.window->iconTwipsPerPixel(), c.iconTwips);

  ASSERT_TRUE(rig.window->isVisible());
  rig.window->IconNotified(IconClickMerger::Notice::LeftPress);
  EXPECT_EQ(rig.window->isVisible(), c.shownAfterPress) << "single left press";
  rig.window->IconNotified(IconClickMerger::Notice::LeftDoubleClick);
  EXPECT_EQ(rig.window->isVisible(), c.shownAfterDoubleClick) << "left double-click";
  rig.window->IconNotified(IconClickMerger::Notice::LeftPress);
  EXPECT_EQ(rig.window->isVisible(), c.shownAfterSecondPress) << "second single press";
  // A right press opens the File menu at every scale, and leaves the window as it is.
  rig.window->IconNotified(IconClickMerger::Notice::RightPress);
  EXPECT_TRUE(rig.window->fileMenu()->isVisible());
  rig.window->fileMenu()->hide();
  EXPECT_EQ(rig.window->isVisible(), c.shownAfterSecondPress);
}

TEST_P(ScaledScreen, EveryControlIsWhole) {
  Settings stored;
  stored.MaxWinComments = 10000;
  WindowRig rig({}, stored, 3, /*dpi=*/0, true, OnScreen());
  ASSERT_EQ(rig.window->screen(), screen_);
  std::string lines;
  for (const std::string& fault : LayoutFaults(*rig.window)) lines += "\n  " + fault;
  EXPECT_TRUE(lines.empty()) << lines;
}

INSTANTIATE_TEST_SUITE_P(
    Screens, ScaledScreen,
    testing::Values(
        // 15 twips per pixel: a double-click toggles, a single press does nothing.
        ScaleCase{"dpi96", 1.0, 15.0, true, false, false},
        // 12 twips per pixel: a single press toggles, a double-click does nothing.
        ScaleCase{"dpi120", 1.25, 12.0, false, false, true},
        // 10 twips per pixel is unknown to the decoding: the icon acts as at 15.
        ScaleCase{"dpi144", 1.5, 10.0, true, false, false}),
    [](const testing::TestParamInfo<ScaleCase>& info) { return std::string(info.param.screen); });

}  // namespace
}  // namespace qs::test
