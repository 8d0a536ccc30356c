// A whole pass over a Security log written by a real Windows machine (.evtx), with the drive C
// mapped to a temporary folder: the two files an administrator copied onto the server over SMB get
// their comments, and no other file named in the log does.
#include <clocale>
#include <filesystem>

#include "comments/comment_pass.h"
#include "platform/services.h"
#include "platform/utf.h"
#include "scan/scan_pass.h"
#include "support/comment_fixture.h"

namespace qs::test {
namespace {

class EvtxEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousLocale = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");  // date texts "YYYY-MM-DD HH:MM:SS"
    settings.MacComments = true;
    settings.WinComments = true;
    settings.TimeSeconds = false;
    settings.Performance = 1;
    run.StopFlag = false;
    view.visible = false;
    drive = dir / "c";
    paths.SetDrive('C', drive);
  }
  void TearDown() override { std::setlocale(LC_TIME, previousLocale.c_str()); }

  void Put(const std::string& relative) {
    const std::filesystem::path file = std::filesystem::path(drive) / relative;
    std::filesystem::create_directories(file.parent_path());
    WriteFile(file.string(), "content of " + relative);
  }

  TempDir dir;
  std::string drive;
  Settings settings;
  RunState run;
  SelectionContext selection{"quillstamp", 0};  // times in UTC
  ScanState state;
  FakeScanView view;
  EventList list{settings};
  platform::PathMap paths;
  platform::PlatformServices services =
      platform::MakePlatformServices(FixturePath("evtx/LM_5145_Remote_FileCopy.evtx"), paths);
  FileComments writers{
      list, state.currentEvent, settings, view, paths, *services.streams, services.makeSummary};
  FileCommentStep step{list, state.currentEvent, settings, *services.fileStatus, writers, view};
  std::string previousLocale;
};

TEST_F(EvtxEndToEndTest, StampsTheTwoFilesWrittenOverTheShareAndNothingElse) {
  const std::vector<std::string> written = {"malwr.exe", "Windows/Temp/setup.bat"};
  // Files the same log shows opened for reading or checked without writing.
  const std::vector<std::string> others = {"desktop.ini", "Windows/Temp/wodCmdTerm.exe",
                                           "Windows/Temp/ui/SwDRM.dll", "Windows/Fonts/desktop.ini",
                                           "Users/user04/Music/desktop.ini"};
  for (const auto& f : written) Put(f);
  for (const auto& f : others) Put(f);

  ScanContext context{*services.eventLog, list, state, settings, run, selection, view, step};
  ScanPass(context);
  ASSERT_TRUE(view.errors.empty());
  ASSERT_EQ(list.EventCount(), 2);

  EXPECT_EQ(RawAttr(drive + "/malwr.exe", kWinAttr), "2019-03-18 14:23:26 Administrator\r\n");
  EXPECT_EQ(RawAttr(drive + "/Windows/Temp/setup.bat", kWinAttr),
            "2019-03-18 14:24:09 Administrator\r\n");
  const auto stream = [](std::string_view utf8) {
    return Le(platform::Utf8ToUtf16(utf8)) + std::string(1, '\0');
  };
  EXPECT_EQ(RawAttr(drive + "/malwr.exe", kMacAttr), stream("2019-03-18 14:23 Administrator\r"));
  EXPECT_EQ(RawAttr(drive + "/Windows/Temp/setup.bat", kMacAttr),
            stream("2019-03-18 14:24 Administrator\r"));
  for (const auto& f : others) {
    EXPECT_FALSE(RawAttr(drive + "/" + f, kWinAttr).has_value()) << f;
    EXPECT_FALSE(RawAttr(drive + "/" + f, kMacAttr).has_value()) << f;
  }
  EXPECT_EQ(ReadFile(drive + "/malwr.exe"), "content of malwr.exe");
}

}  // namespace
}  // namespace qs::test
