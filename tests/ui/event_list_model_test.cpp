// The grid follows the event list: rows inserted at the top, the oldest cut at the limit, marks,
// the count label.
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <functional>

#include "ui/event_list_model.h"
#include "window_fixture.h"

namespace qs::test {
namespace {

TEST(EventListModel, FollowsInsertionsCutsAndMarks) {
  WindowRig rig;
  auto* grid = rig.Find<QTableView>("gridEvenements");
  QAbstractItemModel* model = grid->model();
  EXPECT_EQ(model->rowCount(), 0);
  EXPECT_EQ(model->columnCount(), 5);
  EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "Date & Time");
  EXPECT_EQ(model->headerData(4, Qt::Horizontal).toString(), "Mac");
  // Column widths of the design: 1600, 1600, the rest, 500, 500 twips; but the date at least as
  // wide as its text, and the file column leaving room for the vertical scroll bar: the columns
  // then fill the grid beside the bar exactly.
  EXPECT_GE(grid->columnWidth(0), 107);
  EXPECT_EQ(grid->columnWidth(1), 107);
  EXPECT_EQ(grid->columnWidth(3), 33);
  EXPECT_EQ(grid->columnWidth(4), 33);
  EXPECT_LE(grid->columnWidth(2), (9510 - 4400 + 7) / 15);
  int columns = 0;
  for (int c = 0; c < kColumnCount; ++c) columns += grid->columnWidth(c);
  EXPECT_EQ(columns,
            grid->width() - 2 * grid->frameWidth() - grid->verticalScrollBar()->sizeHint().width());

  rig.state.settings.MaxSelectedEvents = 3;
  EventList& list = rig.state.eventList;
  for (int i = 1; i <= 4; ++i) {
    EventDateTime when{2026, 12, i, 10, 0, 0};
    list.InsertNewest(when, "user" + std::to_string(i), "D:\\f" + std::to_string(i) + ".txt");
  }
  // The limit of 3 is reached before the fourth insertion: the oldest went first.
  ASSERT_EQ(model->rowCount(), list.EventCount());
  EXPECT_EQ(model->rowCount(), 3);
  EXPECT_EQ(model->index(0, 1).data().toString(), "user4");
  EXPECT_EQ(model->index(2, 1).data().toString(), "user2");
  EXPECT_EQ(model->index(0, 2).data().toString(), "D:\\f4.txt");
  EXPECT_EQ(rig.Text("lblNbSelectedEvents"), "3");

  list.SetMark(1, kColWin, "w");
  list.SetMark(2, kColMac, "???");
  EXPECT_EQ(model->index(0, 3).data().toString(), "w");
  EXPECT_EQ(model->index(1, 4).data().toString(), "???");

  list.ClearList();
  EXPECT_EQ(model->rowCount(), 0);
  EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), "File");
}

// A full list loses its oldest row for every new one. Whatever the steps (cuts at the limit, a
// lowered limit that cuts several rows, marks right after an insertion, a clear), the grid shows
// the list row for row, and the grid itself counts as many rows as the list holds: every change
// of the count reached it.
struct ListSteps {
  const char* name;
  std::function<void(EventList&, Settings&)> run;
};

class FullListModel : public testing::TestWithParam<ListSteps> {};

void Insert(EventList& list, int i) {
  list.InsertNewest(EventDateTime{2026, 12, 1 + i % 28, 10, i % 60, 0}, "user" + std::to_string(i),
                    "/srv/f" + std::to_string(i % 7) + ".txt");
}

TEST_P(FullListModel, FollowsTheListRowForRow) {
  WindowRig rig;
  rig.state.settings.MaxSelectedEvents = 5;
  auto* grid = rig.Find<QTableView>("gridEvenements");
  QAbstractItemModel* model = grid->model();
  EventList& list = rig.state.eventList;
  GetParam().run(list, rig.state.settings);
  ASSERT_EQ(model->rowCount(), list.EventCount());
  EXPECT_EQ(grid->verticalHeader()->count(), list.EventCount());
  for (int row = 1; row <= list.EventCount(); ++row)
    for (int column = 0; column < kColumnCount; ++column)
      EXPECT_EQ(model->index(row - 1, column).data().toString().toStdString(),
                list.CellText(row, column))
          << "row " << row << ", column " << column;
  EXPECT_EQ(rig.Text("lblNbSelectedEvents"), QString::number(list.EventCount()));
}

INSTANTIATE_TEST_SUITE_P(Steps, FullListModel,
                         testing::Values(ListSteps{"CutsAtTheLimit",
                                                   [](EventList& l, Settings&) {
                                                     for (int i = 0; i < 12; ++i) Insert(l, i);
                                                   }},
                                         ListSteps{"MarksAfterEachInsertion",
                                                   [](EventList& l, Settings&) {
                                                     for (int i = 0; i < 9; ++i) {
                                                       Insert(l, i);
                                                       l.SetMark(1, kColWin, "w");
                                                       l.SetMark(l.EventCount(), kColMac, "?");
                                                     }
                                                   }},
                                         ListSteps{"LoweredLimitCutsSeveralRows",
                                                   [](EventList& l, Settings& s) {
                                                     for (int i = 0; i < 7; ++i) Insert(l, i);
                                                     s.MaxSelectedEvents = 2;
                                                     Insert(l, 7);
                                                     Insert(l, 8);
                                                   }},
                                         ListSteps{"RaisedLimitGrowsAgain",
                                                   [](EventList& l, Settings& s) {
                                                     for (int i = 0; i < 7; ++i) Insert(l, i);
                                                     s.MaxSelectedEvents = 8;
                                                     for (int i = 7; i < 12; ++i) Insert(l, i);
                                                   }},
                                         ListSteps{"ClearedWhenFullThenFilledAgain",
                                                   [](EventList& l, Settings&) {
                                                     for (int i = 0; i < 6; ++i) Insert(l, i);
                                                     l.ClearList();
                                                     for (int i = 6; i < 9; ++i) Insert(l, i);
                                                   }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qs::test
