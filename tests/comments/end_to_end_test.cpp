// Whole passes over a Security log written with the .evt writer, both comment kinds on: each file
// ends with exactly the two comments expected, byte for byte.
#include <sys/stat.h>

#include <clocale>
#include <filesystem>

#include "comments/comment_pass.h"
#include "evtwriter/evt_writer.h"
#include "platform/services.h"
#include "platform/utf.h"
#include "scan/scan_pass.h"
#include "support/comment_fixture.h"

namespace qs::test {
namespace {

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousLocale = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");  // date texts "YYYY-MM-DD HH:MM:SS"
    settings.MacComments = true;
    settings.WinComments = true;
    settings.TimeSeconds = false;  // the Macintosh lines lose their seconds, the others keep them
    settings.Performance = 1;
    run.StopFlag = false;
    view.visible = false;  // a window nobody looks at
    share = dir / "share";
    std::filesystem::create_directory(share);
    paths.SetDrive('D', share);
  }
  void TearDown() override { std::setlocale(LC_TIME, previousLocale.c_str()); }

  std::string Put(const std::string& name) {
    const std::string f = share + "/" + name;
    WriteFile(f, "content of " + name);
    return f;
  }

  void Pass() {
    ScanContext context{*services.eventLog, list, state, settings, run, selection, view, step};
    ScanPass(context);
  }

  // Event 560 by `user` at 2001-09-09 12:00:00 UTC + seconds (11:00:00 local, bias 60).
  void Add(const std::string& file, const std::string& user, std::uint32_t seconds,
           std::vector<int> accesses = {1537, 1538, 1541, 4416, 4417, 4418, 4419, 4420, 4423,
                                        4424}) {
    evtwriter::Event560 e;
    e.time = 1'000'036'800 + seconds;
    e.objectName = file;
    e.primaryUser = user;
    e.accesses = std::move(accesses);
    writer.Add(e);
  }

  std::optional<std::string> Mac(const std::string& name) {
    return RawAttr(share + "/" + name, kMacAttr);
  }
  std::optional<std::string> Win(const std::string& name) {
    return RawAttr(share + "/" + name, kWinAttr);
  }
  // What Samba stores for a text given in UTF-8.
  static std::string Stream(std::string_view utf8) {
    return Le(platform::Utf8ToUtf16(utf8)) + std::string(1, '\0');
  }
  std::string Marks(int row) {
    return list.CellText(row, kColWin) + "/" + list.CellText(row, kColMac);
  }

  TempDir dir;
  std::string share;
  std::string logPath = dir / "Security.evt";
  evtwriter::EvtWriter writer;
  Settings settings;
  RunState run;
  SelectionContext selection{"Administrator", 60};
  ScanState state;
  FakeScanView view;
  EventList list{settings};
  platform::PathMap paths;
  platform::PlatformServices services = platform::MakePlatformServices(logPath, paths);
  FileComments writers{
      list, state.currentEvent, settings, view, paths, *services.streams, services.makeSummary};
  FileCommentStep step{list, state.currentEvent, settings, *services.fileStatus, writers, view};
  std::string previousLocale;
};

TEST_F(EndToEndTest, EachFileGetsExactlyItsTwoComments) {
  Put("budget.xls");
  Put("report.doc");
  Put("\xC3\xA9t\xC3\xA9.doc");  // "été.doc"
  chmod(Put("ro.txt").c_str(), 0444);
  std::filesystem::create_directory(share + "/folder");
  const std::string pipe = share + "/pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);

  Add("D:\\budget.xls", "alice", 0);
  Add("D:\\report.doc", "bob", 10);
  Add("D:\\ro.txt", "carol", 20);
  Add("D:\\gone.txt", "dave", 30);
  Add("D:\\folder", "dave", 40);
  Add("D:\\budget.xls", "erin", 50, evtwriter::kReadAccesses);  // read only: not selected
  Add("D:\\budget.xls", "bob", 65);
  Add("D:\\budget.xls", "bob", 70);            // same minute, same user: one Macintosh line
  Add("D:\\budget.xls", "Administrator", 75);  // the program's own account
  Add("D:\\pipe", "frank", 80);
  Add("D:\\\xC3\xA9t\xC3\xA9.doc", "J\xC3\xBCrgen", 90);
  writer.WriteFile(logPath);

  Pass();
  ASSERT_TRUE(view.errors.empty());
  ASSERT_EQ(list.EventCount(), 8);
  EXPECT_EQ(Marks(1), "W/M");    // été.doc
  EXPECT_EQ(Marks(2), "?/???");  // the FIFO, still failing after the summary check pass
  EXPECT_EQ(Marks(3), "w/m");    // budget.xls, bob 11:01:10
  EXPECT_EQ(Marks(4), "w/m");    // budget.xls, bob 11:01:05
  EXPECT_EQ(Marks(5), "U/-");    // gone.txt
  EXPECT_EQ(Marks(6), "RO/-");   // ro.txt
  EXPECT_EQ(Marks(7), "W/M");    // report.doc
  EXPECT_EQ(Marks(8), "W/M");    // budget.xls, alice: rebuilt from the list (no comment yet)

  EXPECT_EQ(Mac("budget.xls"), Stream("2001-09-09 11:01 bob\r2001-09-09 11:00 alice\r"));
  EXPECT_EQ(Win("budget.xls"),
            "2001-09-09 11:01:10 bob\r\n2001-09-09 11:01:05 bob\r\n2001-09-09 11:00:00 alice\r\n");
  EXPECT_EQ(Mac("report.doc"), Stream("2001-09-09 11:00 bob\r"));
  EXPECT_EQ(Win("report.doc"), "2001-09-09 11:00:10 bob\r\n");
  EXPECT_EQ(Mac("\xC3\xA9t\xC3\xA9.doc"), Stream("2001-09-09 11:01 J\xC3\xBCrgen\r"));
  EXPECT_EQ(Win("\xC3\xA9t\xC3\xA9.doc"), "2001-09-09 11:01:30 J\xC3\xBCrgen\r\n");
  EXPECT_FALSE(Mac("ro.txt").has_value());
  EXPECT_FALSE(Win("ro.txt").has_value());
  EXPECT_FALSE(RawAttr(share + "/folder", kMacAttr).has_value());
  EXPECT_EQ(ReadFile(share + "/budget.xls"), "content of budget.xls");

  // The FIFO becomes a file: the next pass takes no new event, its summary check pass rebuilds.
  std::filesystem::remove(pipe);
  Put("pipe");
  Pass();
  ASSERT_EQ(list.EventCount(), 8);
  EXPECT_EQ(Marks(2), "W/M");
  EXPECT_EQ(Mac("pipe"), Stream("2001-09-09 11:01 frank\r"));
  EXPECT_EQ(Win("pipe"), "2001-09-09 11:01:20 frank\r\n");
  EXPECT_EQ(ReadFile(share + "/pipe"), "content of pipe");
}

}  // namespace
}  // namespace qs::test
