// A Security log written as an NT .evt file, read by a scan pass through the POSIX event log,
// with the comment pass listing the files it names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <string>
#include <vector>

#include "comments/comment_pass.h"
#include "comments/file_comments.h"
#include "evtwriter/evt_writer.h"
#include "platform/services.h"
#include "scan/scan_pass.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using qs::test::FakeScanView;
using qs::test::TempDir;
using qs::test::WriteFile;

// Writers that mark as a Macintosh writer that succeeds and a Windows 2000 writer whose summary
// is locked would: "m" and "?", and "W" when the summary check pass rebuilds.
class MarkingWriters final : public CommentWriters {
 public:
  explicit MarkingWriters(EventList& list) : list_(list) {}
  void WriteMacComment(int row) override { Log("WriteMac", row, kColMac, "m"); }
  void RegenerateMacComment(int row) override { Log("RegenerateMac", row, kColMac, "M"); }
  void WriteWinComment(int row) override { Log("WriteWin", row, kColWin, "?"); }
  void RegenerateWinComment(int row) override { Log("RegenerateWin", row, kColWin, "W"); }
  std::vector<std::string> calls;

 private:
  void Log(const std::string& name, int row, int column, std::string_view mark) {
    calls.push_back(name + " " + std::to_string(row) + " " + list_.CellText(row, kColFile));
    list_.SetMark(row, column, mark);
  }
  EventList& list_;
};

// The files under `folder` that this process has open.
std::vector<std::string> OpenFilesUnder(const fs::path& folder) {
  std::vector<std::string> open;
  const std::string prefix = fs::canonical(folder).string() + "/";
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const fs::path target = fs::read_symlink(entry.path(), error);
    if (!error && target.string().starts_with(prefix)) open.push_back(target.string());
  }
  return open;
}

class CommentScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousLocale_ = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");
    run.StopFlag = false;
    settings.Performance = 1;

    share = dir.path() / "share";
    fs::create_directories(share / "Shared" / "Projects");
    WriteFile((share / "Shared" / "budget.xls").string(), "b");
    WriteFile((share / "Shared" / "Plan.doc").string(), "p");
    ::chmod((share / "Shared" / "Plan.doc").c_str(), 0444);
    drives.SetDrive('D', share.string());

    evtwriter::EvtWriter writer;
    const auto add = [&](std::uint32_t time, const std::string& file, const std::string& user,
                         bool forWriting = true) {
      evtwriter::Event560 e;
      e.time = time;
      e.objectName = file;
      e.primaryUser = user;
      if (!forWriting) e.accesses = evtwriter::kReadAccesses;
      writer.Add(e);
    };
    add(1'000'000'000, "D:\\SHARED\\BUDGET.XLS", "alice");          // writable, other case
    add(1'000'000'010, "D:\\Shared\\gone.txt", "bob");              // deleted since
    add(1'000'000'020, "D:\\Shared\\Plan.doc", "carol");            // read-only
    add(1'000'000'030, "D:\\Shared\\Projects", "dave");             // a folder
    add(1'000'000'040, "D:\\Shared\\budget.xls", "erin", false);    // opened for reading only
    add(1'000'000'050, "D:\\Shared\\budget.xls", "Administrator");  // our own account
    add(1'000'000'060, "Z:\\elsewhere.txt", "frank");               // a drive that is not mapped
    add(1'000'000'070, "D:\\Shared\\budget.xls", "grace");          // writable again
    logPath = dir / "Security.evt";
    writer.WriteFile(logPath);
    services = platform::MakePlatformServices(logPath, drives);
  }
  void TearDown() override { std::setlocale(LC_TIME, previousLocale_.c_str()); }

  void Pass(CommentStep& step) {
    ScanContext context{*services.eventLog, list, state, settings, run, selection, view, step};
    ScanPass(context);
  }

  // Row by row: file, user, Win mark, Mac mark.
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int row = 1; row <= list.EventCount(); ++row) {
      rows.push_back(list.CellText(row, kColFile) + " " + list.CellText(row, kColUser) + " " +
                     list.CellText(row, kColWin) + "|" + list.CellText(row, kColMac));
    }
    return rows;
  }

  TempDir dir;
  fs::path share;
  std::string logPath;
  Settings settings;
  RunState run;
  SelectionContext selection{"Administrator", 0};
  ScanState state;
  FakeScanView view;
  EventList list{settings};
  platform::PathMap drives;
  platform::PlatformServices services;  // made once the log is written
  std::string previousLocale_;
};

TEST_F(CommentScanTest, ListsTheMixWithBothKindsOff) {
  MarkingWriters writers(list);
  FileCommentStep step(list, state.currentEvent, settings, *services.fileStatus, writers, view);
  Pass(step);
  EXPECT_TRUE(view.errors.empty());
  EXPECT_EQ(Rows(), (std::vector<std::string>{
                        "D:\\Shared\\budget.xls grace |",
                        "Z:\\elsewhere.txt frank U|-",
                        "D:\\Shared\\Plan.doc carol RO|-",
                        "D:\\Shared\\gone.txt bob U|-",
                        "D:\\SHARED\\BUDGET.XLS alice |",
                    }));
  EXPECT_EQ(list.CellText(5, kColDateTime), "2001-09-09 01:46:40");
  EXPECT_TRUE(writers.calls.empty());
  // Without a comment kind on, no summary check ran.
  EXPECT_EQ(std::count(view.statuses.begin(), view.statuses.end(), std::string(kCheckingSummaries)),
            0);
}

TEST_F(CommentScanTest, WritesAndRetriesWithBothKindsOn) {
  settings.MacComments = true;
  settings.WinComments = true;
  MarkingWriters writers(list);
  FileCommentStep step(list, state.currentEvent, settings, *services.fileStatus, writers, view);
  Pass(step);
  EXPECT_EQ(writers.calls, (std::vector<std::string>{
                               "WriteMac 1 D:\\SHARED\\BUDGET.XLS",
                               "WriteWin 1 D:\\SHARED\\BUDGET.XLS",
                               "WriteMac 1 D:\\Shared\\budget.xls",
                               "WriteWin 1 D:\\Shared\\budget.xls",
                               // the summary check pass, rows from the top
                               "RegenerateWin 1 D:\\Shared\\budget.xls",
                               "RegenerateWin 5 D:\\SHARED\\BUDGET.XLS",
                           }));
  EXPECT_EQ(Rows(), (std::vector<std::string>{
                        "D:\\Shared\\budget.xls grace W|m",
                        "Z:\\elsewhere.txt frank U|-",
                        "D:\\Shared\\Plan.doc carol RO|-",
                        "D:\\Shared\\gone.txt bob U|-",
                        "D:\\SHARED\\BUDGET.XLS alice W|m",
                    }));

  // A second pass finds no newer event and nothing left to retry.
  writers.calls.clear();
  Pass(step);
  EXPECT_TRUE(writers.calls.empty());
  EXPECT_EQ(list.EventCount(), 5);
}

TEST_F(CommentScanTest, WithThePlatformCommentWriters) {
  settings.MacComments = true;
  settings.WinComments = true;
  FileComments writers(list, state.currentEvent, settings, view, drives, *services.streams,
                       services.makeSummary);
  FileCommentStep step(list, state.currentEvent, settings, *services.fileStatus, writers, view);
  Pass(step);
  const std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[1], "Z:\\elsewhere.txt frank U|-");
  EXPECT_EQ(rows[2], "D:\\Shared\\Plan.doc carol RO|-");
  EXPECT_EQ(rows[3], "D:\\Shared\\gone.txt bob U|-");
  // Both budget rows got both comments, none of them failed.
  for (int row : {1, 5}) {
    for (int column : {kColWin, kColMac}) {
      const std::string& mark = list.CellText(row, column);
      EXPECT_FALSE(mark.empty()) << row << " " << column;
      EXPECT_FALSE(StatusMark::IsFailed(mark)) << row << " " << column << " " << mark;
    }
  }
  // The comment services keep a file open between the operations on it, never past its comments:
  // a file of the share left open would keep the share from being unmounted between passes.
  EXPECT_EQ(OpenFilesUnder(share), std::vector<std::string>{});
}

}  // namespace
}  // namespace qs
