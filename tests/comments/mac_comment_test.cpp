// The Macintosh comment: the lines, the marks, the cuts, the read buffer, the refusals.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/comment_fixture.h"

namespace qs::test {
namespace {

class MacCommentTest : public CommentWorld {
 protected:
  std::optional<std::string> Stream(const std::string& f) { return RawAttr(f, kMacAttr); }
  // What Samba would store for the text.
  static std::string Stored(std::u16string_view text) { return Le(text) + std::string(1, '\0'); }
};

TEST_F(MacCommentTest, MissingStreamIsRebuiltFromEveryRowOfTheFileNewestFirst) {
  const std::string f = File("budget.xls");
  const std::string other = File("other.txt");
  List(f, "alice", At(9, 0, 1));
  List(other, "bob", At(9, 5, 0));
  List(f, "bob", At(10, 0, 2));
  List(f, "alice", At(11, 0, 3));  // row 1, the current event; rows 2 and 4 are the same file
  W().WriteMacComment(1);

  EXPECT_EQ(Mark(1, kColMac), "M");
  EXPECT_EQ(Mark(2, kColMac), "m");
  EXPECT_EQ(Mark(3, kColMac), "");
  EXPECT_EQ(Mark(4, kColMac), "m");
  EXPECT_EQ(Stream(f), Stored(U16(Line(1) + "\r" + Line(2) + "\r" + Line(4) + "\r")));
  EXPECT_FALSE(Stream(other).has_value());
  EXPECT_EQ(pump.rounds, 0) << "a rebuild does not yield";
  EXPECT_EQ(ReadFile(f), "content");
}

TEST_F(MacCommentTest, ExactBytesOfOneLine) {
  const std::string f = File("a");
  List(f, "bob", At(9, 8, 7));
  ASSERT_EQ(Date(1), DateText(At(9, 8, 7)));
  W().WriteMacComment(1);
  const std::string line = Date(1) + " bob\r";
  std::string expected;
  for (char c : line) expected += std::string{c, '\0'};
  expected.push_back('\0');
  EXPECT_EQ(Stream(f), expected);
}

TEST_F(MacCommentTest, LineInFrontOfTheExistingTextThenYield) {
  const std::string f = File("a");
  PutAttr(f, kMacAttr, Stored(u"older line"));  // no CR at the end: kept as it was
  List(f, "carol", At(12, 0, 0, 11));
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "m");
  EXPECT_EQ(Stream(f), Stored(U16(Line(1) + "\r") + u"older line"));
  EXPECT_EQ(pump.rounds, 1);
}

TEST_F(MacCommentTest, LineAlreadyPresentLeavesTheStreamAlone) {
  const std::string f = File("a");
  List(f, "dan", At(8, 30, 15));
  const std::string line = Line(1);
  // A substring test: the new line begins an existing line with a longer user name.
  const std::u16string existing = U16("x\r" + line + "iel\r");
  PutAttr(f, kMacAttr, Stored(existing));
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "m");
  EXPECT_EQ(Stream(f), Stored(existing));
  EXPECT_EQ(pump.rounds, 0);
}

TEST_F(MacCommentTest, WithoutSecondsOneLinePerMinute) {
  settings.TimeSeconds = false;
  const std::string f = File("a");
  List(f, "eve", At(14, 20, 5));
  W().WriteMacComment(1);  // rebuilt: one line
  List(f, "eve", At(14, 20, 50));
  W().WriteMacComment(1);  // same minute, same user: already there
  EXPECT_EQ(Mark(1, kColMac), "m");
  const std::string date = Date(1);
  EXPECT_EQ(Stream(f), Stored(U16(date.substr(0, date.size() - 3) + " eve\r")));
}

TEST_F(MacCommentTest, CutTo199CodeUnitsKeepsTheNewestText) {
  const std::string f = File("a");
  List(f, "frank", At(7, 0, 0));
  const std::u16string line = U16(Line(1));
  const std::u16string old(190, u'o');
  PutAttr(f, kMacAttr, Stored(old));
  W().WriteMacComment(1);
  const std::u16string expected = (line + u"\r" + old).substr(0, 199);
  EXPECT_EQ(Stream(f), Stored(expected));
  EXPECT_EQ(Stream(f)->size(), 399u);
}

// A cut between the halves of a surrogate pair is made one unit earlier.
TEST_F(MacCommentTest, CutNeverSplitsASurrogatePair) {
  const std::string f = File("a");
  List(f, "gus", At(7, 0, 0));
  const std::u16string line = U16(Line(1));
  const std::size_t before = 199 - (line.size() + 1) - 1;  // the pair straddles 198/199
  const std::u16string old = std::u16string(before, u'o') + u"\U0001F600" + u"tail";
  PutAttr(f, kMacAttr, Stored(old));
  W().WriteMacComment(1);
  const std::u16string expected = line + u"\r" + std::u16string(before, u'o');
  EXPECT_EQ(expected.size(), 198u);
  EXPECT_EQ(Stream(f), Stored(expected));
  EXPECT_EQ(Mark(1, kColMac), "m");
}

// Only the first 1024 bytes of a longer stream make up the existing comment.
TEST_F(MacCommentTest, ReadBufferHoldsTheFirst1024Bytes) {
  RoomyDir roomy;
  if (roomy.path().empty()) GTEST_SKIP() << "no tmpfs with user attributes in /dev/shm";
  const std::string f = roomy.path() + "/a";
  const std::string g = roomy.path() + "/b";
  WriteFile(f, "content");
  WriteFile(g, "content");
  List(g, "hal", At(6, 1, 2));
  List(f, "hal", At(6, 1, 2));
  const std::u16string line = U16(Line(1));
  // f: the line lies beyond byte 1024 of a 5000-byte stream, so it is not seen and is added.
  std::u16string far(2500, u'x');
  far.replace(600, line.size(), line);
  PutAttr(f, kMacAttr, Stored(far));
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "m");
  EXPECT_EQ(Stream(f), Stored((line + u"\r" + far).substr(0, 199)));
  // g: the same line inside the first 1024 bytes is found.
  std::u16string near(2500, u'x');
  near.replace(100, line.size(), line);
  PutAttr(g, kMacAttr, Stored(near));
  current.file = g;
  W().WriteMacComment(2);
  EXPECT_EQ(Mark(2, kColMac), "m");
  EXPECT_EQ(Stream(g), Stored(near));
}

// Streams without any byte are rebuilt.
TEST_F(MacCommentTest, StreamsWithoutTextAreRebuilt) {
  struct Case {
    const char* what;
    std::string value;
    std::string mark;
  };
  const Case cases[] = {
      {"Samba's empty stream", std::string(1, '\0'), "M"},
      {"empty value", "", "M"},
  };
  for (const Case& c : cases) {
    const std::string f = File(c.what);
    PutAttr(f, kMacAttr, c.value);
    List(f, "ivy", At(5, 0, 0));
    W().WriteMacComment(1);
    EXPECT_EQ(Mark(1, kColMac), c.mark) << c.what;
    EXPECT_EQ(Stream(f), Stored(U16(Line(1) + "\r"))) << c.what;
  }
}

// A last odd byte, as another tool may leave one, is no code unit, yet it is part of the comment:
// it stays after the text, byte for byte, stored as that tool stored it (without Samba's 0x00) so
// that the next pass reads it back the same. Only the cut at 199 code units takes it, with the end
// of the oldest text.
TEST_F(MacCommentTest, OddLastByteIsKept) {
  const std::string f = File("a");
  List(f, "jo", At(5, 0, 0));
  const std::u16string head = U16(Line(1) + "\r");
  const std::size_t room = kMacCommentLimit - head.size();  // code units left for the old text
  struct Case {
    const char* what;
    std::string value;  // as the other tool stored it
    std::string after;  // the attribute after the new line
  };
  const Case cases[] = {
      {"text and a stray byte", std::string("a\0b\0c", 5), Le(head) + std::string("a\0b\0c", 5)},
      {"one stray byte", "x", Le(head) + "x"},
      {"fits with one unit to spare", Le(std::u16string(room - 1, u'o')) + "z",
       Le(head + std::u16string(room - 1, u'o')) + "z"},
      {"the text fills the 199 units", Le(std::u16string(room, u'o')) + "z",
       Stored(head + std::u16string(room, u'o'))},
      {"cut inside the old text", Le(std::u16string(room + 5, u'o')) + "z",
       Stored(head + std::u16string(room, u'o'))},
  };
  for (const Case& c : cases) {
    PutAttr(f, kMacAttr, c.value);
    W().WriteMacComment(1);
    EXPECT_EQ(Mark(1, kColMac), "m") << c.what;
    EXPECT_EQ(Stream(f), c.after) << c.what;
  }
  // The next line finds the kept byte where it was.
  PutAttr(f, kMacAttr, std::string("a\0b\0c", 5));
  W().WriteMacComment(1);
  List(f, "kay", At(6, 0, 0));
  W().WriteMacComment(1);
  EXPECT_EQ(Stream(f), Le(U16(Line(1) + "\r" + Line(2) + "\r")) + std::string("a\0b\0c", 5));
}

// Whatever happened to the file after the comment pass looked at it, the mark says so and no
// other file is touched.
class MacCommentChangedBeforeWrite : public MacCommentTest,
                                     public ::testing::WithParamInterface<ChangeBeforeWrite> {};

TEST_P(MacCommentChangedBeforeWrite, MarksTheFailureAndTouchesNoOtherFile) {
  const std::string target = File("secret", "root only");
  const std::string f = File(GetParam().name);
  List(f, "kim", At(4, 0, 0));
  GetParam().change(f, target);
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "???");
  EXPECT_FALSE(RawAttr(target, kMacAttr).has_value());
  EXPECT_EQ(ReadFile(target), "root only");
}

INSTANTIATE_TEST_SUITE_P(FileChangedBeforeTheWrite, MacCommentChangedBeforeWrite,
                         ::testing::ValuesIn(kChangesBeforeWrite),
                         [](const auto& info) { return std::string(info.param.name); });

// A file made read-only between the read and the write: the stream is read, not rewritten.
TEST_F(MacCommentTest, WriteRefusedAfterTheRead) {
  const std::string f = File("a");
  PutAttr(f, kMacAttr, Stored(u"old\r"));
  List(f, "lee", At(3, 0, 0));
  chmod(f.c_str(), 0444);
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "???");
  EXPECT_EQ(Stream(f), Stored(u"old\r"));
  EXPECT_EQ(pump.rounds, 1) << "the writer yields after a failed write too";
}

TEST_F(MacCommentTest, FileSystemWithoutUserAttributes) {
  const std::string f = File("a");
  List(f, "max", At(3, 0, 0));
  io.getErrno = EOPNOTSUPP;
  io.setErrno = EOPNOTSUPP;
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "???");
  EXPECT_EQ(ReadFile(f), "content");
}

// A real file system without extended attributes (ramfs): both comments fail and are retried,
// and the file's content stays as it was.
TEST_F(MacCommentTest, RamfsWithoutAttributes) {
  const std::string mnt = dir / "ramfs";
  std::filesystem::create_directory(mnt);
  if (mount("none", mnt.c_str(), "ramfs", 0, nullptr) != 0) {
    GTEST_SKIP() << "cannot mount a ramfs here (errno " << errno << ")";
  }
  MountGuard guard{mnt};
  const std::string f = mnt + "/a";
  WriteFile(f, "content");
  List(f, "una", At(3, 0, 0));
  W().WriteMacComment(1);
  W().WriteWinComment(1);
  EXPECT_EQ(Mark(1, kColMac), "???");
  EXPECT_EQ(Mark(1, kColWin), "?");
  EXPECT_EQ(ReadFile(f), "content");
}

TEST_F(MacCommentTest, RefusedWriteIsAFailedWrite) {
  const std::string f = File("a");
  List(f, "ned", At(2, 0, 0));
  List(f, "ned", At(2, 0, 1));
  io.setErrno = ENOSPC;
  io.setFailFrom = 2;  // the open's emptying passes, the text does not
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "?");
  EXPECT_EQ(Mark(2, kColMac), "m") << "rows of the rebuild keep their m";
  EXPECT_EQ(Stream(f), std::string(1, '\0'));
}

// The file system has no room for the longer comment: the old one stays as it was.
TEST_F(MacCommentTest, RefusedWriteKeepsTheOldComment) {
  const std::string f = File("a");
  PutAttr(f, kMacAttr, Stored(u"old\r"));
  List(f, "ned", At(2, 0, 0));
  io.setErrno = ENOSPC;
  io.setFailFrom = 10;  // the old value (9 bytes) can be stored again, the new one not
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "?");
  EXPECT_EQ(Stream(f), Stored(u"old\r"));
}

TEST_F(MacCommentTest, UnreachablePathFailsLikeAMissingFile) {
  List("Q:\\Shared\\nowhere.doc", "oz", At(1, 0, 0));
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "???");
}

TEST_F(MacCommentTest, MappedDrivePath) {
  paths.SetDrive('D', dir.path().string());
  const std::string f = File("Report.doc");
  List("D:\\Report.doc", "pam", At(1, 2, 3));
  W().WriteMacComment(1);
  EXPECT_EQ(Mark(1, kColMac), "M");
  EXPECT_EQ(Stream(f), Stored(U16(Line(1) + "\r")));
}

// The summary check pass rebuilds any row; repeated lines are kept.
TEST_F(MacCommentTest, RegenerateFromAnyRow) {
  const std::string f = File("a");
  const std::string g = File("b");
  List(f, "quin", At(1, 0, 0));
  List(g, "quin", At(1, 0, 0));
  List(f, "quin", At(1, 0, 0));
  list.SetMark(1, kColMac, "?");
  list.SetMark(3, kColMac, "???");
  W().RegenerateMacComment(3);
  EXPECT_EQ(Mark(3, kColMac), "M");
  EXPECT_EQ(Mark(1, kColMac), "m");
  EXPECT_EQ(Mark(2, kColMac), "");
  EXPECT_EQ(Stream(f), Stored(U16(Line(1) + "\r" + Line(3) + "\r")));
}

TEST_F(MacCommentTest, ManyRowsAreCutTo199) {
  const std::string f = File("a");
  for (int i = 0; i < 20; ++i) List(f, "rose", At(1, i, 0));
  W().RegenerateMacComment(5);
  std::u16string all;
  for (int i = 1; i <= 20; ++i) all += U16(Line(i) + "\r");
  EXPECT_EQ(Stream(f), Stored(all.substr(0, 199)));
  EXPECT_EQ(Mark(5, kColMac), "M");
  EXPECT_EQ(Mark(20, kColMac), "m");
}

// A user name outside the Basic Multilingual Plane is stored as UTF-16 surrogates.
TEST_F(MacCommentTest, NonAsciiUser) {
  const std::string f = File("a");
  List(f, "J\xC3\xA9r\xC3\xB4me\xF0\x9F\x98\x80", At(1, 0, 0));
  W().WriteMacComment(1);
  EXPECT_EQ(Stream(f), Stored(U16(Date(1)) + u" J\u00E9r\u00F4me\U0001F600\r"));
}

}  // namespace
}  // namespace qs::test
