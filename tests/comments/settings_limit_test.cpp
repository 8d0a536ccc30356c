// The comment size limit as the settings file gives it, through to a real file's comment: a
// limit written by hand that the dialog would refuse must never erase what a file already holds.
#include "core/settings_file.h"
#include "support/comment_fixture.h"

namespace qs::test {
namespace {

class SettingsLimitTest : public CommentWorld {};

TEST_F(SettingsLimitTest, ALimitBelowOneInTheSettingsFileErasesNoComment) {
  for (const char* limit : {"-1", "-32768", "-0.6"}) {
    SCOPED_TRACE(limit);
    TempDir program;
    const std::string ini = program / "Quillstamp.ini";
    WriteFile(ini, std::string("[Configuration]\r\nMaxWinComments=") + limit + "\r\n");
    settings.MaxWinComments = SettingsFile(ini).ReadConfiguration().MaxWinComments;

    const std::string f = File(std::string("report") + limit + ".doc");
    PutAttr(f, kWinAttr, "2001-02-03 04:05:06 somebody\r\n");
    List(f, "carol", At(13, 14, 15));
    W().WriteWinComment(1);
    EXPECT_EQ(Mark(1, kColWin), "w");
    EXPECT_EQ(RawAttr(f, kWinAttr), Line(1) + "\r\n2001-02-03 04:05:06 somebody\r\n");
  }
}

}  // namespace
}  // namespace qs::test
