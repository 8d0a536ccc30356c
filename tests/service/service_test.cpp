// quillstamp-service as a program: the same list and comments as the window program for the same
// log and settings, its exit codes and messages, and how it meets the faults of a server's life
// (a stop in the middle of a long pass, a reload with changed settings, a settings file that is
// missing or garbage, a log that goes away, a second instance, a list file that cannot be
// written). Every wait is bounded.
#include <signal.h>
#include <sys/xattr.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "evtwriter/evt_writer.h"
#include "service/service_driver.h"
#include "service_process.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using test::Child;
using test::TempDir;
using test::WaitUntil;

constexpr auto kExitLimit = std::chrono::seconds(60);
constexpr std::uint32_t kBase = 1767261600;  // 2026-01-01 10:00:00 UTC

struct Write {
  std::uint32_t time;
  std::string user;
  std::string file;  // below D:\Shared
};

// Writes the log whole under another name and renames it into place, so that a running service
// never reads a half-written log.
void WriteLog(const std::string& path, const std::vector<Write>& writes) {
  evtwriter::EvtWriter log;
  for (const Write& w : writes) {
    evtwriter::Event560 e;
    e.time = w.time;
    e.primaryUser = w.user;
    e.objectName = "D:\\Shared\\" + w.file;
    log.Add(e);
  }
  log.WriteFile(path + ".new");
  fs::rename(path + ".new", path);
}

std::string Attribute(const std::string& path, const char* name) {
  char value[4096];
  const ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
  return n > 0 ? std::string(value, static_cast<std::size_t>(n)) : std::string();
}

// A server's folder: D: is `root`, whose Shared folder holds the named files; the settings file
// names the log and the drive.
struct Server {
  TempDir dir;
  std::string shared = dir / "Shared";
  std::string log = dir / "Security.evt";
  std::string config = dir / "Quillstamp.ini";
  std::string list = dir / "list.tsv";
  std::string out = dir / "service.log";

  explicit Server(const std::vector<std::string>& files) {
    fs::create_directories(shared);
    for (const std::string& f : files) test::WriteFile(shared + "/" + f, "content of " + f + "\n");
  }
  void Configure(const std::string& configuration) const {
    test::WriteFile(config, "[Configuration]\n" + configuration + "\n[Platform]\nSecurityLog=" +
                                log + "\n\n[Drives]\nD=" + dir.path().string() + "\n");
  }
  std::map<std::string, std::string> Environment() const {
    return {{"RUNTIME_DIRECTORY", dir.path().string()}};
  }
  std::unique_ptr<Child> Start(std::vector<std::string> extra = {}) const {
    std::vector<std::string> args{"--config", config, "--list-file", list};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<Child>(QS_SERVICE, args, Environment(), out);
  }
  std::string List() const { return test::ReadFile(list); }
};

// ---- The same as the window program -----------------------------------------------------------

struct SameCase {
  const char* name;
  const char* configuration;
  const char* locale;  // LC_ALL of both programs; empty: the test's own
  bool fullList;       // the list holds every event of the demo
  const char* counts;  // what the service's line of the pass counts
};

void PrintTo(const SameCase& c, std::ostream* os) { *os << c.name; }

class SameAsWindow : public testing::TestWithParam<SameCase> {};

TEST_P(SameAsWindow, ListFileAndCommentsAreTheWindowsByteForByte) {
  const SameCase& c = GetParam();
  TempDir dir;
  // One demo log (files written, read-only, deleted, a folder), and two copies of its files.
  const std::string windowDemo = dir / "window-demo";
  Child demo(QS_DEMO_MAKER, {windowDemo, dir / "unused"}, {}, dir / "demo.log");
  ASSERT_EQ(demo.WaitExit(kExitLimit), 0) << demo.Log();
  const std::string serviceDemo = dir / "service-demo";
  fs::create_directories(serviceDemo);
  fs::copy(windowDemo + "/Shared", serviceDemo + "/Shared", fs::copy_options::recursive);

  const auto configure = [&](const std::string& folder, const std::string& demoFolder) {
    fs::create_directories(folder);
    test::WriteFile(folder + "/Quillstamp.ini", std::string("[Configuration]\n") + c.configuration +
                                                    "\n[Platform]\nSecurityLog=" + windowDemo +
                                                    "/Security.evt\n\n[Drives]\nD=" + demoFolder +
                                                    "\n");
  };
  configure(dir / "window", windowDemo);
  configure(dir / "service", serviceDemo);
  std::map<std::string, std::string> env{{"QT_QPA_PLATFORM", "offscreen"},
                                         {"RUNTIME_DIRECTORY", dir.path().string()}};
  if (*c.locale != '\0') env["LC_ALL"] = c.locale;

  Child window(QS_WINDOW_LIST, {dir / "window", dir / "window.tsv"}, env, dir / "window.log");
  ASSERT_EQ(window.WaitExit(kExitLimit), 0) << window.Log();
  Child service(
      QS_SERVICE,
      {"--config", dir / "service/Quillstamp.ini", "--once", "--list-file", dir / "service.tsv"},
      env, dir / "service.log");
  ASSERT_EQ(service.WaitExit(kExitLimit), 0) << service.Log();

  const std::string list = test::ReadFile(dir / "service.tsv");
  EXPECT_EQ(test::ReadFile(dir / "window.tsv"), list);
  EXPECT_EQ(test::AttributesBelow(windowDemo + "/Shared"),
            test::AttributesBelow(serviceDemo + "/Shared"));
  ASSERT_EQ(list.rfind("Date & Time\tUser\tFile\tWin\tMac\n", 0), 0u) << list;
  // Every comment written counts, also those of events whose rows the list no longer holds.
  EXPECT_NE(service.Log().find(c.counts), std::string::npos) << service.Log();
  if (c.fullList) {
    EXPECT_NE(list.find("\\old-draft.txt\tU\t-\n"), std::string::npos) << list;
    EXPECT_NE(list.find("\\policy.txt\tRO\t-\n"), std::string::npos) << list;
    EXPECT_EQ(list.find("\\Archive\t"), std::string::npos) << list;  // the folder is not listed
    EXPECT_EQ(test::Count(list, "\n"), 12) << list;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SameAsWindow,
    testing::Values(SameCase{"BothKindsWithSeconds",
                             "WinComments=1\nMacComments=1\nTimeSeconds=1\n", "", true,
                             "11 events listed, 18 comments written, 0 failures"},
                    SameCase{"BothKindsGermanDatesShortWinComment",
                             "WinComments=1\nMacComments=1\nMaxWinComments=100\n", "de_DE.UTF-8",
                             true, "11 events listed, 18 comments written, 0 failures"},
                    SameCase{"MacOnlyShortList", "MacComments=1\nMaxSelectedEvents=4\n", "", false,
                             "11 events listed, 9 comments written, 0 failures"},
                    SameCase{"NoComments", "Temporisation=5\n", "", true,
                             "11 events listed, 0 comments written, 0 failures"}),
    [](const testing::TestParamInfo<SameCase>& info) { return std::string(info.param.name); });

// ---- The list file's text ---------------------------------------------------------------------

TEST(ListFileText, CellsThatWouldBreakALineAreShownAsTheirControlPictures) {
  struct Case {
    const char* name;
    std::string file;
    std::string shown;
  };
  const Case cases[] = {
      {"plain", "D:\\Shared\\a.txt", "D:\\Shared\\a.txt"},
      {"utf8", "/srv/\xc3\xa9t\xc3\xa9.txt", "/srv/\xc3\xa9t\xc3\xa9.txt"},
      {"tab", "/srv/a\tb", "/srv/a\u2409b"},
      {"newline", "/srv/a\nb\r", "/srv/a\u240Ab\u240D"},
      {"latin1", "/srv/\xe9t\xe9", "/srv/\uFFFDt\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Settings settings;
    EventList list(settings);
    list.SetUpList(9510);
    list.InsertNewest(EventDateTime{}, "alice", c.file);
    list.SetMark(1, kColWin, "w");
    const std::string text = ListFileText(list);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "Date & Time\tUser\tFile\tWin\tMac\n");
    const std::string row = text.substr(text.find('\n') + 1);
    EXPECT_EQ(row, list.CellText(1, kColDateTime) + "\talice\t" + c.shown + "\tw\t\n");
  }
}

// ---- Exit codes and messages of --once ---------------------------------------------------------

struct OnceCase {
  const char* name;
  std::vector<std::string> args;  // "{config}" stands for the settings file, "{dir}" the folder
  bool writeLog;
  int status;
  std::vector<std::string> messages;
};

void PrintTo(const OnceCase& c, std::ostream* os) { *os << c.name; }

class Once : public testing::TestWithParam<OnceCase> {};

TEST_P(Once, ExitsWithItsCodeAndSaysWhy) {
  const OnceCase& c = GetParam();
  Server server({"a.txt"});
  server.Configure("MacComments=1\n");
  if (c.writeLog) WriteLog(server.log, {{kBase, "alice", "a.txt"}});
  std::vector<std::string> args;
  for (std::string a : c.args) {
    if (a == "{config}") a = server.config;
    if (a == "{dir}") a = server.dir.path().string();
    args.push_back(a);
  }
  Child child(QS_SERVICE, args, server.Environment(), server.out);
  ASSERT_EQ(child.WaitExit(kExitLimit), c.status) << child.Log();
  for (const std::string& m : c.messages) EXPECT_NE(child.Log().find(m), std::string::npos) << m;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Once,
    testing::Values(
        OnceCase{"Done",
                 {"--config", "{config}", "--once"},
                 true,
                 0,
                 {"1 events listed, 1 comments written, 0 failures"}},
        OnceCase{"LogMissing",
                 {"--config", "{config}", "--once"},
                 false,
                 1,
                 {"Error. Unable to open Log: Security", "No such file or directory"}},
        OnceCase{"UnknownArgument",
                 {"--config", "{config}", "--twice"},
                 true,
                 2,
                 {"unknown argument '--twice'", "Usage:"}},
        OnceCase{
            "ConfigWithoutFile", {"--once", "--config"}, true, 2, {"--config needs a file name"}},
        OnceCase{"ConfigIsAFolder",
                 {"--config", "{dir}", "--once"},
                 true,
                 2,
                 {"Settings error", "cannot be read"}}),
    [](const testing::TestParamInfo<OnceCase>& info) { return std::string(info.param.name); });

TEST(Logging, LinesCarryATimeStampUnlessTheJournalTakesThem) {
  for (const bool journal : {false, true}) {
    SCOPED_TRACE(journal ? "journal" : "plain stderr");
    Server server({"a.txt"});
    server.Configure("MacComments=1\n");
    WriteLog(server.log, {{kBase, "alice", "a.txt"}});
    auto env = server.Environment();
    env["JOURNAL_STREAM"] = journal ? "8:12345" : "";
    Child child(QS_SERVICE, {"--config", server.config, "--once", "--verbose"}, env, server.out);
    ASSERT_EQ(child.WaitExit(kExitLimit), 0) << child.Log();
    const std::string log = child.Log();
    if (journal) {
      EXPECT_EQ(log.rfind("Quillstamp 1.0b service: ", 0), 0u) << log;
      EXPECT_NE(log.find("\nPass: "), std::string::npos) << log;
    } else {
      EXPECT_TRUE(log.size() > 20 && log[4] == '-' && log[13] == ':' && log[19] == ' ') << log;
      EXPECT_NE(log.find(" Pass: "), std::string::npos) << log;
    }
    // --verbose: one line for the listed event.
    EXPECT_EQ(test::Count(log, "Event: "), 1) << log;
    EXPECT_NE(log.find("\talice\tD:\\Shared\\a.txt\t\tM\n"), std::string::npos) << log;
  }
}

// ---- Faults ------------------------------------------------------------------------------------

TEST(Faults, StopInTheMiddleOfALongPassEndsAfterTheRecordInHand) {
  std::vector<std::string> files;
  for (int i = 0; i < 20; ++i) files.push_back("f" + std::to_string(i) + ".txt");
  Server server(files);
  server.Configure("WinComments=1\nMacComments=1\nTimeSeconds=1\nTemporisation=1\n");
  constexpr int kRecords = 100000;
  std::vector<Write> writes;
  const char* users[] = {"alice", "bob", "carol"};
  for (int i = 0; i < kRecords; ++i)
    writes.push_back({kBase + static_cast<std::uint32_t>(i), users[i % 3], files[i % 20]});
  WriteLog(server.log, writes);

  auto child = server.Start();
  // The pass has begun once the first file carries a comment.
  ASSERT_TRUE(WaitUntil([&] {
    return !Attribute(server.shared + "/f0.txt", "user.xdg.comment").empty();
  })) << child->Log();
  child->Signal(SIGTERM);
  ASSERT_EQ(child->WaitExit(std::chrono::seconds(20)), 0) << child->Log();

  const std::string log = child->Log();
  const std::size_t pass = log.find("Pass: ");
  ASSERT_NE(pass, std::string::npos) << log;
  const int read = std::stoi(log.substr(pass + 6));
  EXPECT_LT(read, kRecords) << log;
  EXPECT_NE(log.find("(stopped)"), std::string::npos) << log;
  EXPECT_EQ(test::Count(log, "Pass: "), 1) << log;  // no pass after the stop
  EXPECT_NE(log.find("Stopped"), std::string::npos) << log;

  // The last event taken was finished: its row has both marks and its file holds its line.
  const std::string list = server.List();
  const std::size_t row1 = list.find('\n') + 1;
  std::vector<std::string> cells;
  for (std::size_t at = row1, end; (end = list.find_first_of("\t\n", at)) != std::string::npos;
       at = end + 1) {
    cells.push_back(list.substr(at, end - at));
    if (list[end] == '\n') break;
  }
  ASSERT_EQ(cells.size(), 5u) << list;
  EXPECT_TRUE(cells[3] == "w" || cells[3] == "W") << list;
  EXPECT_TRUE(cells[4] == "m" || cells[4] == "M") << list;
  const std::string file = server.shared + "/" + cells[2].substr(cells[2].rfind('\\') + 1);
  EXPECT_EQ(Attribute(file, "user.xdg.comment").rfind(cells[0] + " " + cells[1] + "\r\n", 0), 0u);
}

TEST(Faults, ReloadRereadsTheSettingsAtTheNextPassAndNeverWritesThem) {
  Server server({"a.txt", "b.txt"});
  server.Configure("Temporisation=1\n");
  const std::string before = test::ReadFile(server.config);
  WriteLog(server.log, {{kBase, "alice", "a.txt"}});
  auto child = server.Start();
  ASSERT_TRUE(WaitUntil([&] { return server.List().find("\\a.txt\t\t\n") != std::string::npos; }))
      << child->Log();

  server.Configure("Temporisation=1\nWinComments=1\nMacComments=1\n");
  const std::string changed = test::ReadFile(server.config);
  child->Signal(SIGHUP);
  ASSERT_TRUE(WaitUntil([&] {
    return child->Log().find("Settings read again") != std::string::npos;
  })) << child->Log();
  WriteLog(server.log, {{kBase, "alice", "a.txt"}, {kBase + 60, "bob", "b.txt"}});
  ASSERT_TRUE(WaitUntil([&] { return server.List().find("\\b.txt\tW\tM\n") != std::string::npos; }))
      << server.List() << child->Log();
  // The event listed while both kinds were off keeps its empty marks: nothing failed there.
  EXPECT_NE(server.List().find("\\a.txt\t\t\n"), std::string::npos) << server.List();
  EXPECT_NE(Attribute(server.shared + "/b.txt", "user.xdg.comment"), "");
  EXPECT_EQ(Attribute(server.shared + "/a.txt", "user.xdg.comment"), "");

  child->Signal(SIGTERM);
  ASSERT_EQ(child->WaitExit(kExitLimit), 0) << child->Log();
  EXPECT_NE(before, changed);
  EXPECT_EQ(test::ReadFile(server.config), changed);  // never written
}

TEST(Faults, AReloadThatCannotReadTheSettingsKeepsThoseInUse) {
  Server server({"a.txt", "b.txt"});
  server.Configure("Temporisation=1\nMacComments=1\n");
  WriteLog(server.log, {{kBase, "alice", "a.txt"}});
  auto child = server.Start();
  ASSERT_TRUE(WaitUntil([&] { return server.List().find("\\a.txt\t\tM\n") != std::string::npos; }))
      << child->Log();
  fs::remove(server.config);
  fs::create_directory(server.config);  // there, but no file to read
  child->Signal(SIGHUP);
  ASSERT_TRUE(WaitUntil([&] {
    return child->Log().find(
               "cannot be read (is not a regular file): the settings in use are kept") !=
           std::string::npos;
  })) << child->Log();
  WriteLog(server.log, {{kBase, "alice", "a.txt"}, {kBase + 60, "bob", "b.txt"}});
  // MacComments is still on.
  ASSERT_TRUE(WaitUntil([&] { return server.List().find("\\b.txt\t\tM\n") != std::string::npos; }))
      << child->Log();
  child->Signal(SIGTERM);
  ASSERT_EQ(child->WaitExit(kExitLimit), 0) << child->Log();
  EXPECT_EQ(child->Log().find("Settings read again"), std::string::npos) << child->Log();
}

struct SettingsFault {
  const char* name;
  std::string content;  // empty: no settings file at all
  std::vector<std::string> messages;
  bool namesLog;  // the settings name this test's log; else the system's audit log, maybe absent
};
void PrintTo(const SettingsFault& c, std::ostream* os) { *os << c.name; }

class BadSettings : public testing::TestWithParam<SettingsFault> {};

TEST_P(BadSettings, TheDefaultsAreUsedAndTheReasonLogged) {
  const SettingsFault& c = GetParam();
  Server server({"a.txt"});
  WriteLog(server.log, {{kBase, "alice", "a.txt"}});
  std::string content = c.content;
  const std::string marker = "{log}";
  if (const std::size_t at = content.find(marker); at != std::string::npos)
    content.replace(at, marker.size(), server.log);
  if (!content.empty()) test::WriteFile(server.config, content);
  Child child(QS_SERVICE, {"--config", server.config, "--once"}, server.Environment(), server.out);
  const std::optional<int> status = child.WaitExit(std::chrono::seconds(120));
  ASSERT_TRUE(status.has_value()) << child.Log();
  EXPECT_TRUE(*status == 0 || (*status == 1 && !c.namesLog)) << child.Log();
  for (const std::string& m : c.messages) EXPECT_NE(child.Log().find(m), std::string::npos) << m;
  // The defaults: every comment kind off, so nothing is stamped.
  EXPECT_EQ(Attribute(server.shared + "/a.txt", "user.xdg.comment"), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadSettings,
    testing::Values(
        SettingsFault{"Missing",
                      "",
                      {"not found: the defaults are used", "Security log /var/log/audit/audit.log",
                       "Temporisation=10 WinComments=0 MacComments=0"},
                      false},
        SettingsFault{"Garbage",
                      std::string("\x7f"
                                  "ELF\x02\x01\x01\0\0\0[\xff\xfe=\x01\n\x80\x81",
                                  18),
                      {"has no [Configuration] keys: the defaults are used"},
                      false},
        SettingsFault{"BadValues",
                      "[Configuration]\nTemporisation=abc\nMacComments=yes\nMaxSelectedEvents=0\n"
                      "Colour=blue\n[Platform]\nSecurityLog={log}\n",
                      {"Temporisation=abc does not read as a number other than 0: 10 is used",
                       "MacComments=yes reads as neither 1 nor 0: it is off",
                       "MaxSelectedEvents=0 does not read as a number other than 0: 500 is used",
                       "the key Colour of [Configuration] is not known",
                       "Temporisation=10 WinComments=0 MacComments=0", "1 events listed"},
                      true}),
    [](const testing::TestParamInfo<SettingsFault>& info) { return std::string(info.param.name); });

TEST(Faults, ALogThatDisappearsIsLoggedOncePerPassAndReadAgainWhenItIsBack) {
  Server server({"a.txt", "b.txt"});
  server.Configure("Temporisation=1\nMacComments=1\n");
  WriteLog(server.log, {{kBase, "alice", "a.txt"}});
  auto child = server.Start();
  ASSERT_TRUE(WaitUntil([&] { return server.List().find("\\a.txt\t\tM\n") != std::string::npos; }))
      << child->Log();
  fs::remove(server.log);
  ASSERT_TRUE(WaitUntil([&] {
    return test::Count(child->Log(), "Error. Unable to open Log: Security") >= 2;
  })) << child->Log();
  EXPECT_NE(child->Log().find(server.log + ": No such file or directory)"), std::string::npos)
      << child->Log();
  WriteLog(server.log, {{kBase, "alice", "a.txt"}, {kBase + 60, "bob", "b.txt"}});
  ASSERT_TRUE(WaitUntil([&] { return server.List().find("\\b.txt\t\tM\n") != std::string::npos; }))
      << child->Log();
  child->Signal(SIGTERM);
  ASSERT_EQ(child->WaitExit(kExitLimit), 0) << child->Log();
  const std::string log = child->Log();
  // Once per pass, never in a loop of its own.
  EXPECT_LE(test::Count(log, "Error. Unable to open Log: Security"), test::Count(log, "Pass: "))
      << log;
  EXPECT_GE(test::Count(log, "Pass: log not read"), 2) << log;
}

TEST(Faults, ASecondInstanceWithTheSameSettingsFileRefusesToStart) {
  Server server({"a.txt"});
  server.Configure("Temporisation=1\nMacComments=1\n");
  WriteLog(server.log, {{kBase, "alice", "a.txt"}});
  auto first = server.Start();
  ASSERT_TRUE(WaitUntil([&] { return first->Log().find("Pass: ") != std::string::npos; }))
      << first->Log();

  // The same file under another name meets the same lock.
  const std::string otherName = server.dir / "./Quillstamp.ini";
  Child second(QS_SERVICE, {"--config", otherName, "--once"}, server.Environment(),
               server.dir / "second.log");
  ASSERT_EQ(second.WaitExit(kExitLimit), kExitAlreadyRunning) << second.Log();
  EXPECT_NE(second.Log().find("another instance is already running with the settings file"),
            std::string::npos)
      << second.Log();
  EXPECT_EQ(first->WaitExit(std::chrono::milliseconds(0)), std::nullopt);  // still running

  first->Signal(SIGINT);
  ASSERT_EQ(first->WaitExit(kExitLimit), 0) << first->Log();
  // The lock went with the first instance.
  Child third(QS_SERVICE, {"--config", otherName, "--once"}, server.Environment(),
              server.dir / "third.log");
  EXPECT_EQ(third.WaitExit(kExitLimit), 0) << third.Log();
}

TEST(Faults, AListFileThatCannotBeWrittenIsLoggedAndTheAnalysisGoesOn) {
  Server server({"a.txt", "b.txt"});
  server.Configure("Temporisation=1\nMacComments=1\n");
  WriteLog(server.log, {{kBase, "alice", "a.txt"}});
  // Not a folder: no account can make a file in it, root included.
  test::WriteFile(server.dir / "not-a-folder", "");
  Child child(QS_SERVICE,
              {"--config", server.config, "--list-file", server.dir / "not-a-folder/list.tsv"},
              server.Environment(), server.out);
  ASSERT_TRUE(WaitUntil([&] {
    return child.Log().find("List file not written") != std::string::npos;
  })) << child.Log();
  EXPECT_NE(Attribute(server.shared + "/a.txt", "user.DosStream.Comments:$DATA"), "");
  // The next passes go on: a new event is stamped.
  WriteLog(server.log, {{kBase, "alice", "a.txt"}, {kBase + 60, "bob", "b.txt"}});
  ASSERT_TRUE(WaitUntil([&] {
    return !Attribute(server.shared + "/b.txt", "user.DosStream.Comments:$DATA").empty();
  })) << child.Log();
  child.Signal(SIGTERM);
  ASSERT_EQ(child.WaitExit(kExitLimit), 0) << child.Log();
  EXPECT_GE(test::Count(child.Log(), "List file not written"), 2) << child.Log();
}

}  // namespace
}  // namespace qs
