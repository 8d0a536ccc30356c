// The grid follows the event list: rows inserted at the top, the oldest cut at the limit, marks,
// the count label.
#include <QLabel>
#include <QScrollBar>
#include <QTableView>

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

}  // namespace
}  // namespace qs::test
