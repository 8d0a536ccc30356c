#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include "scan/scan_pass.h"
#include "scan_records.h"

namespace qs {
namespace {

using test::CountingPump;
using test::MakeRecord;
using test::ObjectOpen;
using Calls = std::vector<std::string>;

constexpr std::int32_t kBase = 1'000'000'000;  // 2001-09-09 01:46:40 UTC

// A write of file "C:\f<n>" by user<n>, written n seconds after kBase.
std::vector<std::uint8_t> Write(int n) {
  ObjectOpen e;
  e.TimeWritten = kBase + n;
  e.ObjectName = "C:\\f" + std::to_string(n);
  e.PrimaryUser = "user" + std::to_string(n);
  return MakeRecord(e);
}

std::vector<std::uint8_t> Read(int n) {
  ObjectOpen e;
  e.TimeWritten = kBase + n;
  e.ObjectName = "C:\\f" + std::to_string(n);
  e.Accesses = test::kReadAccesses;
  return MakeRecord(e);
}

class ScanPassTest : public testing::Test {
 protected:
  void SetUp() override {
    previousLocale_ = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");
    settings_.Performance = 1;
    run_.StopFlag = false;  // the analysis is on
  }
  void TearDown() override { std::setlocale(LC_TIME, previousLocale_.c_str()); }

  void AddWrites(int first, int last) {
    for (int n = first; n <= last; ++n) log_.records.push_back(Write(n));
  }
  void Pass() {
    view_.calls.clear();
    view_.progressValues.clear();
    ScanPass(context_);
  }
  std::vector<std::string> HandedFiles() const {
    std::vector<std::string> files;
    for (const auto& e : comments_.events) files.push_back(e.file);
    return files;
  }

  Settings settings_;
  RunState run_;
  SelectionContext selection_{"Administrator", 0};
  ScanState state_;
  test::FakeEventLog log_;
  test::FakeScanView view_;
  EventList list_{settings_};
  test::FakeCommentStep comments_{state_, &list_};
  ScanContext context_{log_, list_, state_, settings_, run_, selection_, view_, comments_};
  std::string previousLocale_;
};

TEST_F(ScanPassTest, EmptyLog) {
  view_.SetProgressMaximum(77);  // left from an earlier pass
  Pass();
  EXPECT_EQ(view_.calls, (Calls{"status Reading Security Log", "max 0",
                                "status Reading Security Log", "timer on"}));
  EXPECT_EQ(view_.progressValues, (std::vector<std::int32_t>{0}));
  EXPECT_EQ(log_.sizeQueries, 1);
  EXPECT_EQ(log_.recordReads, 0);
  EXPECT_EQ(view_.rounds, 1);  // one yield for the one turn
  EXPECT_EQ(log_.opens, 1);
  EXPECT_EQ(log_.closes, 1);
  EXPECT_EQ(log_.openedServer, "");
  EXPECT_EQ(log_.openedSource, "Security");
  EXPECT_TRUE(comments_.events.empty());
  EXPECT_EQ(state_.RecordsInLog, 0);
}

TEST_F(ScanPassTest, ThreeRecordsOldestFirst) {
  AddWrites(1, 3);
  Pass();
  EXPECT_EQ(view_.calls, (Calls{"status Reading Security Log", "progress maximum 4", "max 3",
                                "status Reading Security Log", "timer on"}));
  // The fourth turn finds the end of the log and leaves the bar alone.
  EXPECT_EQ(view_.progressValues, (std::vector<std::int32_t>{1, 2, 3, 0}));
  EXPECT_EQ(state_.RecordsInLog, 3);
  EXPECT_EQ(log_.sizeQueries, 4);
  EXPECT_EQ(view_.rounds, 4);
  EXPECT_TRUE(std::all_of(log_.readFlags.begin(), log_.readFlags.end(),
                          [](std::uint32_t f) { return f == 5; }));
  // Each read asks for exactly the size that the query reported.
  ASSERT_EQ(log_.readSizes.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(log_.readSizes[i], log_.records[i].size());

  // The comment step saw each event as the decoder left it.
  ASSERT_EQ(comments_.events.size(), 3u);
  EXPECT_EQ(comments_.events[0].file, "C:\\f1");
  EXPECT_EQ(comments_.events[0].user, "user1");
  EXPECT_EQ(comments_.events[0].dateTime, (EventDateTime{2001, 9, 9, 1, 46, 41}));
  EXPECT_EQ(comments_.events[2].file, "C:\\f3");
  EXPECT_EQ(state_.taken.NewestEventTime, kBase + 3);
  EXPECT_EQ(list_.CellText(1, kColFile), "C:\\f3");
  EXPECT_EQ(list_.CellText(1, kColDateTime), "2001-09-09 01:46:43");
  EXPECT_EQ(list_.CellText(3, kColFile), "C:\\f1");
  EXPECT_EQ(log_.closes, 1);
}

TEST_F(ScanPassTest, HiddenWindowLeavesTheProgressBarAlone) {
  AddWrites(1, 3);
  view_.visible = false;
  Pass();
  EXPECT_EQ(view_.progressValues, (std::vector<std::int32_t>{0}));
  EXPECT_EQ(comments_.events.size(), 3u);
}

TEST_F(ScanPassTest, ProgressStopsAtTheRecordCount) {
  // A log that grows while it is read has more records than its count.
  AddWrites(1, 3);
  log_.reportedCount = 2;
  Pass();
  EXPECT_EQ(view_.progressValues, (std::vector<std::int32_t>{1, 2, 0}));
  EXPECT_EQ(comments_.events.size(), 3u);
}

TEST_F(ScanPassTest, LargeRecordsAreReadAndDecoded) {
  AddWrites(1, 4);
  ObjectOpen big;
  big.TimeWritten = kBase + 5;
  big.ObjectName = "D:\\Shared\\" + std::string(3000, 'a') + ".doc";
  big.ClientUser = "bob";
  log_.records.push_back(MakeRecord(big));
  // One of exactly 2048 bytes, the smallest size that did not fit before.
  ObjectOpen exact;
  exact.TimeWritten = kBase + 6;
  exact.ObjectName = "E:\\";
  exact.ObjectName += std::string(2048 - MakeRecord(exact).size(), 'e');
  log_.records.push_back(MakeRecord(exact));
  ASSERT_EQ(log_.records.back().size(), 2048u);
  AddWrites(7, 8);

  Pass();
  ASSERT_EQ(comments_.events.size(), 8u);
  EXPECT_EQ(comments_.events[4].file, big.ObjectName);
  EXPECT_EQ(comments_.events[4].user, "bob");
  EXPECT_EQ(comments_.events[5].file, exact.ObjectName);
  EXPECT_EQ(comments_.events[7].file, "C:\\f8");
  EXPECT_EQ(log_.readSizes[4], log_.records[4].size());
  EXPECT_EQ(view_.progressValues, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 0}));

  // The next pass reads every record again, the large ones included, and takes nothing new.
  Pass();
  EXPECT_EQ(log_.recordReads, 16);
  EXPECT_EQ(comments_.events.size(), 8u);
}

TEST_F(ScanPassTest, ShorterRecordAfterALongerOne) {
  // The long write leaves its access list in the buffer behind the short read.
  ObjectOpen longWrite;
  longWrite.TimeWritten = kBase + 1;
  longWrite.ObjectName = "D:\\" + std::string(1500, 'l');
  log_.records.push_back(MakeRecord(longWrite));
  log_.records.push_back(Read(2));
  AddWrites(3, 3);
  Pass();
  EXPECT_EQ(HandedFiles(), (std::vector<std::string>{longWrite.ObjectName, "C:\\f3"}));
}

TEST_F(ScanPassTest, StopDuringAPass) {
  AddWrites(1, 100);
  settings_.WinComments = true;
  view_.onRound = [this](int n) {
    if (n == 10) run_.StopFlag = true;  // Stop clicked in the yield after record 10
  };
  Pass();
  EXPECT_EQ(log_.recordReads, 10);
  EXPECT_EQ(comments_.events.size(), 10u);
  EXPECT_EQ(comments_.summaryChecks, 1);
  EXPECT_EQ(log_.closes, 1);
  EXPECT_EQ(view_.progressValues.back(), 0);
  EXPECT_EQ(view_.calls, (Calls{"status Reading Security Log", "progress maximum 101", "max 100",
                                "status Checking summaries", "status Reading Security Log"}));
}

TEST_F(ScanPassTest, OpenFailure) {
  log_.failOpen = true;
  Pass();
  EXPECT_EQ(view_.calls,
            (Calls{"status Reading Security Log", "message Error. Unable to open Log: Security",
                   "status Reading Security Log", "timer on"}));
  EXPECT_TRUE(view_.progressValues.empty());
  EXPECT_EQ(log_.closes, 0);
  EXPECT_EQ(comments_.summaryChecks, 0);

  // With a comment kind on, the summary check still runs; a stopped analysis is not re-armed.
  settings_.MacComments = true;
  run_.StopFlag = true;
  Pass();
  EXPECT_EQ(view_.calls,
            (Calls{"status Reading Security Log", "message Error. Unable to open Log: Security",
                   "status Checking summaries", "status Reading Security Log"}));
  EXPECT_EQ(comments_.summaryChecks, 1);
}

TEST_F(ScanPassTest, FailedReadEndsTheReading) {
  AddWrites(1, 5);
  log_.failReadOfRecord = 2;
  Pass();
  EXPECT_EQ(HandedFiles(), (std::vector<std::string>{"C:\\f1", "C:\\f2"}));
  EXPECT_EQ(log_.closes, 1);
  EXPECT_EQ(view_.calls.back(), "timer on");
}

TEST_F(ScanPassTest, AbsurdRecordSizeEndsTheReadingWithoutAllocating) {
  AddWrites(1, 3);
  log_.absurdSizeOfRecord = 1;
  Pass();
  EXPECT_EQ(HandedFiles(), (std::vector<std::string>{"C:\\f1"}));
  EXPECT_EQ(log_.recordReads, 1);
  EXPECT_EQ(log_.closes, 1);
}

TEST_F(ScanPassTest, SecondPassOverAnUnchangedLogSelectsNothing) {
  AddWrites(1, 3);
  Pass();
  ASSERT_EQ(comments_.events.size(), 3u);
  Pass();
  EXPECT_EQ(comments_.events.size(), 3u);
  EXPECT_EQ(list_.EventCount(), 3);
  EXPECT_EQ(view_.progressValues, (std::vector<std::int32_t>{1, 2, 3, 0}));

  // A new event at the end of the log is the only one taken.
  AddWrites(4, 4);
  Pass();
  EXPECT_EQ(HandedFiles(), (std::vector<std::string>{"C:\\f1", "C:\\f2", "C:\\f3", "C:\\f4"}));
}

TEST_F(ScanPassTest, ListIsClearedOnlyBeforeTheFirstEventOfTheRun) {
  list_.InsertNewest({2001, 1, 1, 1, 1, 1}, "someone", "C:\\stale");
  log_.records.push_back(Read(1));
  Pass();
  EXPECT_EQ(list_.EventCount(), 0);  // no event taken yet: emptied

  log_.records.push_back(Write(2));
  Pass();
  ASSERT_EQ(list_.EventCount(), 1);

  list_.InsertNewest({2001, 1, 1, 1, 1, 1}, "someone", "C:\\kept");
  Pass();
  EXPECT_EQ(list_.EventCount(), 2);
  EXPECT_EQ(list_.CellText(1, kColFile), "C:\\kept");
}

TEST_F(ScanPassTest, OwnAccountEventsAreNotHandedOnButCountAsTaken) {
  ObjectOpen own;
  own.TimeWritten = kBase + 1;
  own.PrimaryUser = "administrator";
  log_.records.push_back(MakeRecord(own));
  Pass();
  EXPECT_TRUE(comments_.events.empty());
  EXPECT_EQ(state_.taken.NewestEventTime, kBase + 1);

  // Having taken an event, the pass no longer empties the list.
  list_.InsertNewest({2001, 1, 1, 1, 1, 1}, "someone", "C:\\kept");
  Pass();
  EXPECT_EQ(list_.EventCount(), 1);
}

// What was taken in the newest second is kept from pass to pass: the next pass, which reads the
// log from its start again, takes neither those events nor their repeats, but takes another user's
// save of that second that the log has gained since.
TEST_F(ScanPassTest, TheNewestSecondIsKeptBetweenPasses) {
  auto save = [](std::string user, std::string file) {
    ObjectOpen e;
    e.TimeWritten = kBase + 5;
    e.PrimaryUser = std::move(user);
    e.ObjectName = std::move(file);
    return MakeRecord(e);
  };
  log_.records = {save("alice", "C:\\a"), save("bob", "C:\\b"), save("alice", "C:\\a")};
  Pass();
  ASSERT_EQ(HandedFiles(), (std::vector<std::string>{"C:\\a", "C:\\b"}));

  log_.records.push_back(save("BOB", "C:\\b"));    // a repeat, after the first pass
  log_.records.push_back(save("carol", "C:\\c"));  // a save of that second, written late
  Pass();
  EXPECT_EQ(HandedFiles(), (std::vector<std::string>{"C:\\a", "C:\\b", "C:\\c"}));
  EXPECT_EQ(state_.taken.NewestEventTime, kBase + 5);
}

TEST_F(ScanPassTest, PerformanceIsReadAtEveryYield) {
  AddWrites(1, 4);
  view_.eventsPending = true;  // the window always has something to do
  settings_.Performance = 3;
  view_.onRound = [this](int n) {
    if (n == 6) settings_.Performance = 1;  // changed in the yield after record 2
  };
  Pass();
  EXPECT_EQ(view_.rounds, 3 + 3 + 1 + 1 + 1);
}

TEST(YieldStep, RoundsUpToPerformanceAndStopsWhenNothingIsPending) {
  struct {
    std::int16_t performance;
    int pendingRounds;
    int expectedRounds;
  } const cases[] = {
      {1, 1000, 1},  {50, 1000, 50}, {100, 1000, 100}, {0, 1000, 0},
      {-3, 1000, 0}, {50, 0, 1},     {50, 2, 3},
  };
  for (const auto& c : cases) {
    CountingPump pump;
    pump.pendingRounds = c.pendingRounds;
    YieldStep(c.performance, pump);
    EXPECT_EQ(pump.rounds, c.expectedRounds)
        << "performance " << c.performance << ", pending " << c.pendingRounds;
  }
}

}  // namespace
}  // namespace qs
