// End to end with the kernel's audit subsystem: two users write, append, truncate and save by
// rename in a watched folder; the records read back from auditd's real log are selected with the
// right path and user, and a scan pass puts the comments on the right files. One user's flood of
// appends hides no other user's save in the same second, and root's files that an unprivileged
// user moves (a bare rename, or a rename onto a name the user wrote) get no comment; a written file
// deleted since is listed "U", one made read-only since "RO". quillstamp-service, run as a program
// over the same records, gives the same list and the same comments. Skipped, with
// the reason, where the audit subsystem cannot be used (no permission for the audit netlink socket,
// as in most containers).
//
// The kernel gives a process an audit context only when auditing had been enabled at least once
// before that process was forked. On a kernel that booted without audit=1 this test process may
// have started before its own auditd switched auditing on, so nothing it does itself is ever
// recorded: every action that must show in the log runs in a process forked after auditing is on.
// Every wait is bounded well inside the test's timeout, and whatever an interrupted earlier run
// left behind (its rule, its users, its daemon) is removed first.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "comments/comment_pass.h"
#include "comments/file_comments.h"
#include "platform/path_map.h"
#include "platform/posix/log_source.h"
#include "platform/services.h"
#include "scan/event_list.h"
#include "scan/record_decoder.h"
#include "scan/scan_pass.h"
#include "service/service_driver.h"
#include "support/audit_world.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::Account;
using test::AddUser;
using test::Cleanup;
using test::Clock;
using test::Quote;
using test::Shell;
using test::WaitForText;

// The watch key of this test's rule.
constexpr const char* kRuleKey = test::kAuditE2eKey;

// Runs a shell command in a new process, which gets its own audit context (see above).
void AuditedShell(const std::string& command) {
  const auto r = Shell(command);
  EXPECT_EQ(r.status, 0) << command << ": " << r.output;
}

// Hands on only the events of one folder, so that nothing outside the test is ever stamped.
class OnlyUnder final : public CommentStep {
 public:
  OnlyUnder(CommentStep& step, const CurrentEvent& current, std::string folder)
      : step_(step), current_(current), folder_(std::move(folder)) {}
  void CommentPass() override {
    if (current_.file.starts_with(folder_)) step_.CommentPass();
  }
  void SummaryCheckPass() override { step_.SummaryCheckPass(); }

 private:
  CommentStep& step_;
  const CurrentEvent& current_;
  std::string folder_;
};

// The records of the events that name `folder` (any of their lines does: a path below it, or the
// working folder of a process that named its files relatively), copied from `from` to `to`: a
// log for the service that holds nothing outside the test.
void CopyEventsUnder(const std::string& from, const std::string& folder, const std::string& to) {
  const std::string text = test::ReadFile(from);
  auto idOf = [](const std::string& line) {
    const std::size_t at = line.find("msg=audit(");
    if (at == std::string::npos) return std::string();
    return line.substr(at, line.find(')', at) - at);
  };
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  std::set<std::string> ids;
  for (const std::string& line : lines)
    if (line.find(folder) != std::string::npos && !idOf(line).empty()) ids.insert(idOf(line));
  std::string out;
  for (const std::string& line : lines)
    if (ids.count(idOf(line)) != 0) out += line + "\n";
  test::WriteFile(to, out);
}

constexpr const char* kCommentAttributes[] = {"user.xdg.comment", "user.DosStream.Comments:$DATA"};

// The two comments of every file in `folder`, by file name.
std::map<std::string, std::vector<std::string>> CommentsIn(const std::string& folder) {
  std::map<std::string, std::vector<std::string>> all;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    for (const char* name : kCommentAttributes) {
      char value[4096];
      const ssize_t n = getxattr(entry.path().c_str(), name, value, sizeof value);
      all[entry.path().filename().string()].push_back(
          n < 0 ? std::string() : std::string(value, static_cast<std::size_t>(n)));
    }
  }
  return all;
}

TEST(AuditEndToEnd, WritesOfTwoUsersComeBackWithPathAndUser) {
  const std::string unavailable = test::AuditUnavailableReason();
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  const test::RunLock lock(std::chrono::seconds(120));
  ASSERT_TRUE(lock.held()) << "another run of this test held " << test::RunLock::kPath
                           << " for 120 s";
  test::RemoveLeftovers();

  test::TempDir dir;
  Cleanup cleanup;  // runs before the folder goes
  std::string logFile;
  {
    bool skip = false;
    std::string error;
    if (!test::StartAuditing(dir.path().string(), cleanup, logFile, skip, error)) {
      if (skip) GTEST_SKIP() << error;
      FAIL() << error;
    }
  }

  Account a, b;
  ASSERT_TRUE(AddUser("qsaudit1", a, cleanup));
  ASSERT_TRUE(AddUser("qsaudit2", b, cleanup));

  const std::string share = dir / "share";
  std::filesystem::create_directory(share);
  chmod(dir.path().c_str(), 0755);
  chmod(share.c_str(), 0777);  // a group-writable share: no sticky bit, anyone may rename
  // Root's files, made before the watch: an unprivileged user moves them below.
  test::WriteFile(share + "/policy.txt", "root's policy");
  test::WriteFile(share + "/root-notes.txt", "root's notes");
  chmod((share + "/policy.txt").c_str(), 0644);
  chmod((share + "/root-notes.txt").c_str(), 0644);
  const std::string unwatch = "auditctl -W " + share + " -p wa -k " + kRuleKey;
  {
    std::string error;
    ASSERT_TRUE(test::WatchFolder(share, kRuleKey, logFile, cleanup, error)) << error;
  }

  auto as = [](const Account& who, const std::string& script) {
    const auto r = Shell("runuser -u " + who.name + " -- sh -c " + Quote(script));
    EXPECT_EQ(r.status, 0) << script << ": " << r.output;
  };
  // The scan takes the first event of each second: the actions are a second apart.
  auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1100)); };
  pause();
  as(a, "umask 000; echo one > " + share + "/report.txt");  // write (creates it)
  pause();
  as(b, "echo two >> " + share + "/report.txt");  // append
  pause();
  as(a, "perl -e \"truncate(q{" + share + "/report.txt}, 1) or exit 1\"");  // truncate(2)
  pause();
  // Save through a temporary file, in one process as editors do: the rename stands for the write.
  as(b, "cd " + share +
            " && perl -e \"open(F, q{>}, q{.budget.tmp}) or exit 1; print F q{new}; close F; "
            "rename(q{.budget.tmp}, q{budget.ods}) or exit 1\"");
  pause();
  // A person working through sudo: logged in as qsaudit1 (the login uid), acting as root.
  {
    const auto r =
        Shell("sh -c " + Quote("echo " + std::to_string(a.uid) +
                               " > /proc/self/loginuid && echo s > " + share + "/sudo.txt"));
    EXPECT_EQ(r.status, 0) << r.output;
  }
  pause();
  // A server that switches only its effective ids to the client's (setresuid(-1, uid, -1)),
  // keeping uid 0: the file-system uid names the client.
  {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (setresgid(static_cast<gid_t>(-1), b.gid, static_cast<gid_t>(-1)) != 0 ||
          setresuid(static_cast<uid_t>(-1), b.uid, static_cast<uid_t>(-1)) != 0)
        _exit(2);
      const int fd = open((share + "/served.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (fd < 0 || write(fd, "x", 1) != 1) _exit(3);
      close(fd);
      _exit(0);
    }
    int st = 0;
    waitpid(child, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  pause();
  // A flood: qsaudit1 appends to flood.txt every few milliseconds for 2.5 s, in a process forked
  // now (so audited); qsaudit2 saves twice meanwhile, 0.7 s apart, so that at least one save
  // falls after flood appends of its own second whatever the phase of the clock.
  {
    const pid_t flood = fork();
    ASSERT_GE(flood, 0);
    if (flood == 0) {
      if (setresgid(a.gid, a.gid, a.gid) != 0 || setresuid(a.uid, a.uid, a.uid) != 0) _exit(2);
      const auto end = Clock::now() + std::chrono::milliseconds(2500);
      const std::string file = share + "/flood.txt";
      while (Clock::now() < end) {
        const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
        if (fd < 0 || write(fd, "x", 1) != 1) _exit(3);
        close(fd);
        usleep(4000);
      }
      _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    as(b, "echo saved > " + share + "/saved-1.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    as(b, "echo saved > " + share + "/saved-2.txt");
    int st = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (waitpid(flood, &st, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(flood, SIGKILL);
        waitpid(flood, &st, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "the flood did not run to its end";
  }
  pause();
  // A bare move of root's file by qsaudit1: no content changed, so no comment.
  as(a, "mv " + share + "/policy.txt " + share + "/policy-renamed.txt");
  pause();
  // qsaudit1 writes mine.txt, then moves root's file onto that name: the write is listed, but the
  // file now at the name is not the one written, and root's file gets no comment.
  as(a, "echo mine > " + share + "/mine.txt");
  pause();
  as(a, "mv " + share + "/root-notes.txt " + share + "/mine.txt");
  pause();
  // Two files that qsaudit2 writes and that change before the pass: one is deleted, the other
  // made read-only (by root, once the watch is gone).
  as(b, "echo g > " + share + "/gone.txt");
  pause();
  as(b, "echo f > " + share + "/frozen.txt");
  pause();
  AuditedShell("echo e > " + share + "/zz-end");
  ASSERT_TRUE(WaitForText(logFile, "\"" + share + "/zz-end\""))
      << "the last write of the test did not reach " << logFile << " within 10 s";
  Shell(unwatch);  // the comments below are not audited
  std::filesystem::remove(share + "/gone.txt");
  chmod((share + "/frozen.txt").c_str(), 0444);

  // Every record of the watched folder, each decoded on its own.
  auto log = platform::OpenAuditLog(logFile);
  ASSERT_NE(log, nullptr);
  std::vector<std::pair<std::string, std::string>> seen;  // (file, user), the flood left out
  std::size_t floodRecords = 0;
  std::int32_t floodSecond = -1;  // the second of the latest flood record
  int savesAfterFloodInTheirSecond = 0;
  for (std::size_t i = 0; i < log->RecordCount(); ++i) {
    const auto& record = log->Record(i);
    TakenEvents newest;
    SelectionContext context{"nobody", 0};
    CurrentEvent current;
    const auto outcome = DecodeRecord(record.data(), record.size(), newest, context, current);
    if (outcome != DecodeOutcome::Selected || !current.file.starts_with(share + "/")) continue;
    const std::string name = current.file.substr(share.size() + 1);
    if (name == "probe" && !seen.empty() && seen.back().first == "probe") continue;
    if (name == "flood.txt") {
      EXPECT_EQ(current.user, a.name);
      ++floodRecords;
      floodSecond = newest.NewestEventTime;
      continue;
    }
    if (name.starts_with("saved-") && newest.NewestEventTime == floodSecond)
      ++savesAfterFloodInTheirSecond;
    seen.emplace_back(name, current.user);
  }
  std::printf("  %zu flood records; %d saves after flood records of their second\n", floodRecords,
              savesAfterFloodInTheirSecond);
  EXPECT_GT(floodRecords, 100u);
  ASSERT_GE(savesAfterFloodInTheirSecond, 1)
      << "no save fell after a flood append of its own second: the case was not staged";
  for (const auto& [file, user] : seen)
    std::printf("  record: %s by %s\n", file.c_str(), user.c_str());
  const std::vector<std::pair<std::string, std::string>> want = {
      {"probe", "root"},      {"report.txt", a.name},  {"report.txt", b.name},
      {"report.txt", a.name}, {"budget.ods", b.name},  {"sudo.txt", a.name},
      {"served.txt", b.name}, {"saved-1.txt", b.name}, {"saved-2.txt", b.name},
      {"mine.txt", a.name},   {"gone.txt", b.name},    {"frozen.txt", b.name},
      {"zz-end", "root"},
  };
  EXPECT_EQ(seen, want);  // neither move of root's files is a change

  // quillstamp-service over the same writes, as a program run as root: its list file and the
  // comments it writes must be those of the scan pass below, byte for byte. It reads a copy of
  // the log that holds only the events of the watched folder, so that nothing else is stamped;
  // then its comments are taken off again for the pass.
  const std::string serviceLog = dir / "share-audit.log";
  CopyEventsUnder(logFile, share, serviceLog);
  test::WriteFile(dir / "service.ini",
                  "[Configuration]\nWinComments=1\nMacComments=1\nTimeSeconds=1\nPerformance=1\n"
                  "[Platform]\nSecurityLog=" +
                      serviceLog + "\n");
  const auto service =
      Shell("env LC_ALL=C TZ=UTC0 RUNTIME_DIRECTORY=" + dir.path().string() + " " + QS_SERVICE +
            " --config " + (dir / "service.ini") + " --once --list-file " + (dir / "service.tsv"));
  ASSERT_EQ(service.status, 0) << service.output;
  std::printf("%s", service.output.c_str());
  const auto serviceComments = CommentsIn(share);
  for (const auto& entry : std::filesystem::directory_iterator(share))
    for (const char* name : kCommentAttributes) removexattr(entry.path().c_str(), name);

  // A whole scan pass as the program runs it (as root, whose own events it leaves out), with both
  // comment kinds on. Only files of the watched folder are handed to the comment step.
  Settings settings;
  settings.Performance = 1;
  settings.WinComments = true;
  settings.MacComments = true;
  settings.TimeSeconds = true;
  EventList list(settings);
  ScanState state;
  RunState run;
  run.StopFlag = false;
  SelectionContext selection{"root", 0};
  test::FakeScanView view;  // a window nobody looks at
  view.visible = false;
  platform::PathMap paths;
  platform::PlatformServices services = platform::MakePlatformServices(logFile, paths);
  FileComments writers(list, state.currentEvent, settings, view, paths, *services.streams,
                       services.makeSummary);
  FileCommentStep step(list, state.currentEvent, settings, *services.fileStatus, writers, view);
  OnlyUnder comments(step, state.currentEvent, share + "/");
  ScanContext context{*services.eventLog, list, state, settings, run, selection, view, comments};
  ScanPass(context);
  EXPECT_EQ(view.errors, std::vector<std::string>{}) << "the log could not be opened";
  // The service listed and stamped exactly what the pass did.
  EXPECT_EQ(test::ReadFile(dir / "service.tsv"), ListFileText(list));
  EXPECT_EQ(serviceComments, CommentsIn(share));

  std::vector<std::pair<std::string, std::string>> rows;  // newest first, the flood left out
  std::vector<std::string> floodRows;                     // their date texts
  for (int row = 1; row <= list.EventCount(); ++row) {
    const std::string& file = list.CellText(row, kColFile);
    if (!file.starts_with(share + "/")) continue;
    const std::string name = file.substr(share.size() + 1);
    std::printf("  row: %s by %s, Win %s, Mac %s\n", file.c_str(),
                list.CellText(row, kColUser).c_str(), list.CellText(row, kColWin).c_str(),
                list.CellText(row, kColMac).c_str());
    if (name == "mine.txt" || name == "gone.txt") {
      // Root's file has taken the name the user wrote; the other file is gone.
      EXPECT_EQ(list.CellText(row, kColWin), "U");
      EXPECT_EQ(list.CellText(row, kColMac), "-");
    } else if (name == "frozen.txt") {
      EXPECT_EQ(list.CellText(row, kColWin), "RO");
      EXPECT_EQ(list.CellText(row, kColMac), "-");
    } else {
      // Written ("w", "m"), or rebuilt from the rows of the file where it had none yet ("W", "M").
      EXPECT_TRUE(list.CellText(row, kColWin) == "w" || list.CellText(row, kColWin) == "W") << file;
      EXPECT_TRUE(list.CellText(row, kColMac) == "m" || list.CellText(row, kColMac) == "M") << file;
    }
    if (name == "flood.txt") {
      EXPECT_EQ(list.CellText(row, kColUser), a.name);
      floodRows.push_back(list.CellText(row, kColDateTime));
      continue;
    }
    rows.emplace_back(name, list.CellText(row, kColUser));
  }
  const std::vector<std::pair<std::string, std::string>> wantRows = {
      {"frozen.txt", b.name},  {"gone.txt", b.name},    {"mine.txt", a.name},
      {"saved-2.txt", b.name}, {"saved-1.txt", b.name}, {"served.txt", b.name},
      {"sudo.txt", a.name},    {"budget.ods", b.name},  {"report.txt", a.name},
      {"report.txt", b.name},  {"report.txt", a.name},
  };
  EXPECT_EQ(rows, wantRows);
  // The flood is one row for each of its seconds, not one for each append.
  EXPECT_FALSE(floodRows.empty());
  EXPECT_LE(floodRows.size(), 5u);
  EXPECT_TRUE(std::adjacent_find(floodRows.begin(), floodRows.end()) == floodRows.end());

  // The comments are on the right files, newest line first.
  auto comment = [](const std::string& file) {
    char value[4096];
    const ssize_t n = getxattr(file.c_str(), "user.xdg.comment", value, sizeof value);
    return n < 0 ? std::string() : std::string(value, static_cast<std::size_t>(n));
  };
  auto usersIn = [](const std::string& text) {
    std::vector<std::string> users;
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find_first_of("\r\n", at);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(at, end - at);
      if (!line.empty()) users.push_back(line.substr(line.rfind(' ') + 1));
      at = text.find_first_not_of("\r\n", end);
      if (at == std::string::npos) break;
    }
    return users;
  };
  EXPECT_EQ(usersIn(comment(share + "/report.txt")),
            (std::vector<std::string>{a.name, b.name, a.name}));
  EXPECT_EQ(usersIn(comment(share + "/budget.ods")), std::vector<std::string>{b.name});
  EXPECT_EQ(usersIn(comment(share + "/sudo.txt")), std::vector<std::string>{a.name});
  EXPECT_EQ(usersIn(comment(share + "/served.txt")), std::vector<std::string>{b.name});
  EXPECT_EQ(usersIn(comment(share + "/saved-1.txt")), std::vector<std::string>{b.name});
  EXPECT_EQ(usersIn(comment(share + "/saved-2.txt")), std::vector<std::string>{b.name});
  EXPECT_EQ(comment(share + "/probe"), "");       // root's own: not stamped
  EXPECT_EQ(comment(share + "/frozen.txt"), "");  // read-only: listed, not stamped
  // Root's files that qsaudit1 moved carry neither comment.
  for (const char* moved : {"/policy-renamed.txt", "/mine.txt"}) {
    SCOPED_TRACE(moved);
    EXPECT_EQ(test::ReadFile(share + moved).rfind("root's", 0), 0u);  // root's file it is
    EXPECT_EQ(comment(share + moved), "");
    char value[16];
    EXPECT_LT(
        getxattr((share + moved).c_str(), "user.DosStream.Comments:$DATA", value, sizeof value), 0);
  }
}

}  // namespace
}  // namespace qs
