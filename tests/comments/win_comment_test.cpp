// The Windows 2000 comment over the freedesktop comment attribute, and the calls it makes on the
// summary property component.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/utf.h"
#include "support/comment_fixture.h"

namespace qs::test {
namespace {

using platform::kSummaryFailed;
using platform::kSummaryNotOpened;
using platform::SummaryPropertyComponent;

class WinCommentTest : public CommentWorld {
 protected:
  std::optional<std::string> Comment(const std::string& f) { return RawAttr(f, kWinAttr); }
};

TEST_F(WinCommentTest, NoCommentIsRebuiltWithCrLfFromEveryRow) {
  const std::string f = File("a.doc");
  const std::string other = File("b.doc");
  List(f, "alice", At(9, 0, 1));
  List(other, "bob", At(9, 1, 0));
  List(f, "bob", At(10, 0, 2));
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "W");
  EXPECT_EQ(Mark(2, kColWin), "");
  EXPECT_EQ(Mark(3, kColWin), "w");
  EXPECT_EQ(Comment(f), Line(1) + "\r\n" + Line(3) + "\r\n");
  EXPECT_FALSE(Comment(other).has_value());
  EXPECT_EQ(pump.rounds, 0) << "the empty-comment path does not yield";
  EXPECT_EQ(ReadFile(f), "content");
}

TEST_F(WinCommentTest, LineInFrontThenYield) {
  const std::string f = File("a");
  PutAttr(f, kWinAttr, "older\r\n");
  List(f, "carol", At(13, 14, 15));
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "w");
  EXPECT_EQ(Comment(f), Line(1) + "\r\nolder\r\n");
  EXPECT_EQ(pump.rounds, 1);
}

TEST_F(WinCommentTest, AlwaysWithSecondsWhileTheMacCommentDropsThem) {
  settings.TimeSeconds = false;
  const std::string f = File("a");
  List(f, "dan", At(13, 14, 15));
  W().WriteMacComment(1);
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColMac), "M");
  EXPECT_EQ(Mark(1, kColWin), "W");
  EXPECT_EQ(Comment(f), Line(1, true) + "\r\n");
  EXPECT_EQ(RawAttr(f, kMacAttr), Le(U16(Line(1, false) + "\r")) + std::string(1, '\0'));
}

// Rows match on the File cell as the log spells it, case included: another spelling of the same
// local file is another file for the rebuild.
TEST_F(WinCommentTest, RebuildTakesOnlyRowsSpelledLikeTheFileCell) {
  paths.SetDrive('D', dir.path().string());
  const std::string f = File("budget.xls");
  List("D:\\BUDGET.XLS", "alice", At(9, 0, 0));
  List("D:\\budget.xls", "bob", At(10, 0, 0));
  W().WriteMacComment(1);
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColMac), "M");
  EXPECT_EQ(Mark(1, kColWin), "W");
  EXPECT_EQ(Mark(2, kColMac), "");
  EXPECT_EQ(Mark(2, kColWin), "");
  EXPECT_EQ(RawAttr(f, kMacAttr), Le(U16(Line(1) + "\r")) + std::string(1, '\0'));
  EXPECT_EQ(Comment(f), Line(1) + "\r\n");
}

TEST_F(WinCommentTest, PresentLineLeavesTheCommentAlone) {
  const std::string f = File("a");
  List(f, "eve", At(1, 2, 3));
  const std::string existing = "x\r\n" + Line(1) + "\r\n";
  PutAttr(f, kWinAttr, existing);
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "w");
  EXPECT_EQ(Comment(f), existing);
  EXPECT_EQ(pump.rounds, 0);
}

TEST_F(WinCommentTest, CutToMaxWinComments) {
  settings.MaxWinComments = 100;
  const std::string f = File("a");
  List(f, "frank", At(1, 2, 3));
  const std::string old(90, 'o');
  PutAttr(f, kWinAttr, old);
  W().WriteWinComment(1);
  const std::string line = Line(1);
  EXPECT_EQ(Comment(f), (line + "\r\n" + old).substr(0, 100));
}

// MaxWinComments counts UTF-16 code units: a character outside the BMP counts two, and a cut
// between its halves is made one unit earlier so the stored UTF-8 stays whole.
TEST_F(WinCommentTest, CutCountsCodeUnitsAndNeverSplitsAPair) {
  settings.MaxWinComments = 100;
  const std::string f = File("a");
  List(f, "gus", At(1, 2, 3));
  const std::size_t head = Line(1).size() + 2;
  const std::string smiley = "\xF0\x9F\x98\x80";  // two code units, four bytes
  // Pairs from unit `head` on: the 100th unit is the first half of a pair.
  std::string old;
  std::size_t units = head;
  while (units + 2 <= 99) {
    old += smiley;
    units += 2;
  }
  if (units == 98) old += "a", ++units;  // make unit 99 the first half
  old += smiley + "tail";
  PutAttr(f, kWinAttr, old);
  W().WriteWinComment(1);
  const std::u16string stored = platform::Utf8ToUtf16(*Comment(f));
  EXPECT_EQ(stored.size(), 99u);
  EXPECT_EQ(platform::Utf16ToUtf8(stored), *Comment(f)) << "valid UTF-8";
  EXPECT_EQ(Comment(f)->find("\xEF\xBF\xBD"), std::string::npos) << "no replacement character";
}

// A comment that is not UTF-8 (another tool's) keeps every byte behind the new line; the cut to
// MaxWinComments counts each such byte as one code unit.
TEST_F(WinCommentTest, CommentThatIsNotUtf8KeepsItsBytes) {
  const std::string f = File("a");
  List(f, "hal", At(1, 2, 3));
  const std::string head = Line(1) + "\r\n";
  struct Case {
    const char* what;
    std::string old;
    std::size_t limit;
    std::string after;
  };
  const Case cases[] = {
      {"Latin-1", "caf\xE9", 500, head + "caf\xE9"},
      {"stray bytes among UTF-8", "ok\xFF\xC3(\xC3\xA9", 500, head + "ok\xFF\xC3(\xC3\xA9"},
      {"an encoded surrogate", "\xED\xB3\xA9.", 500, head + "\xED\xB3\xA9."},
      {"a character cut short", "x\xF0\x9F\x98", 500, head + "x\xF0\x9F\x98"},
      {"a real U+FFFD", "\xEF\xBF\xBD", 500, head + "\xEF\xBF\xBD"},
      {"cut between two stray bytes", "caf\xE9\xE9\xE9", head.size() + 5, head + "caf\xE9\xE9"},
  };
  for (const Case& c : cases) {
    PutAttr(f, kWinAttr, c.old);
    settings.MaxWinComments = static_cast<std::int16_t>(c.limit);
    W().WriteWinComment(1);
    EXPECT_EQ(Mark(1, kColWin), "w") << c.what;
    EXPECT_EQ(Comment(f), c.after) << c.what;
    // Read again, the stored comment already holds the line and stays as it is.
    W().WriteWinComment(1);
    EXPECT_EQ(Comment(f), c.after) << c.what;
  }
}

// A file whose name is not UTF-8 gets its comment like any other, and no file whose name merely
// reads the same (U+FFFD where the stray byte was) is touched.
TEST_F(WinCommentTest, FileNameThatIsNotUtf8) {
  for (const char* name : {"caf\xE9.doc", "\xFF\xFE", "x\xED\xB3\xA9"}) {
    const std::string f = File(name);
    const std::string lookalike = File(platform::Utf16ToUtf8(platform::Utf8ToUtf16(name)));
    List(f, "ida", At(1, 2, 3));
    W().WriteMacComment(1);
    W().WriteWinComment(1);
    EXPECT_EQ(Mark(1, kColMac), "M") << name;
    EXPECT_EQ(Mark(1, kColWin), "W") << name;
    EXPECT_EQ(Comment(f), Line(1) + "\r\n") << name;
    EXPECT_FALSE(Comment(lookalike).has_value()) << name;
    EXPECT_EQ(ReadFile(lookalike), "content") << name;
  }
}

// Whatever happened to the file after the comment pass looked at it: the summary cannot be used,
// the row says so after one attempt to rebuild, and no other file is touched.
class WinCommentChangedBeforeWrite : public WinCommentTest,
                                     public ::testing::WithParamInterface<ChangeBeforeWrite> {};

TEST_P(WinCommentChangedBeforeWrite, UnusableSummaryGivesQuestionMarkAfterARebuildAttempt) {
  const std::string target = File("secret", "root only");
  const std::string f = File(GetParam().name);
  List(f, "kim", At(4, 0, 0));
  List(f, "kim", At(4, 0, 1));
  pump.rounds = 0;
  GetParam().change(f, target);
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "?");
  EXPECT_EQ(Mark(2, kColWin), "w");
  EXPECT_EQ(pump.rounds, 1);
  EXPECT_FALSE(RawAttr(target, kWinAttr).has_value());
  EXPECT_EQ(ReadFile(target), "root only");
}

INSTANTIATE_TEST_SUITE_P(FileChangedBeforeTheWrite, WinCommentChangedBeforeWrite,
                         ::testing::ValuesIn(kChangesBeforeWrite),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WinCommentTest, RefusedSaveIsRetried) {
  const std::string f = File("a");
  PutAttr(f, kWinAttr, "old");
  List(f, "lee", At(1, 0, 0));
  io.setErrno = E2BIG;
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "?");
  EXPECT_EQ(Comment(f), "old");
  EXPECT_EQ(pump.rounds, 1);
  // The summary check pass retries it once the file system takes it.
  io.setErrno = 0;
  W().RegenerateWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "W");
  EXPECT_EQ(Comment(f), Line(1) + "\r\n");
}

TEST_F(WinCommentTest, FileSystemWithoutUserAttributes) {
  const std::string f = File("a");
  List(f, "max", At(1, 0, 0));
  io.getErrno = EOPNOTSUPP;
  io.setErrno = EOPNOTSUPP;
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "?");
  EXPECT_EQ(ReadFile(f), "content");
}

// A comment larger than the file system takes: the real refusal, no partial value.
TEST_F(WinCommentTest, TooLargeForTheFileSystem) {
  settings.MaxWinComments = 32000;
  settings.MaxSelectedEvents = 3000;
  const std::string f = File("a");
  for (int i = 0; i < 1500; ++i) {
    List(f, "a-rather-long-user-name", At(i / 3600, (i / 60) % 60, i % 60));
  }
  W().RegenerateWinComment(1);
  // ext4 keeps some 4 KiB of attributes per file; a file system with bigger room takes it.
  const auto stored = Comment(f);
  if (stored) {
    EXPECT_EQ(Mark(1, kColWin), "W");
    EXPECT_EQ(platform::Utf8ToUtf16(*stored).size(), 32000u);
  } else {
    EXPECT_EQ(Mark(1, kColWin), "?");
  }
  EXPECT_EQ(ReadFile(f), "content");
}

// The calls made on the component, in order; what it answers comes from the test's script.
struct Script {
  std::u16string comments;
  std::int32_t status = 1;
  std::int32_t statusResult = 0;
  std::int32_t saveResult = 0;
  std::vector<std::string> calls;
};

class RecordingSummary : public SummaryPropertyComponent {
 public:
  explicit RecordingSummary(Script& script) : s_(script) {}
  std::int32_t SetComments(std::u16string_view text) override {
    s_.calls.push_back("Set:" + platform::Utf16ToUtf8(text));
    return 0;
  }
  std::int32_t GetComments(std::u16string& text) override {
    s_.calls.push_back("Get");
    text = s_.comments;
    return 0;
  }
  std::int32_t SaveSummary() override {
    s_.calls.push_back("Save");
    return s_.saveResult;
  }
  std::int32_t GetOpenStatus(std::int32_t& status) override {
    s_.calls.push_back("Status");
    status = s_.status;
    return s_.statusResult;
  }
  using SummaryPropertyComponent::OpenSummary;
  std::int32_t OpenSummary(std::u16string_view path, std::int32_t mode,
                           const std::optional<platform::ExpectedFile>&) override {
    s_.calls.push_back("Open:" + platform::Utf16ToUtf8(path) + ":" + std::to_string(mode));
    return 0;
  }
  std::int32_t CloseSummary() override {
    s_.calls.push_back("Close");
    return 0;
  }

 private:
  Script& s_;
};

class WinCallsTest : public CommentWorld {
 protected:
  void SetUp() override {
    MakeWriters([this] {
      ++created;
      return std::unique_ptr<SummaryPropertyComponent>(std::make_unique<RecordingSummary>(s));
    });
    file = "/srv/share/a.doc";
    List(file, "pat", At(1, 2, 3));
    open = "Open:" + file + ":18";
  }
  Script s;
  int created = 0;
  std::string file;
  std::string open;
};

TEST_F(WinCallsTest, WriteOrderAndMode18) {
  s.comments = u"old";
  W().WriteWinComment(1);
  EXPECT_EQ(s.calls, (std::vector<std::string>{open, "Status", "Get", "Set:" + Line(1) + "\r\nold",
                                               "Save", "Close"}));
  EXPECT_EQ(Mark(1, kColWin), "w");
  W().WriteWinComment(1);
  EXPECT_EQ(created, 1) << "one component for the run";
}

TEST_F(WinCallsTest, PresentLineClosesWithoutWriting) {
  s.comments = U16("x\r\n" + Line(1) + "\r\n");
  W().WriteWinComment(1);
  EXPECT_EQ(s.calls, (std::vector<std::string>{open, "Status", "Get", "Close"}));
  EXPECT_EQ(pump.rounds, 0);
}

TEST_F(WinCallsTest, EmptyCommentHandsOverWithoutClosing) {
  W().WriteWinComment(1);
  EXPECT_EQ(s.calls, (std::vector<std::string>{open, "Status", "Get", open, "Status",
                                               "Set:" + Line(1) + "\r\n", "Save", "Close"}));
  EXPECT_EQ(Mark(1, kColWin), "W");
}

TEST_F(WinCallsTest, UnusableStatusesCallNothingMore) {
  struct Case {
    std::int32_t status;
    std::int32_t statusResult;
  };
  for (Case c : {Case{0, 0}, Case{kSummaryNotOpened, 0}, Case{1, kSummaryFailed}}) {
    s.calls.clear();
    s.status = c.status;
    s.statusResult = c.statusResult;
    pump.rounds = 0;
    W().WriteWinComment(1);
    EXPECT_EQ(s.calls, (std::vector<std::string>{open, "Status", open, "Status"})) << c.status;
    EXPECT_EQ(Mark(1, kColWin), "?");
    EXPECT_EQ(pump.rounds, 1);
  }
}

TEST_F(WinCallsTest, FailedSaveMarksForRetry) {
  s.comments = u"old";
  s.saveResult = kSummaryFailed;
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "?");
  EXPECT_EQ(s.calls.back(), "Close");
  W().RegenerateWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "?");
}

TEST_F(WinCallsTest, ComponentThatCannotBeCreated) {
  MakeWriters([] { return std::unique_ptr<SummaryPropertyComponent>(); });
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "?");
  W().RegenerateWinComment(1);
  EXPECT_EQ(Mark(1, kColWin), "?");
}

TEST_F(WinCallsTest, LimitIsReadWhenTheTextIsCut) {
  s.comments = std::u16string(300, u'o');
  settings.MaxWinComments = 500;
  W().WriteWinComment(1);
  EXPECT_EQ(s.calls[3], "Set:" + Line(1) + "\r\n" + std::string(300, 'o'));
  s.calls.clear();
  settings.MaxWinComments = 100;
  W().WriteWinComment(1);
  ASSERT_EQ(s.calls.size(), 6u);
  EXPECT_EQ(s.calls[3], "Set:" + (Line(1) + "\r\n" + std::string(300, 'o')).substr(0, 100));
}

}  // namespace
}  // namespace qs::test
