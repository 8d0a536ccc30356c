#include "comments/comment_pass.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/file_status.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using qs::test::TempDir;
using qs::test::WriteFile;

using Calls = std::vector<std::string>;

// Records every call in one log shared with the pump, so that the order of writes and yields
// shows. `onCall` lets a test act as the writer would (set a mark, change a setting in a yield).
class RecordingWriters final : public CommentWriters {
 public:
  explicit RecordingWriters(Calls& calls) : calls_(calls) {}
  void WriteMacComment(int row) override { Call("WriteMac", row); }
  void RegenerateMacComment(int row) override { Call("RegenerateMac", row); }
  void WriteWinComment(int row) override { Call("WriteWin", row); }
  void RegenerateWinComment(int row) override { Call("RegenerateWin", row); }
  std::function<void(const std::string&, int)> onCall;

 private:
  void Call(const std::string& name, int row) {
    calls_.push_back(name + " " + std::to_string(row));
    if (onCall) onCall(name, row);
  }
  Calls& calls_;
};

class RecordingPump final : public EventPump {
 public:
  explicit RecordingPump(Calls& calls) : calls_(calls) {}
  bool ProcessPendingEvents() override {
    calls_.push_back("yield");
    if (onYield) onYield();
    return false;  // one round per yield is enough to see it
  }
  std::function<void()> onYield;

 private:
  Calls& calls_;
};

class CommentPassTest : public ::testing::Test {
 protected:
  CommentPassTest() : list(settings), writers(calls), pump(calls) {
    list.SetUpList(10000);
    fs::create_directory(dir.path() / "Folder");
    WriteFile(dir / "Writable.txt", "w");
    WriteFile(dir / "ReadOnly.txt", "r");
    ::chmod((dir / "ReadOnly.txt").c_str(), 0444);
    drives.SetDrive('S', dir.path().string());
  }

  // One selected event, as the scan hands it over.
  void Event(const std::string& file, int second = 0) {
    current.dateTime = EventDateTime{2026, 12, 10, 9, 30, second};
    current.user = "alice";
    current.file = file;
    step.CommentPass();
  }

  std::string Marks(int row) const {
    return list.CellText(row, kColWin) + "|" + list.CellText(row, kColMac);
  }

  TempDir dir;
  Settings settings;
  EventList list;
  CurrentEvent current;
  Calls calls;
  RecordingWriters writers;
  RecordingPump pump;
  platform::PathMap drives;
  platform::PosixFileStatus status{drives};
  FileCommentStep step{list, current, settings, status, writers, pump};
};

TEST_F(CommentPassTest, ListsTheMixWithBothKindsOn) {
  settings.MacComments = true;
  settings.WinComments = true;
  Event("S:\\writable.TXT", 1);
  EXPECT_EQ(calls, (Calls{"WriteMac 1", "WriteWin 1"}));  // Macintosh first
  calls.clear();
  Event("S:\\Missing.txt", 2);
  Event("S:\\READONLY.txt", 3);
  Event("S:\\folder", 4);          // a folder is not listed
  Event("Q:\\Writable.txt", 5);    // a drive that is not mapped cannot be reached
  Event(dir / "Writable.txt", 6);  // a local path is used as it stands
  ASSERT_EQ(list.EventCount(), 5);
  EXPECT_EQ(calls, (Calls{"WriteMac 1", "WriteWin 1"}));  // only for the last, writable file

  EXPECT_EQ(list.CellText(1, kColFile), dir / "Writable.txt");
  EXPECT_EQ(list.CellText(2, kColFile), "Q:\\Writable.txt");
  EXPECT_EQ(Marks(2), "U|-");
  EXPECT_EQ(list.CellText(3, kColFile), "S:\\READONLY.txt");  // as the log gives it
  EXPECT_EQ(Marks(3), "RO|-");
  EXPECT_EQ(list.CellText(4, kColFile), "S:\\Missing.txt");
  EXPECT_EQ(Marks(4), "U|-");
  EXPECT_EQ(list.CellText(5, kColFile), "S:\\writable.TXT");
  EXPECT_EQ(list.CellText(5, kColUser), "alice");
  EXPECT_EQ(list.CellText(5, kColDateTime), DateText(EventDateTime{2026, 12, 10, 9, 30, 1}));
}

TEST_F(CommentPassTest, WithBothKindsOffOnlyTheFileStatusIsMarked) {
  Event("S:\\Writable.txt");
  Event("S:\\ReadOnly.txt");
  Event("S:\\Gone.txt");
  Event("S:\\Folder");
  ASSERT_EQ(list.EventCount(), 3);
  EXPECT_EQ(Marks(1), "U|-");
  EXPECT_EQ(Marks(2), "RO|-");
  EXPECT_EQ(Marks(3), "|");
  EXPECT_TRUE(calls.empty());
}

TEST_F(CommentPassTest, EachKindOnItsOwn) {
  settings.MacComments = true;
  Event("S:\\Writable.txt");
  EXPECT_EQ(calls, (Calls{"WriteMac 1"}));
  settings.MacComments = false;
  settings.WinComments = true;
  calls.clear();
  Event("S:\\Writable.txt");
  EXPECT_EQ(calls, (Calls{"WriteWin 1"}));
  EXPECT_EQ(Marks(1), "|");  // the fake writers mark nothing, the pass leaves the cells alone
}

TEST_F(CommentPassTest, SettingsAreReadAtEachUse) {
  settings.MacComments = true;
  settings.WinComments = true;
  // The Macintosh writer yields at its end; the user switches the Windows 2000 comment off there.
  writers.onCall = [&](const std::string& name, int) {
    if (name == "WriteMac") settings.WinComments = false;
  };
  Event("S:\\Writable.txt");
  EXPECT_EQ(calls, (Calls{"WriteMac 1"}));
}

// A list with the given Win and Mac marks, row 1 first.
class SummaryCheckPassTest : public CommentPassTest {
 protected:
  void Rows(const std::vector<std::pair<std::string, std::string>>& marks) {
    // Inserted oldest first, so that the first pair ends as row 1.
    for (std::size_t i = marks.size(); i-- > 0;) {
      list.InsertNewest(EventDateTime{2026, 1, 1, 0, 0, static_cast<int>(i)}, "bob",
                        "S:\\file" + std::to_string(i) + ".txt");
      list.SetMark(1, kColWin, marks[i].first);
      list.SetMark(1, kColMac, marks[i].second);
    }
  }
};

TEST_F(SummaryCheckPassTest, RetriesExactlyTheFailedCellsWinFirst) {
  settings.MacComments = true;
  settings.WinComments = true;
  Rows({{"?", "???"},
        {"U", "-"},
        {"RO", "-"},
        {"w", "m"},
        {"W", "M"},
        {"", ""},
        {"w", "?"},
        {"?", "m"}});
  step.SummaryCheckPass();
  EXPECT_EQ(calls,
            (Calls{"RegenerateWin 1", "RegenerateMac 1", "yield", "yield", "yield", "yield",
                   "yield", "yield", "RegenerateMac 7", "yield", "RegenerateWin 8", "yield"}));
}

TEST_F(SummaryCheckPassTest, AKindThatIsOffIsNotRetried) {
  settings.MacComments = true;
  Rows({{"?", "?"}, {"?", "???"}});
  step.SummaryCheckPass();
  EXPECT_EQ(calls, (Calls{"RegenerateMac 1", "yield", "RegenerateMac 2", "yield"}));

  calls.clear();
  settings.MacComments = false;
  settings.WinComments = true;
  step.SummaryCheckPass();
  EXPECT_EQ(calls, (Calls{"RegenerateWin 1", "yield", "RegenerateWin 2", "yield"}));
}

TEST_F(SummaryCheckPassTest, BothOffOrAnEmptyListDoesNothingButYield) {
  step.SummaryCheckPass();  // empty list
  EXPECT_TRUE(calls.empty());
  Rows({{"?", "?"}});
  step.SummaryCheckPass();  // both kinds off
  EXPECT_EQ(calls, (Calls{"yield"}));
}

TEST_F(SummaryCheckPassTest, ReadsTheCellsAsEachRebuildLeavesThem) {
  settings.WinComments = true;
  Rows({{"?", ""}, {"?", ""}, {"?", ""}});
  // A rebuild of row 1's file marks the rows of the same file (here row 3) "w" and its own "W".
  writers.onCall = [&](const std::string& name, int row) {
    if (name == "RegenerateWin" && row == 1) {
      list.SetMark(3, kColWin, StatusMark::WinWritten);
      list.SetMark(1, kColWin, StatusMark::WinRegenerated);
    }
  };
  step.SummaryCheckPass();
  EXPECT_EQ(calls, (Calls{"RegenerateWin 1", "yield", "RegenerateWin 2", "yield", "yield"}));
}

TEST_F(SummaryCheckPassTest, SettingsChangedInAYieldApplyToTheNextRow) {
  settings.MacComments = true;
  settings.Performance = 3;
  Rows({{"", "?"}, {"", "?"}});
  int yields = 0;
  pump.onYield = [&] {
    if (++yields == 1) settings.MacComments = false;
  };
  step.SummaryCheckPass();
  EXPECT_EQ(calls, (Calls{"RegenerateMac 1", "yield", "yield"}));
}

}  // namespace
}  // namespace qs
