#include "comments/comment_pass.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
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

// The identity of a file as the audit log names it: inode and device major:minor.
platform::FileIdentity IdentityOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {static_cast<std::uint64_t>(st.st_ino), major(st.st_dev), minor(st.st_dev)};
}

// Only the file that the event wrote gets a comment. Where the log names its identity, a file of
// another identity now at the path (someone else's file renamed onto the name) is treated as gone;
// where the log names none, so is a file with several names (a hard link planted to someone
// else's file), which the identity alone decides about where it is named.
TEST_F(CommentPassTest, OnlyTheWrittenFileIsCommented) {
  settings.MacComments = true;
  settings.WinComments = true;
  const std::string written = dir / "Written.txt", linked = dir / "Linked.txt",
                    other = dir / "Other.txt";
  WriteFile(written, "w");
  WriteFile(linked, "l");
  WriteFile(other, "o");
  const platform::FileIdentity writtenId = IdentityOf(written);
  const platform::FileIdentity linkedId = IdentityOf(linked);
  ASSERT_EQ(::link(linked.c_str(), (dir / "Link2.txt").c_str()), 0);
  // The written file was renamed away and another file put at its name.
  const std::string renamedOnto = dir / "RenamedOnto.txt";
  WriteFile(renamedOnto, "was written");
  const platform::FileIdentity goneId = IdentityOf(renamedOnto);
  fs::rename(other, renamedOnto);

  struct {
    const char* what;
    std::string file;
    std::optional<platform::FileIdentity> identity;
    std::string marks;  // "" when both writers ran
  } const cases[] = {
      {"one name, no identity in the log", written, std::nullopt, ""},
      {"the identity the log names", written, writtenId, ""},
      {"another identity at the path", renamedOnto, goneId, "U|-"},
      {"the identity of the file on another device", written,
       platform::FileIdentity{writtenId.inode, writtenId.deviceMajor + 1, 0}, "U|-"},
      {"several names, no identity in the log", linked, std::nullopt, "U|-"},
      {"several names, the identity the log names", linked, linkedId, ""},
      {"an identity, no file", dir / "Missing.txt", writtenId, "U|-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    calls.clear();
    current.identity = c.identity;
    Event(c.file);
    EXPECT_EQ(list.CellText(1, kColFile), c.file);
    if (c.marks.empty()) {
      EXPECT_EQ(calls, (Calls{"WriteMac 1", "WriteWin 1"}));
    } else {
      EXPECT_EQ(Marks(1), c.marks);
      EXPECT_TRUE(calls.empty());
    }
  }
}

// The Macintosh writer yields at its end; a file put at the path meanwhile gets no Windows 2000
// comment.
TEST_F(CommentPassTest, AFileReplacedDuringTheMacintoshWriterGetsNoWindowsComment) {
  settings.MacComments = true;
  settings.WinComments = true;
  const std::string file = dir / "Doc.txt", other = dir / "Other.txt";
  for (const bool withIdentity : {true, false}) {
    SCOPED_TRACE(withIdentity ? "identity in the log: another file renamed onto the name"
                              : "no identity in the log: a hard link made to the file");
    calls.clear();
    WriteFile(file, "d");
    current.identity = withIdentity ? std::optional(IdentityOf(file)) : std::nullopt;
    writers.onCall = [&](const std::string& name, int) {
      if (name != "WriteMac") return;
      if (withIdentity) {
        WriteFile(other, "o");
        fs::rename(other, file);
      } else {
        ASSERT_EQ(::link(file.c_str(), other.c_str()), 0);
      }
    };
    Event(file);
    EXPECT_EQ(calls, (Calls{"WriteMac 1"}));
    EXPECT_EQ(list.CellText(1, kColWin), "U");
    fs::remove(other);
  }
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

// A retry comes passes later: a file put at the path since then is not the written one, and
// gets no comment.
TEST_F(SummaryCheckPassTest, ARetryGoesOnlyToTheWrittenFile) {
  settings.MacComments = true;
  settings.WinComments = true;
  const std::string kept = dir / "Kept.txt", renamed = dir / "Renamed.txt",
                    linked = dir / "Linked.txt", missing = dir / "Missing.txt";
  for (const std::string& f : {kept, renamed, linked}) WriteFile(f, "x");
  const platform::FileIdentity keptId = IdentityOf(kept);
  const platform::FileIdentity renamedId = IdentityOf(renamed);
  // Oldest first; each row failed at its first attempt.
  list.InsertNewest(EventDateTime{2026, 1, 1, 0, 0, 1}, "bob", missing, keptId);
  list.InsertNewest(EventDateTime{2026, 1, 1, 0, 0, 2}, "bob", linked);
  list.InsertNewest(EventDateTime{2026, 1, 1, 0, 0, 3}, "bob", renamed, renamedId);
  list.InsertNewest(EventDateTime{2026, 1, 1, 0, 0, 4}, "bob", kept, keptId);
  for (int row = 1; row <= 4; ++row) {
    list.SetMark(row, kColWin, StatusMark::Failed);
    list.SetMark(row, kColMac, StatusMark::Failed);
  }
  // Since then, another file was renamed onto the name of row 2, and row 3's file got a second
  // name.
  WriteFile(dir / "Other.txt", "o");
  fs::rename(dir / "Other.txt", renamed);
  ASSERT_EQ(::link(linked.c_str(), (dir / "Link2.txt").c_str()), 0);

  step.SummaryCheckPass();
  EXPECT_EQ(calls, (Calls{"RegenerateWin 1", "RegenerateMac 1", "yield", "yield", "yield",
                          "RegenerateWin 4", "RegenerateMac 4", "yield"}));
  EXPECT_EQ(Marks(2), "U|-");
  EXPECT_EQ(Marks(3), "U|-");
  EXPECT_EQ(Marks(4), "?|?");  // missing: left to fail again
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
