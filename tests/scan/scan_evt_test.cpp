// A pass over real .evt files, read through the POSIX event log.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "evtwriter/evt_writer.h"
#include "scan/scan_pass.h"
#include "scan_records.h"
#include "support/log_service.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

class ScanEvtTest : public testing::Test {
 protected:
  void SetUp() override {
    previousLocale_ = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");
    settings_.Performance = 1;
    run_.StopFlag = false;
  }
  void TearDown() override { std::setlocale(LC_TIME, previousLocale_.c_str()); }

  void Pass(const std::string& path) {
    auto log = test::FileLogService(path);
    ScanContext context{*log, list_, state_, settings_, run_, selection_, view_, comments_};
    view_.calls.clear();
    ScanPass(context);
  }

  test::TempDir dir_;
  Settings settings_;
  RunState run_;
  SelectionContext selection_{"Administrator", 60};
  ScanState state_;
  test::FakeScanView view_;
  EventList list_{settings_};
  test::FakeCommentStep comments_{state_, &list_};
  std::string previousLocale_;
};

TEST_F(ScanEvtTest, WrappedDirtyLogWithALargeRecord) {
  evtwriter::EvtWriter writer;
  evtwriter::Event560 e;
  e.time = 1'000'036'800;  // 2001-09-09 12:00:00 UTC
  e.objectName = "D:\\Shared\\budget.xls";
  writer.Add(e);

  evtwriter::Event560 read = e;  // an open for reading
  read.time += 10;
  read.objectName = "D:\\Shared\\readme.txt";
  read.accesses = evtwriter::kReadAccesses;
  writer.Add(read);

  evtwriter::EvtRecord other;  // a logon
  other.eventId = 528;
  other.timeWritten = other.timeGenerated = e.time + 20;
  other.strings = {"alice", "DOMAIN", "(0x0,0x3E7)", "2"};
  writer.Add(other);

  evtwriter::Event560 big = e;  // far beyond 2048 bytes, and split by the end of the file
  big.time += 30;
  big.objectName = "D:\\Shared\\" + std::string(2500, 'b') + ".doc";
  big.clientUser = "bob";
  writer.Add(big);

  evtwriter::Event560 own = e;
  own.time += 40;
  own.primaryUser = "ADMINISTRATOR";
  writer.Add(own);

  evtwriter::Event560 last = e;
  last.time += 50;
  last.objectName = "E:\\Données\\été.doc";
  last.primaryUser = "Jürgen";
  writer.Add(last);

  evtwriter::EvtLayout layout;
  layout.wrapRecord = 3;
  layout.splitBytes = 1000;
  layout.dirty = true;
  layout.staleHeaderRecords = 2;
  const std::string path = dir_ / "Security.evt";
  writer.WriteFile(path, layout);

  Pass(path);
  EXPECT_EQ(state_.RecordsInLog, 6);
  ASSERT_EQ(comments_.events.size(), 3u);
  EXPECT_EQ(comments_.events[0].file, "D:\\Shared\\budget.xls");
  EXPECT_EQ(comments_.events[0].user, "alice");
  EXPECT_EQ(comments_.events[0].dateTime, (EventDateTime{2001, 9, 9, 11, 0, 0}));  // bias 60
  EXPECT_EQ(comments_.events[1].file, big.objectName);
  EXPECT_EQ(comments_.events[1].user, "bob");
  EXPECT_EQ(comments_.events[2].file, "E:\\Données\\été.doc");
  EXPECT_EQ(comments_.events[2].user, "Jürgen");
  EXPECT_EQ(state_.taken.NewestEventTime, static_cast<std::int32_t>(last.time));
  EXPECT_EQ(view_.progressValues, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 0}));
  EXPECT_EQ(list_.CellText(1, kColDateTime), "2001-09-09 11:00:50");

  Pass(path);  // nothing new
  EXPECT_EQ(comments_.events.size(), 3u);
  EXPECT_EQ(list_.EventCount(), 3);
}

TEST_F(ScanEvtTest, LogThatCannotBeOpened) {
  Pass(dir_ / "missing.evt");
  EXPECT_EQ(view_.calls, (std::vector<std::string>{"status Reading Security Log",
                                                   "message Error. Unable to open Log: Security",
                                                   "status Reading Security Log", "timer on"}));
}

}  // namespace
}  // namespace qs
