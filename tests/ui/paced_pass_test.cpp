// The window paints at its own pace during a pass. Whatever the pace, once the pass is over the
// screen shows the list, the counts and the bars as they are, and input that waits at a yield is
// handled at that yield.
#include <QAbstractItemModel>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <thread>

#include "window_fixture.h"

namespace qs::test {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;

// What the window system holds of the window: what was last painted and flushed.
QImage OnScreen(const frmQuillstamp& window) {
  return window.screen()
      ->grabWindow(window.winId())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

// What painting the window afresh gives.
QImage Rendered(frmQuillstamp& window) {
  return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void ExpectGridShowsTheList(WindowRig& rig) {
  const EventList& list = rig.state.eventList;
  const QAbstractItemModel* model = rig.Find<QTableView>("gridEvenements")->model();
  ASSERT_EQ(model->rowCount(), list.EventCount());
  for (int row = 1; row <= list.EventCount(); ++row) {
    for (int column = 0; column < kColumnCount; ++column) {
      EXPECT_EQ(model->index(row - 1, column).data().toString().toStdString(),
                list.CellText(row, column))
          << "row " << row << ", column " << column;
    }
  }
}

struct PaceCase {
  const char* name;
  milliseconds interval;
};

class PacedPass : public testing::TestWithParam<PaceCase> {};

// Every other record of 40 lists an event and marks it, on a list of ten rows: the list fills,
// then loses its oldest row for every new one, as a server's list does all day.
TEST_P(PacedPass, TheScreenShowsTheListCountsAndBarsOnceThePassEnds) {
  Settings stored;
  stored.MaxSelectedEvents = 10;
  WindowRig rig({}, stored, 40, 96, true, {}, GetParam().interval);
  EventList& list = rig.state.eventList;
  rig.log.onRecordRead = [&](int index) {
    if (index % 2 != 0) return;
    list.InsertNewest(EventDateTime{2026, 12, 1, 10, index, 0}, "user" + std::to_string(index),
                      "/srv/shared/file" + std::to_string(index) + ".txt");
    list.SetMark(1, kColWin, "w");
    list.SetMark(1, kColMac, index % 4 == 0 ? "M" : "?");
  };
  rig.window->cmdGo_Click();

  ASSERT_EQ(list.EventCount(), 10);
  EXPECT_EQ(list.CellText(1, kColUser), "user40");
  ExpectGridShowsTheList(rig);
  EXPECT_EQ(rig.Text("lblNbSelectedEvents"), "10");
  EXPECT_EQ(rig.Text("lblMaxEvents"), "40");
  EXPECT_EQ(rig.Find<QProgressBar>("ProgressEvents")->value(), 0);
  // Nothing was processed since the pass returned: what the screen shows, the pass painted.
  EXPECT_TRUE(OnScreen(*rig.window) == Rendered(*rig.window));
}

INSTANTIATE_TEST_SUITE_P(Intervals, PacedPass,
                         testing::Values(PaceCase{"EveryRequest", milliseconds(0)},
                                         PaceCase{"Default", WindowServices{}.passPaintInterval},
                                         PaceCase{"OnlyAtTheEnd", hours(1)}),
                         [](const auto& info) { return std::string(info.param.name); });

// A click that waits in the queue while the window holds its paints back is handled at the next
// yield: the pass stops after the record in progress, and the screen shows the stopped window.
TEST(PacedPassInput, AClickWaitingAtAYieldStopsThePassWhilePaintsAreHeld) {
  WindowRig rig({}, {}, 100, 96, true, {}, hours(1));
  auto* go = rig.Find<QToolButton>("cmdGo");
  rig.log.onRecordRead = [&](int index) {
    if (index != 10) return;
    const QPointF at = QRectF(go->rect()).center();
    const QPointF global = go->mapToGlobal(at);
    QCoreApplication::postEvent(
        go, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                            Qt::NoModifier));
    QCoreApplication::postEvent(go, new QMouseEvent(QEvent::MouseButtonRelease, at, global,
                                                    Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
  };
  rig.window->cmdGo_Click();
  EXPECT_EQ(rig.log.recordsRead, 10);
  EXPECT_TRUE(rig.state.run.StopFlag);
  EXPECT_FALSE(rig.window->PassRunning());
  EXPECT_EQ(go->text(), "Start");
  EXPECT_TRUE(OnScreen(*rig.window) == Rendered(*rig.window));
}

// During a pass a yield asks the window system and the timers only every so often, but it still
// asks: a timer that comes due while records are being read fires before the pass ends. Each
// record after the timer's start takes a tenth of a millisecond, far below any sensible spacing of
// those questions, and the pass is many times longer than that spacing.
TEST(PacedPassInput, ATimerDueDuringThePassFiresBeforeItEnds) {
  constexpr int kRecords = 400;
  WindowRig rig({}, {}, kRecords, 96, true, {}, hours(1));
  int firedAt = 0;
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, [&] { firedAt = rig.log.recordsRead; });
  rig.log.onRecordRead = [&](int index) {
    if (index == 10) timer.start(0);
    if (index > 10 && firedAt == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
  };
  rig.window->cmdGo_Click();
  EXPECT_EQ(rig.log.recordsRead, kRecords);
  EXPECT_GE(firedAt, 10);
  EXPECT_LT(firedAt, kRecords) << "no timer ran during the pass";
}

}  // namespace
}  // namespace qs::test
