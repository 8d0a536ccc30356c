// Forged history, against the kernel's real audit subsystem and real users: a local user "mal"
// tries to get his name into the comments of a file of "vic" that he cannot write.
// - Through a rename: he writes a name once, moves vic's file onto that name and back, in one
//   process, in a folder where he may rename vic's files (no sticky bit; a sticky folder he owns).
// - Through a race: his own file, written and listed, is exchanged with vic's (renameat2
//   RENAME_EXCHANGE) over and over while quillstamp-service stamps his file, pass after pass.
// Vic's file must never gain a line. Skipped, with the reason, where the audit subsystem cannot
// be used. Every wait is bounded, and the users, the rule and the daemon go however it ends.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "support/audit_world.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kForgeryKey = "quillstamp-forgery-e2e";

// Both comments of the file at `path`, as they are stored (empty when it has none).
std::string Comments(const std::string& path) {
  std::string all;
  for (const char* name : {"user.xdg.comment", "user.DosStream.Comments:$DATA"}) {
    char value[4096];
    const ssize_t n = lgetxattr(path.c_str(), name, value, sizeof value);
    if (n > 0) all.append(value, static_cast<std::size_t>(n));
  }
  return all;
}

// The comments as text: the Macintosh comment is UTF-16; its zero bytes are dropped, so that a
// user's name reads the same in both.
std::string Readable(std::string comments) {
  std::erase(comments, '\0');
  return comments;
}

class ForgeryEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string unavailable = AuditUnavailableReason();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    if (access("/usr/bin/perl", X_OK) != 0) GTEST_SKIP() << "perl is not installed";
    lock_.emplace(std::chrono::seconds(120));
    ASSERT_TRUE(lock_->held()) << "another run held " << RunLock::kPath << " for 120 s";
    RemoveLeftovers();
    bool skip = false;
    std::string error;
    if (!StartAuditing(dir.path().string(), cleanup, logFile, skip, error)) {
      if (skip) GTEST_SKIP() << error;
      FAIL() << error;
    }
    chmod(dir.path().c_str(), 0755);
    ASSERT_TRUE(AddUser("qsmal", mal, cleanup));
    ASSERT_TRUE(AddUser("qsvic", vic, cleanup));
  }

  // A folder below the test's, watched, owned by `owner` with `mode`.
  std::string WatchedFolder(const std::string& name, const Account& owner, mode_t mode) {
    const std::string folder = dir / name;
    fs::create_directory(folder);
    chown(folder.c_str(), owner.uid, owner.gid);
    chmod(folder.c_str(), mode);
    std::string error;
    EXPECT_TRUE(WatchFolder(folder, kForgeryKey, logFile, cleanup, error, "probe")) << error;
    return folder;
  }

  // Vic's file, which mal cannot write: made by root (whose writes are never listed) and given
  // to vic.
  std::string VictimsFile(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name;
    WriteFile(path, "vic's report\n");
    chown(path.c_str(), vic.uid, vic.gid);
    chmod(path.c_str(), 0644);
    return path;
  }

  // The test's events so far, as the service reads them.
  void TakeEvents(const std::string& folder) {
    WriteFile(dir / "events.log", EventsWithKey(ReadFile(logFile), kForgeryKey, folder));
  }

  // quillstamp-service --once over the events taken, both comments on.
  ShellResult RunService(const std::string& folder) {
    WriteFile(dir / "service.ini",
              "[Configuration]\nWinComments=1\nMacComments=1\nTimeSeconds=1\nPerformance=1\n"
              "[Platform]\nSecurityLog=" +
                  dir / "events.log" + "\nAuditedFolders=" + folder + "\n");
    return Shell("timeout 60 env LC_ALL=C TZ=UTC0 RUNTIME_DIRECTORY=" + dir.path().string() + " " +
                 QS_SERVICE + " --once --config " + dir / "service.ini" + " --list-file " +
                 dir / "list.tsv");
  }

  TempDir dir;
  std::optional<RunLock> lock_;
  Cleanup cleanup;  // before the folder goes
  std::string logFile;
  Account mal, vic;
};

// Mal writes .qs-tmp, moves vic's report.txt onto it and back, all in one process, a second
// apart: the moves stand for no save of his, since the file moved is not the file he wrote.
TEST_F(ForgeryEndToEnd, ARenameThroughAWrittenNameStampsNothingOnAnotherUsersFile) {
  const struct {
    const char* what;
    bool malOwns;
    mode_t mode;
  } folders[] = {{"shared, no sticky bit", false, 0777}, {"sticky, owned by mal", true, 01777}};
  for (const auto& f : folders) {
    SCOPED_TRACE(f.what);
    const std::string folder = WatchedFolder(f.malOwns ? "mals" : "shared",
                                             f.malOwns ? mal : Account{"root", 0, 0}, f.mode);
    const std::string report = VictimsFile(folder, "report.txt");
    const auto moved = Shell(
        "cd " + Quote(folder) + " && timeout 30 runuser -u " + mal.name +
        " -- perl -e 'open(my $f, \">\", \".qs-tmp\") or die; print $f \"x\"; close $f; sleep 1; "
        "rename(\"report.txt\", \".qs-tmp\") or die \"to: $!\"; sleep 1; "
        "rename(\".qs-tmp\", \"report.txt\") or die \"back: $!\";'");
    ASSERT_EQ(moved.status, 0) << moved.output;
    ASSERT_TRUE(WaitForText(logFile, "report.txt")) << "the renames did not reach the log";
    TakeEvents(folder);
    const auto run = RunService(folder);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(Readable(Comments(report)).find(mal.name), std::string::npos)
        << Readable(Comments(report)) << "\n"
        << run.output;
    EXPECT_EQ(ReadFile(dir / "list.tsv").find(folder + "/report.txt\t"), std::string::npos)
        << ReadFile(dir / "list.tsv");
  }
}

// Mal's own file, written and listed, trades places with vic's file as fast as the kernel lets
// him while the service stamps mal's save, pass after pass: whatever the path holds when a comment
// service opens it, only mal's file may take his line.
TEST_F(ForgeryEndToEnd, AFileExchangedWithAnotherUsersFileDuringThePassesNeverStampsIt) {
  const std::string folder = WatchedFolder("mals", mal, 0755);
  const std::string victim = VictimsFile(folder, "victim.txt");
  const auto wrote =
      Shell("timeout 30 runuser -u " + mal.name + " -- sh -c 'echo mine > " + folder + "/mal.txt'");
  ASSERT_EQ(wrote.status, 0) << wrote.output;
  ASSERT_TRUE(WaitForText(logFile, "mal.txt")) << "the write did not reach the log";
  TakeEvents(folder);
  // The exchanges go unaudited, so that nothing slows them: the path then names either file at
  // any moment.
  Shell("auditctl -W " + folder + " -p wa -k " + kForgeryKey);
  struct stat st {};
  ASSERT_EQ(stat(victim.c_str(), &st), 0);
  const ino_t victimInode = st.st_ino;

  // The exchanges, as mal, for a bounded time; ended however the test ends.
  const pid_t swapper = fork();
  ASSERT_GE(swapper, 0);
  if (swapper == 0) {
    if (setgid(mal.gid) != 0 || setuid(mal.uid) != 0) _exit(2);
    const std::string a = folder + "/mal.txt", b = folder + "/victim.txt";
    const auto end = Clock::now() + std::chrono::seconds(20);
    long exchanged = 0;
    while (Clock::now() < end)
      if (syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(),
                  2 /* RENAME_EXCHANGE */) == 0)
        ++exchanged;
    _exit(exchanged > 0 ? 0 : 3);
  }
  auto reaped = std::make_shared<bool>(false);
  cleanup.Add([swapper, reaped] {
    if (*reaped) return;
    kill(swapper, SIGKILL);
    waitpid(swapper, nullptr, 0);
  });

  // Passes until the exchanges end (each --once pass is one comment pass and its check pass).
  int passes = 0;
  const auto until = Clock::now() + std::chrono::seconds(18);
  while (Clock::now() < until) {
    const auto run = RunService(folder);
    ASSERT_EQ(run.status, 0) << run.output;
    ++passes;
  }
  int status = 0;
  ASSERT_EQ(waitpid(swapper, &status, 0), swapper);
  *reaped = true;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "mal exchanged no file";

  std::printf("  %d passes during mal's exchanges; the audit log has %zu bytes\n", passes,
              static_cast<std::size_t>(fs::file_size(logFile)));

  // Wherever the two files are now, vic's is the one with vic's inode.
  std::string victimNow;
  for (const auto& entry : fs::directory_iterator(folder)) {
    struct stat s {};
    if (lstat(entry.path().c_str(), &s) == 0 && s.st_ino == victimInode)
      victimNow = entry.path().string();
  }
  ASSERT_FALSE(victimNow.empty());
  EXPECT_EQ(Comments(victimNow), "")
      << "after " << passes << " passes: " << Readable(Comments(victimNow));
  // Mal's own file did get his line in some pass: the passes did stamp.
  const std::string malsNow =
      victimNow == folder + "/mal.txt" ? folder + "/victim.txt" : folder + "/mal.txt";
  EXPECT_NE(Readable(Comments(malsNow)).find(mal.name), std::string::npos)
      << "no pass of " << passes << " stamped mal's own file";
}

}  // namespace
}  // namespace qs::test
