// A pass over an .evt log that is cut short between two of the reads that open it, or while the
// pass reads its records: the pass says that the log changed under it, and the next pass reads
// the log whole again, once the log is back. The cut is made between two reads of the file.
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "evtwriter/evt_writer.h"
#include "platform/eventlog.h"
#include "platform/formats/log_source.h"
#include "platform/posix/log_source.h"
#include "scan/scan_pass.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

// The event log of the platform over one kept .evt log whose whole reads call `afterPiece`.
class HookedEvtService final : public platform::EventLogService {
 public:
  HookedEvtService(std::string path, platform::EvtReadHook afterPiece)
      : path_(std::move(path)), afterPiece_(std::move(afterPiece)) {}

  platform::EventLogHandle OpenLog(std::string_view, std::string_view) override {
    if (!kept_ || !kept_->Update()) kept_ = platform::KeepEvtLog(path_, afterPiece_);
    if (!kept_) return 0;
    const platform::EventLogHandle handle = next_++;
    keptOf_[handle] = kept_;
    logs_.emplace(handle, platform::LogSourceReads(std::shared_ptr<platform::LogSource>(kept_)));
    return handle;
  }
  bool NumberOfRecords(platform::EventLogHandle log, std::uint32_t& count) override {
    count = logs_.at(log).Count();
    return true;
  }
  bool OldestRecord(platform::EventLogHandle log, std::uint32_t& number) override {
    number = logs_.at(log).OldestNumber();
    return true;
  }
  bool ReadRecord(platform::EventLogHandle log, std::uint32_t flags, std::uint32_t offset,
                  void* buffer, std::uint32_t bytesToRead, std::uint32_t& bytesRead,
                  std::uint32_t& bytesNeeded) override {
    bytesRead = bytesNeeded = 0;
    return logs_.at(log).Read(flags, offset, buffer, bytesToRead, bytesRead, bytesNeeded);
  }
  bool CloseLog(platform::EventLogHandle log) override {
    keptOf_.erase(log);
    return logs_.erase(log) != 0;
  }
  bool ChangedWhileOpened(platform::EventLogHandle log) override {
    return keptOf_.at(log)->ChangedWhileRead();
  }

 private:
  std::string path_;
  platform::EvtReadHook afterPiece_;
  std::shared_ptr<platform::KeptLog> kept_;
  std::map<platform::EventLogHandle, platform::LogSourceReads> logs_;
  std::map<platform::EventLogHandle, std::shared_ptr<platform::KeptLog>> keptOf_;
  platform::EventLogHandle next_ = 1;
};

constexpr int kRecords = 30000;

// A log of kRecords writes, and a pass's parts over it.
struct CutLog : testing::Test {
  test::TempDir dir;
  std::string path = dir / "Security.evt";
  std::string whole;
  Settings settings;
  RunState run;
  SelectionContext selection{"Administrator", 0};
  ScanState state;
  test::FakeScanView view;
  EventList list{settings};
  test::FakeCommentStep comments{state, &list};

  void SetUp() override {
    evtwriter::EvtWriter writer;
    for (int i = 0; i < kRecords; ++i) {
      evtwriter::Event560 e;
      e.time = 1'000'036'800 + static_cast<std::uint32_t>(i);
      e.objectName = "D:\\Shared\\f" + std::to_string(i % 50) + ".txt";
      writer.Add(e);
    }
    writer.WriteFile(path);
    whole = test::ReadFile(path);
    ASSERT_GT(whole.size(), std::size_t{3} << 20) << "the log must take several pieces to read";
    settings.Performance = 1;
  }
  void Cut() const { ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(whole.size() / 3)), 0); }
  void Pass(platform::EventLogService& service) {
    ScanContext context{service, list, state, settings, run, selection, view, comments};
    run.StopFlag = false;
    view.statuses.clear();
    ScanPass(context);
  }
  // The log back whole: the next pass reads every record behind those it read.
  void ExpectTheNextPassReadsItWhole(platform::EventLogService& service) {
    test::WriteFile(path, whole);
    view.onRound = nullptr;
    Pass(service);
    EXPECT_EQ(state.RecordsInLog, kRecords);
    EXPECT_EQ(comments.events.size(), static_cast<std::size_t>(kRecords));
    ASSERT_FALSE(view.statuses.empty());
    EXPECT_EQ(view.statuses.back(), kReadingSecurityLog);
  }
};

TEST_F(CutLog, ALogCutShortWhileOpenedIsSaidAndReadWholeAtTheNextPass) {
  // The first read of the file, the header's, is followed by the cut.
  bool cut = false;
  HookedEvtService service(path, [&](std::size_t) {
    if (!cut) Cut();
    cut = true;
  });
  Pass(service);
  ASSERT_TRUE(cut);
  EXPECT_LT(comments.events.size(), static_cast<std::size_t>(kRecords / 2));
  ASSERT_FALSE(view.statuses.empty());
  EXPECT_EQ(view.statuses.back(), kLogChangedStatus);
  ExpectTheNextPassReadsItWhole(service);
}

TEST_F(CutLog, ALogCutShortWhileThePassReadsItsRecordsIsSaidAndReadWholeAtTheNextPass) {
  HookedEvtService service(path, {});
  // Cut at the first yield of the pass, after its first record: the records behind the pieces
  // held cannot be read any more.
  view.onRound = [&](int n) {
    if (n == 1) Cut();
  };
  Pass(service);
  EXPECT_GE(comments.events.size(), 1u);
  EXPECT_LT(comments.events.size(), static_cast<std::size_t>(kRecords / 2));
  ASSERT_FALSE(view.statuses.empty());
  EXPECT_EQ(view.statuses.back(), kLogChangedStatus);
  ExpectTheNextPassReadsItWhole(service);
}

}  // namespace
}  // namespace qs
