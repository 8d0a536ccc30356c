// The summary property component of this platform: the freedesktop comment attribute.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/xdg_comment_summary.h"
#include "platform/utf.h"
#include "support/comment_fixture.h"

namespace qs::test {
namespace {

using platform::kSummaryNotOpened;
using platform::kSummaryReadWriteExclusive;
using platform::SummaryUsable;
using platform::XdgCommentSummary;

class XdgSummaryTest : public ::testing::Test {
 protected:
  std::int32_t Status() {
    std::int32_t status = -7;
    EXPECT_EQ(summary.GetOpenStatus(status), 0);
    return status;
  }
  std::u16string Path(const std::string& p) { return U16(p); }
  TempDir dir;
  FaultyXattrIo io;
  XdgCommentSummary summary{io};
};

TEST_F(XdgSummaryTest, StoresUtf8WithoutTerminator) {
  const std::string f = dir / "a";
  WriteFile(f, "content");
  EXPECT_EQ(Status(), 0) << "nothing opened yet";
  summary.OpenSummary(Path(f), kSummaryReadWriteExclusive);
  EXPECT_TRUE(SummaryUsable(Status()));
  std::u16string text = u"x";
  EXPECT_EQ(summary.GetComments(text), 0);
  EXPECT_EQ(text, u"") << "no comment yet";
  EXPECT_EQ(summary.SetComments(u"2026 J\u00E9r\u00F4me\r\n"), 0);
  EXPECT_FALSE(RawAttr(f, kWinAttr).has_value()) << "stored by SaveSummary only";
  EXPECT_EQ(summary.SaveSummary(), 0);
  EXPECT_EQ(summary.CloseSummary(), 0);
  EXPECT_EQ(RawAttr(f, kWinAttr), "2026 J\xC3\xA9r\xC3\xB4me\r\n");
  EXPECT_EQ(ReadFile(f), "content");

  summary.OpenSummary(Path(f), kSummaryReadWriteExclusive);
  EXPECT_EQ(summary.GetComments(text), 0);
  EXPECT_EQ(text, u"2026 J\u00E9r\u00F4me\r\n");
}

// Whatever bytes another tool stored come back from GetComments and SetComments unchanged, and
// a name that is not UTF-8 opens that file, not the one whose name reads the same.
TEST_F(XdgSummaryTest, BytesThatAreNotUtf8RoundTrip) {
  const std::string lookalike = dir / "caf\xEF\xBF\xBD";  // "caf" and U+FFFD
  WriteFile(lookalike, "other");
  const std::string f = dir / "caf\xE9";
  WriteFile(f, "content");
  for (const std::string old :
       {"caf\xE9", "\xFF", "a\xC3", "\xED\xA0\x80\xED\xB0\x80", "\xC0\xAF", "\xF4\x90\x80\x80"}) {
    PutAttr(f, kWinAttr, old);
    summary.OpenSummary(platform::Utf8ToUtf16Lossless(f), kSummaryReadWriteExclusive);
    ASSERT_TRUE(SummaryUsable(Status()));
    std::u16string text;
    EXPECT_EQ(summary.GetComments(text), 0);
    EXPECT_EQ(text.find(u'\uFFFD'), std::u16string::npos) << "no byte replaced";
    EXPECT_EQ(summary.SetComments(u"new\r\n" + text), 0);
    EXPECT_EQ(summary.SaveSummary(), 0);
    summary.CloseSummary();
    EXPECT_EQ(RawAttr(f, kWinAttr), "new\r\n" + old);
  }
  EXPECT_FALSE(RawAttr(lookalike, kWinAttr).has_value());
}

TEST_F(XdgSummaryTest, UnusableForAnythingButAWritableRegularFile) {
  const std::string target = dir / "target";
  WriteFile(target, "t");
  const std::string link = dir / "link";
  PlantLink(target, link);
  const std::string ro = dir / "ro";
  WriteFile(ro, "r");
  ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
  std::filesystem::create_directory(dir / "folder");
  for (const std::string& p :
       {std::string(dir / "missing"), link, ro, std::string(dir / "folder")}) {
    summary.OpenSummary(Path(p), kSummaryReadWriteExclusive);
    EXPECT_FALSE(SummaryUsable(Status())) << p;
    EXPECT_EQ(Status(), kSummaryNotOpened) << p;
    EXPECT_LT(summary.SetComments(u"x"), 0);
    EXPECT_LT(summary.SaveSummary(), 0);
  }
  EXPECT_FALSE(RawAttr(target, kWinAttr).has_value());
}

TEST_F(XdgSummaryTest, NewOpenTakesOverAnUnclosedOne) {
  const std::string a = dir / "a";
  const std::string b = dir / "b";
  WriteFile(a, "a");
  WriteFile(b, "b");
  summary.OpenSummary(Path(a), kSummaryReadWriteExclusive);
  summary.SetComments(u"for a");
  summary.OpenSummary(Path(b), kSummaryReadWriteExclusive);  // a was never closed
  EXPECT_TRUE(SummaryUsable(Status()));
  EXPECT_EQ(summary.SaveSummary(), 0);  // nothing set on b: nothing stored
  summary.SetComments(u"for b");
  EXPECT_EQ(summary.SaveSummary(), 0);
  summary.CloseSummary();
  EXPECT_FALSE(RawAttr(a, kWinAttr).has_value());
  EXPECT_EQ(RawAttr(b, kWinAttr), "for b");
  // After an unusable open, the next one works again.
  summary.OpenSummary(Path(dir / "missing"), kSummaryReadWriteExclusive);
  summary.OpenSummary(Path(a), kSummaryReadWriteExclusive);
  EXPECT_TRUE(SummaryUsable(Status()));
}

TEST_F(XdgSummaryTest, RefusalsAreNegativeResults) {
  const std::string f = dir / "a";
  WriteFile(f, "content");
  PutAttr(f, kWinAttr, "old");
  summary.OpenSummary(Path(f), kSummaryReadWriteExclusive);
  io.getErrno = EOPNOTSUPP;
  std::u16string text;
  EXPECT_LT(summary.GetComments(text), 0);
  EXPECT_EQ(text, u"");
  io.setErrno = ENOSPC;
  summary.SetComments(u"new");
  EXPECT_LT(summary.SaveSummary(), 0);
  summary.CloseSummary();
  EXPECT_EQ(RawAttr(f, kWinAttr), "old");
}

TEST_F(XdgSummaryTest, ReadOnlyModeReadsAReadOnlyFile) {
  const std::string f = dir / "ro";
  WriteFile(f, "r");
  PutAttr(f, kWinAttr, "note");
  ASSERT_EQ(chmod(f.c_str(), 0444), 0);
  summary.OpenSummary(Path(f), 0x10);  // read, deny write
  EXPECT_TRUE(SummaryUsable(Status()));
  std::u16string text;
  EXPECT_EQ(summary.GetComments(text), 0);
  EXPECT_EQ(text, u"note");
  EXPECT_LT(summary.SetComments(u"x"), 0);
}

}  // namespace
}  // namespace qs::test
