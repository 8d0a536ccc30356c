// The window shows what it holds whole: every caption and indicator inside its control, the
// controls inside their frames and clear of each other, the whole date text in the grid whatever
// the locale's date form, and no horizontal scroll bar brought by the vertical one.
#include <QCheckBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <clocale>
#include <ostream>
#include <string>

#include "scan/event_time.h"
#include "window_fixture.h"

namespace qs::test {
namespace {

std::string Lines(const std::vector<std::string>& faults) {
  std::string text;
  for (const std::string& fault : faults) text += "\n  " + fault;
  return text;
}

struct LayoutCase {
  double dpi;
  std::int16_t maxWinComments;
};

void PrintTo(const LayoutCase& c, std::ostream* out) {
  *out << c.dpi << " dpi, MaxWinComments " << c.maxWinComments;
}

class WindowLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(WindowLayout, EveryControlIsWhole) {
  Settings stored;
  stored.MaxWinComments = GetParam().maxWinComments;
  stored.MacComments = true;
  WindowRig rig({}, stored, 3, GetParam().dpi);
  EXPECT_EQ(
      rig.Find<QCheckBox>("chkWinComments")->text().toStdString(),
      "in Windows 2000 files comments [<" + std::to_string(GetParam().maxWinComments) + " chars]");
  const auto faults = LayoutFaults(*rig.window);
  EXPECT_TRUE(faults.empty()) << Lines(faults);
}

INSTANTIATE_TEST_SUITE_P(Scales, WindowLayout,
                         testing::Values(LayoutCase{96, 500}, LayoutCase{96, 10000},
                                         LayoutCase{120, 500}, LayoutCase{120, 10000},
                                         LayoutCase{144, 500}, LayoutCase{144, 10000},
                                         // A hand-written value wider than any the dialog allows.
                                         LayoutCase{96, -32768}),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                           const int max = info.param.maxWinComments;
                           return "Dpi" + std::to_string(static_cast<int>(info.param.dpi)) +
                                  "MaxWinComments" + (max < 0 ? "Minus" : "") +
                                  std::to_string(max < 0 ? -max : max);
                         });

TEST(WindowLayoutDetails, TheWidestSizeFromTheDialogStaysWhole) {
  WindowRig rig;
  // What the size dialog's OK does on the window.
  rig.window->SetWinCommentsCaption("in Windows 2000 files comments [<10000 chars]");
  auto faults = LayoutFaults(*rig.window);
  EXPECT_TRUE(faults.empty()) << Lines(faults);
  rig.window->SetWinCommentsCaption("in Windows 2000 files comments [<100 chars]");
  faults = LayoutFaults(*rig.window);
  EXPECT_TRUE(faults.empty()) << Lines(faults);
}

TEST(WindowLayoutDetails, TheTwoTimeOptionsStandApartOnTheirLine) {
  WindowRig rig;
  const QRect with = rig.Find<QRadioButton>("optTimeSeconds")->geometry();
  const QRect without = rig.Find<QRadioButton>("optTimeNotSeconds")->geometry();
  EXPECT_LT(with.right(), without.left());
  // Still one line, and the first where the design puts it.
  EXPECT_LT(std::abs(with.center().y() - without.center().y()), 2);
  EXPECT_EQ(with.left(), rig.window->Px(240));
}

// ---- The date column ----------------------------------------------------------------------------

// Sets LC_TIME for one test and puts it back afterwards.
class DateColumn : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    App();
    saved_ = std::setlocale(LC_TIME, nullptr);
    if (std::setlocale(LC_TIME, GetParam()) == nullptr)
      GTEST_SKIP() << "the locale " << GetParam() << " is not installed here (locale -a)";
  }
  void TearDown() override { std::setlocale(LC_TIME, saved_.c_str()); }

 private:
  std::string saved_;
};

TEST_P(DateColumn, ShowsTheWholeDateText) {
  WindowRig rig;
  auto* grid = rig.Find<QTableView>("gridEvenements");
  // The date of the report, its neighbour a second later, and dates of wide digits and both
  // halves of the day.
  const EventDateTime dates[] = {{2026, 12, 10, 12, 43, 5},  {2026, 12, 10, 12, 43, 6},
                                 {2026, 11, 28, 23, 58, 58}, {2026, 8, 28, 8, 48, 28},
                                 {2026, 10, 30, 20, 20, 20}, {2026, 1, 1, 0, 0, 1}};
  for (const EventDateTime& when : dates) rig.state.eventList.InsertNewest(when, "alice", "D:\\x");
  QApplication::processEvents();
  ASSERT_EQ(grid->model()->rowCount(), static_cast<int>(std::size(dates)));

  const int width = grid->columnWidth(kColDateTime);
  // What the grid's own cells need for the texts they hold.
  const QAbstractItemView* view = grid;
  EXPECT_GE(width, view->sizeHintForColumn(kColDateTime));
  const QFontMetrics metrics(grid->font());
  for (int row = 0; row < grid->model()->rowCount(); ++row) {
    const QString text = grid->model()->index(row, kColDateTime).data().toString();
    EXPECT_LT(metrics.horizontalAdvance(text), width) << text.toStdString();
  }
  const std::string first = grid->model()->index(0, kColDateTime).data().toString().toStdString();
  if (std::string(GetParam()).starts_with("en_US")) {
    EXPECT_NE(first.find("AM"), std::string::npos) << first;
  }
  // Wider than the design, but the user can still drag it.
  EXPECT_EQ(grid->horizontalHeader()->sectionResizeMode(kColDateTime), QHeaderView::Interactive);
}

INSTANTIATE_TEST_SUITE_P(Locales, DateColumn, testing::Values("C", "de_DE.UTF-8", "en_US.UTF-8"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name;
                           for (const char* c = info.param; *c != '\0' && *c != '.'; ++c)
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           return name;
                         });

// ---- The scroll bars ----------------------------------------------------------------------------

class GridScrollBars : public testing::TestWithParam<double> {};

TEST_P(GridScrollBars, AVerticalBarBringsNoHorizontalOne) {
  WindowRig rig({}, {}, 3, GetParam());
  auto* grid = rig.Find<QTableView>("gridEvenements");
  for (int i = 0; i < 40; ++i)
    rig.state.eventList.InsertNewest({2026, 12, 10, 12, 43, i}, "carol",
                                     "D:\\Shared\\Archive\\plan-2026.txt");
  // The grid lays its rows out on a later round of the event loop.
  EXPECT_TRUE(QTest::qWaitFor([&] { return grid->verticalScrollBar()->isVisible(); }, 5000));
  QApplication::processEvents();
  EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
  int columns = 0;
  for (int c = 0; c < kColumnCount; ++c) columns += grid->columnWidth(c);
  EXPECT_LE(columns, grid->viewport()->width());
  // The last row can be brought wholly into sight.
  grid->scrollToBottom();
  QApplication::processEvents();
  const QModelIndex last = grid->model()->index(grid->model()->rowCount() - 1, kColFile);
  EXPECT_TRUE(grid->viewport()->rect().contains(grid->visualRect(last)));
}

INSTANTIATE_TEST_SUITE_P(Scales, GridScrollBars, testing::Values(96.0, 120.0, 144.0),
                         [](const testing::TestParamInfo<double>& info) {
                           return "Dpi" + std::to_string(static_cast<int>(info.param));
                         });

}  // namespace
}  // namespace qs::test
