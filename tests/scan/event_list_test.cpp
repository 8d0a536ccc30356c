#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "scan/event_list.h"

namespace qs {
namespace {

// Records every notification, and follows the list's row count from the reports alone, as a
// grid's model does: each report must describe the change exactly.
class RecordingObserver : public EventListObserver {
 public:
  explicit RecordingObserver(const EventList* list) : list_(list) {}
  std::vector<std::string> log;
  std::vector<int> counts;

  void ListReset() override {
    followed_ = list_->EventCount();
    log.push_back("reset " + std::to_string(list_->EventCount()));
  }
  void RowsRemovedFromBottom(int first, int last) override {
    EXPECT_EQ(last, followed_) << "the removed rows end at the last row the follower knows";
    EXPECT_EQ(list_->EventCount(), first - 1);
    followed_ = first - 1;
    log.push_back("removed " + std::to_string(first) + "-" + std::to_string(last));
  }
  void RowInsertedAtTop() override {
    EXPECT_EQ(list_->EventCount(), followed_ + 1);
    followed_ = list_->EventCount();
    log.push_back("inserted " + list_->CellText(1, kColFile));
  }
  void CellChanged(int row, int column) override {
    log.push_back("cell " + std::to_string(row) + "," + std::to_string(column));
  }
  void SelectedCountChanged(int count) override { counts.push_back(count); }

 private:
  const EventList* list_;
  int followed_ = 0;  // the rows as the reports so far tell them
};

class EventListTest : public testing::Test {
 protected:
  void SetUp() override {
    previousLocale_ = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");
    list_.SetUpList(10000);
    observer_.log.clear();
  }
  void TearDown() override { std::setlocale(LC_TIME, previousLocale_.c_str()); }

  // Event n: written n minutes after 2001-09-09 10:00:00, file "F<n>".
  void Insert(int n) {
    list_.InsertNewest({2001, 9, 9, 10 + n / 60, n % 60, 0}, "user" + std::to_string(n),
                       "F" + std::to_string(n));
  }

  Settings settings_;
  RecordingObserver observer_{&list_};  // only the address of the list, made next
  EventList list_{settings_, &observer_};
  std::string previousLocale_;
};

TEST_F(EventListTest, SetUpGivesHeaderAndWidths) {
  EXPECT_EQ(list_.EventCount(), 0);
  const char* headers[] = {"Date & Time", "User", "File", "Win", "Mac"};
  for (int c = 0; c < kColumnCount; ++c) EXPECT_EQ(list_.CellText(0, c), headers[c]);
  const int widths[] = {1600, 1600, 5600, 500, 500};
  for (int c = 0; c < kColumnCount; ++c) EXPECT_EQ(list_.ColumnWidth(c), widths[c]) << c;

  list_.SetUpList(3000);  // narrower than the fixed columns
  EXPECT_EQ(list_.ColumnWidth(kColFile), 0);
}

TEST_F(EventListTest, NewestEventIsRowOneWithEmptyMarks) {
  Insert(1);
  Insert(2);
  Insert(2);  // the same file twice: two rows, no merging
  Insert(3);
  ASSERT_EQ(list_.EventCount(), 4);
  EXPECT_EQ(list_.CellText(1, kColDateTime), "2001-09-09 10:03:00");
  EXPECT_EQ(list_.CellText(1, kColUser), "user3");
  EXPECT_EQ(list_.CellText(1, kColFile), "F3");
  EXPECT_EQ(list_.CellText(2, kColFile), "F2");
  EXPECT_EQ(list_.CellText(3, kColFile), "F2");
  EXPECT_EQ(list_.CellText(4, kColFile), "F1");
  for (int row = 1; row <= 4; ++row) {
    EXPECT_EQ(list_.CellText(row, kColWin), "");
    EXPECT_EQ(list_.CellText(row, kColMac), "");
  }
  EXPECT_EQ(observer_.counts, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(list_.CellText(0, kColFile), "File");  // the header does not move
}

TEST_F(EventListTest, MidnightShowsTheDateAlone) {
  list_.InsertNewest({2001, 9, 10, 0, 0, 0}, "alice", "F");
  EXPECT_EQ(list_.CellText(1, kColDateTime), "2001-09-10");
}

TEST_F(EventListTest, TheOldestRowGoesAtTheLimit) {
  settings_.MaxSelectedEvents = 10;
  for (int n = 1; n <= 10; ++n) Insert(n);
  ASSERT_EQ(list_.EventCount(), 10);
  EXPECT_EQ(list_.CellText(10, kColFile), "F1");
  observer_.log.clear();

  Insert(11);
  EXPECT_EQ(list_.EventCount(), 10);
  EXPECT_EQ(list_.CellText(1, kColFile), "F11");
  EXPECT_EQ(list_.CellText(10, kColFile), "F2");
  EXPECT_EQ(observer_.log, (std::vector<std::string>{"removed 10-10", "inserted F11"}));
  EXPECT_EQ(observer_.counts.back(), 10);
}

TEST_F(EventListTest, LoweredLimitTakesEffectAtTheNextInsertion) {
  for (int n = 1; n <= 500; ++n) Insert(n);
  ASSERT_EQ(list_.EventCount(), 500);
  settings_.MaxSelectedEvents = 10;
  EXPECT_EQ(list_.EventCount(), 500);
  observer_.log.clear();

  Insert(501);
  EXPECT_EQ(list_.EventCount(), 10);
  EXPECT_EQ(list_.CellText(1, kColFile), "F501");
  EXPECT_EQ(list_.CellText(10, kColFile), "F492");
  EXPECT_EQ(observer_.log, (std::vector<std::string>{"removed 10-500", "inserted F501"}));
}

// The identity of the written file stays with its row through insertions and cuts.
TEST_F(EventListTest, EachRowKeepsItsFilesIdentity) {
  settings_.MaxSelectedEvents = 3;
  for (std::uint64_t n = 1; n <= 5; ++n) {
    const auto identity =
        n % 2 == 0 ? std::nullopt : std::optional(platform::FileIdentity{n, 8, 1});
    list_.InsertNewest(EventDateTime{2026, 1, 1, 0, 0, static_cast<int>(n)}, "u",
                       "F" + std::to_string(n), identity);
  }
  ASSERT_EQ(list_.EventCount(), 3);
  EXPECT_EQ(list_.RowIdentity(1), (platform::FileIdentity{5, 8, 1}));
  EXPECT_EQ(list_.RowIdentity(2), std::nullopt);
  EXPECT_EQ(list_.RowIdentity(3), (platform::FileIdentity{3, 8, 1}));
  EXPECT_EQ(list_.RowIdentity(4), std::nullopt);
  list_.ClearList();
  list_.InsertNewest(EventDateTime{2026, 1, 1, 0, 0, 9}, "u", "F9");
  EXPECT_EQ(list_.RowIdentity(1), std::nullopt);
}

TEST_F(EventListTest, LimitOutsideItsRangeStillKeepsTheNewRow) {
  for (std::int16_t limit : {1, 0, -5}) {
    settings_.MaxSelectedEvents = 500;
    for (int n = 1; n <= 3; ++n) Insert(n);
    settings_.MaxSelectedEvents = limit;
    Insert(4);
    EXPECT_EQ(list_.EventCount(), 1) << limit;
    EXPECT_EQ(list_.CellText(1, kColFile), "F4");
    list_.ClearList();
  }
}

TEST_F(EventListTest, MarksAreWrittenIntoEventRowsOnly) {
  Insert(1);
  Insert(2);
  list_.SetMark(2, kColWin, StatusMark::WinWritten);
  list_.SetMark(1, kColMac, StatusMark::StreamNotOpened);
  EXPECT_EQ(list_.CellText(2, kColWin), "w");
  EXPECT_EQ(list_.CellText(1, kColMac), "???");
  EXPECT_TRUE(StatusMark::IsFailed(list_.CellText(1, kColMac)));
  EXPECT_FALSE(StatusMark::IsFailed(list_.CellText(2, kColWin)));

  // Out-of-range rows and the text columns are left alone.
  observer_.log.clear();
  list_.SetMark(0, kColWin, "x");
  list_.SetMark(3, kColWin, "x");
  list_.SetMark(1, kColFile, "x");
  EXPECT_EQ(list_.CellText(0, kColWin), "Win");
  EXPECT_EQ(list_.CellText(1, kColFile), "F2");
  EXPECT_EQ(list_.CellText(3, kColWin), "");
  EXPECT_EQ(list_.CellText(1, 5), "");
  EXPECT_EQ(list_.CellText(-1, 0), "");
  EXPECT_TRUE(observer_.log.empty());

  list_.SetMark(1, kColWin, StatusMark::Failed);
  EXPECT_EQ(observer_.log, (std::vector<std::string>{"cell 1,3"}));
}

TEST_F(EventListTest, ClearKeepsTheHeaderAndLeavesTheCountLabel) {
  Insert(1);
  Insert(2);
  observer_.counts.clear();
  observer_.log.clear();
  list_.ClearList();
  EXPECT_EQ(list_.EventCount(), 0);
  EXPECT_EQ(list_.CellText(0, kColDateTime), "Date & Time");
  EXPECT_EQ(observer_.log, (std::vector<std::string>{"reset 0"}));
  EXPECT_TRUE(observer_.counts.empty());
}

}  // namespace
}  // namespace qs
